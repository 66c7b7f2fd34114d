// The DN read in place against the decoder, on arbitrary octets. As one
// message: an entry whose DN ldap_entry_dn reads must decode to an entry of
// that ID and DN, and what it calls junk must be junk to the decoder. As the
// reply stream to a search (message ID 1): listing its DNs must give what
// the same search gives when every entry is decoded, DN for DN, with the
// same result.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/common.h"

namespace {

void check_message(const unsigned char *octets, int count)
{
    int id = 0, length = -1;
    const char *dn = nullptr;
    int read = ldap_entry_dn(octets, count, &id, &dn, &length);
    lresult *controls = nullptr;
    lresult *message = ldap_decode_data(nullptr, octets, count, &controls);
    if (read == 1) {
        if (!message || message == LRESULT_INVALID || message->application != LDAP_SEARCH_ENTRY || message->id != id)
            abort();
        const char *expected = ldap_get_dn(message);
        if ((expected == nullptr) != (dn == nullptr) || (!dn && length != 0)) abort();
        if (dn &&
            (reinterpret_cast<const unsigned char *>(dn) < octets ||
             reinterpret_cast<const unsigned char *>(dn) + length > octets + count ||
             strlen(expected) != static_cast<size_t>(length) || memcmp(expected, dn, static_cast<size_t>(length)) != 0))
            abort();
    } else if (read == -1 ? message != LRESULT_INVALID : read != 0) {
        abort();
    }
    fuzz_release(message);
    fuzz_release(controls);
}

// What a search made of a stream: its DNs ("-" for an entry without one)
// and its result, with the outcome the handle recorded.
struct outcome {
    std::vector<std::string> dns;
    int code = 0;
    std::string error;
};

void keep_dn(void *context, const char *dn, int length)
{
    static_cast<outcome *>(context)->dns.push_back(dn ? std::string(dn, length) : "-");
}

int keep_entry_dn(void *context, lresult *entry)
{
    const char *dn = ldap_get_dn(entry);
    keep_dn(context, dn, dn ? static_cast<int>(strlen(dn)) : 0);
    return 0;
}

// The search over the stream; with listed, through ldap_search_dns on a
// handle without a debug sink, so that entries are read in place.
outcome search(const uint8_t *stream, size_t length, bool listed)
{
    FuzzStream server(stream, length, {});
    ldap_handle handle;
    ldap_init(&handle, fuzz_quiet, listed ? nullptr : fuzz_quiet);
    handle.chan = &server.chan;
    outcome result;
    xmsg_id = 0;
    result.code = listed ? ldap_search_dns(&handle, "o=x", 2, 0, 0, 0, "(cn=*)", 0, keep_dn, &result)
                         : ldap_search_paged(&handle, "o=x", 2, 0, 0, 0, 0, "(cn=*)", "1.1", 0, keep_entry_dn, &result);
    const char *error = ldap_error_str(&handle);
    result.error = error ? error : "";
    handle.chan = nullptr;
    ldap_clear(&handle);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so that any read past the end is caught.
    std::vector<unsigned char> octets(data, data + size);
    check_message(octets.empty() ? nullptr : octets.data(), static_cast<int>(size));

    outcome listed = search(data, size, true), decoded = search(data, size, false);
    if (listed.dns != decoded.dns || listed.code != decoded.code || listed.error != decoded.error) abort();
    return 0;
}
