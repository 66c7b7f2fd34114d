// Attribute type descriptions as a hostile server may send them: the input,
// cut at zero octets, is added description by description (each from an
// exact-size copy, so a read past its end is caught); then names taken from
// the input must compare consistently, and their range options read inside
// them.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/common.h"
#include "support/nlib.h"

namespace {

// Up to 8 names to ask about: runs of the input between blanks, quotes,
// parentheses and zeros, and two fixed ones.
std::vector<std::string> probes(const uint8_t *data, size_t size)
{
    std::vector<std::string> names = {"cn", "2.5.4.3"};
    std::string run;
    for (size_t i = 0; i <= size && names.size() < 8; i++) {
        char c = i < size ? static_cast<char>(data[i]) : 0;
        if (c && c != ' ' && c != '\'' && c != '(' && c != ')') {
            run += c;
        } else if (!run.empty()) {
            names.push_back(run);
            run.clear();
        }
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ldap_schema schema;
    ldap_schema_init(&schema);
    int added = 0;
    for (size_t start = 0; start <= size;) {
        size_t end = start;
        while (end < size && data[end] != 0) end++;
        std::vector<char> exact(data + start, data + end);
        int kept = ldap_schema_add(&schema, exact.data(), static_cast<int>(exact.size()));
        if (kept != 0 && kept != -1) abort();
        added++;
        start = end + 1;
    }
    if (schema.types + schema.refused != added || schema.types > 16384) abort();

    std::vector<std::string> names = probes(data, size);
    for (const std::string &a : names) {
        int type = ldap_schema_type(&schema, a.c_str());
        int named = ldap_attr_type_length(a.c_str()) > 0;
        // A range read lies inside the name, begins at its ';' and runs forwards.
        std::vector<char> exact(a.c_str(), a.c_str() + a.size() + 1);
        ldap_range range;
        int read = ldap_attr_range(exact.data(), &range);
        if (read == 1 && (range.at < 0 || range.length < 8 || size_t(range.at) + range.length > a.size() ||
                          a[range.at] != ';' || range.low < 0 || (range.high != -1 && range.high < range.low)))
            abort();
        if (read < -1 || read > 1 || (read != 0) != (s_stristr(a.c_str(), ";range=") != nullptr)) abort();
        if (type >= schema.types || ldap_schema_same(&schema, a.c_str(), a.c_str()) != named) abort();
        for (const std::string &b : names) {
            int same = ldap_schema_same(&schema, a.c_str(), b.c_str());
            if (same != ldap_schema_same(&schema, b.c_str(), a.c_str())) abort();
            if (type >= 0 && type == ldap_schema_type(&schema, b.c_str()) && same != 1) abort();
        }
    }
    ldap_schema_clear(&schema);
    return 0;
}
