// The SEARCH listing, each DN coded over the one before, against coding
// every DN whole. The input: the range asked for (two octets), then the
// search base and the DNs, each ended by 0xFF; a DN of 0xFE alone is a search
// tried again from its start.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The listing is search.cpp's own: the file is compiled in here, and the
// library's copy of it is then left out of the link.
#include "addressbook/search.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    int from = data[0] % 8, to = data[1] % 8 - 1;
    std::vector<std::string> parts(1);
    for (size_t i = 2; i < size; i++) {
        if (data[i] == 0xFF)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    std::string base = parts[0].c_str();
    listing list(from, to, base.c_str());
    std::string expected;
    int number = 0;
    for (size_t i = 1; i < parts.size(); i++) {
        const std::string &dn = parts[i];
        if (dn == "\xFE") {
            list_dn(&list, nullptr, -1);
            expected.clear();
            number = 0;
            continue;
        }
        list_dn(&list, dn.data(), static_cast<int>(dn.size()));
        if (++number < from || (to >= 1 && number > to)) continue;
        std::vector<char> coded(3 * dn.size() + 1);
        expected += std::string(coded.data(), code_dn_into(coded.data(), dn.data(), dn.size())) + ",\n";
    }
    if (!expected.empty()) expected.resize(expected.size() - 2);
    char *text = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&text, &length);
    if (!out) abort();
    list.write(out);
    fclose(out);
    bool same = std::string(text, length) == expected;
    free(text);
    if (!same || list.broken) abort();
    return 0;
}
