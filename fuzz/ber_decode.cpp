// The BER decoder on arbitrary octets: one message (with its controls), one
// element of any kind, and the header reader the receiver relies on.
#include <cstdlib>
#include <vector>

#include "fuzz/common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    std::vector<unsigned char> octets(data, data + size);
    const unsigned char *start = octets.empty() ? nullptr : octets.data();
    int count = static_cast<int>(size);

    data_element head = data_break_down_length(start ? start : data, count);
    if (head.length != -2 && static_cast<long>(head.header) + head.length > count) abort();
    if (head.length != -2 && head.content != (start ? start : data) + head.header) abort();

    ldap_handle handle;
    ldap_init(&handle, fuzz_quiet, fuzz_quiet);
    lresult *controls = nullptr;
    lresult *message = ldap_decode_data(&handle, start, count, &controls);
    fuzz_walk(message);
    fuzz_walk_entry(message);
    fuzz_walk(controls);
    fuzz_release(message);
    fuzz_release(controls);

    lresult *element = ldap_decode_data_input(&handle, start, count);
    fuzz_walk(element);
    fuzz_release(element);

    // Without a handle nothing may be reported, and nothing may break.
    fuzz_release(ldap_decode_data(nullptr, start, count, nullptr));
    return 0;
}
