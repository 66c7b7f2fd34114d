// Entries read in place against the decoder, on arbitrary octets. As one
// message: an entry ldap_entry_read reads must decode to an entry of that
// ID, DN and values, and what it calls junk must be junk to the decoder. As
// the reply stream to a search (message ID 1): listing its DNs, or walking
// its entries' values as views, must give what the same search gives when
// every entry is decoded, entry for entry, with the same result.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/common.h"

namespace {

// "type:value|" for each value of the entry, its DN first ("-" for none).
std::string walk(const ldap_entry_view *entry)
{
    int length = 0;
    const char *dn = ldap_view_dn(entry, &length);
    std::string text = dn ? std::string(dn, static_cast<size_t>(length)) : "-";
    auto add = [](void *context, const char *type, const char *value, int size) {
        *static_cast<std::string *>(context) +=
            std::string(type) + ":" + std::string(value, static_cast<size_t>(size)) + "|";
        return 1;
    };
    if (!ldap_view_values(entry, add, &text)) abort();
    return text;
}

void check_message(const unsigned char *octets, int count)
{
    int id = 0;
    ldap_entry_view entry = {nullptr, 0, nullptr};
    int read = ldap_entry_read(octets, count, &id, &entry);
    lresult *controls = nullptr;
    lresult *message = ldap_decode_data(nullptr, octets, count, &controls);
    if (read == 1) {
        if (!message || message == LRESULT_INVALID || message->application != LDAP_SEARCH_ENTRY || message->id != id)
            abort();
        if (entry.octets < octets || entry.length < 0 || entry.octets + entry.length > octets + count) abort();
        ldap_entry_view decoded = {nullptr, 0, message};
        if (walk(&entry) != walk(&decoded)) abort();
    } else if (read == -1 ? message != LRESULT_INVALID : read != 0) {
        abort();
    }
    fuzz_release(message);
    fuzz_release(controls);
}

// What a search made of a stream: its DNs ("-" for an entry without one),
// or its entries walked, and its result, with the outcome the handle
// recorded.
struct outcome {
    std::vector<std::string> entries;
    int code = 0;
    std::string error;
};

void keep_dn(void *context, const char *dn, int length)
{
    static_cast<outcome *>(context)->entries.push_back(dn ? std::string(dn, length) : "-");
}

int keep_view(void *context, const ldap_entry_view *entry)
{
    static_cast<outcome *>(context)->entries.push_back(walk(entry));
    return 0;
}

// The search over the stream, through ldap_search_views or
// ldap_search_dns; in_place on a handle without a debug sink, so that
// entries are read in place, else with one, so that each is decoded.
outcome search(const uint8_t *stream, size_t length, bool views, bool in_place)
{
    FuzzStream server(stream, length, {});
    ldap_handle handle;
    ldap_init(&handle, fuzz_quiet, in_place ? nullptr : fuzz_quiet);
    handle.chan = &server.chan;
    outcome result;
    xmsg_id = 0;
    result.code = views ? ldap_search_views(&handle, "o=x", 2, 0, 0, 0, "(cn=*)", nullptr, 0, keep_view, &result)
                        : ldap_search_dns(&handle, "o=x", 2, 0, 0, 0, "(cn=*)", 0, keep_dn, &result);
    const char *error = ldap_error_str(&handle);
    result.error = error ? error : "";
    handle.chan = nullptr;
    ldap_clear(&handle);
    return result;
}

bool same(const outcome &a, const outcome &b)
{
    return a.entries == b.entries && a.code == b.code && a.error == b.error;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so that any read past the end is caught.
    std::vector<unsigned char> octets(data, data + size);
    check_message(octets.empty() ? nullptr : octets.data(), static_cast<int>(size));

    for (bool views : {false, true})
        if (!same(search(data, size, views, true), search(data, size, views, false))) abort();
    return 0;
}
