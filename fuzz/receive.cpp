// The receive path: a reply stream cut into arbitrary pieces reaches
// ldap_receive through a real socket, one piece per read. The first input
// octet gives the number of piece sizes that follow (up to 8, cycled); the
// rest is the stream the server sends before it closes the connection.
#include <cstdlib>
#include <vector>

#include "fuzz/common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    size_t count = data[0] % 9;
    if (size < 1 + count) return 0;
    std::vector<size_t> sizes;
    for (size_t i = 0; i < count; i++) sizes.push_back(1 + data[1 + i] * 16 % 9999);
    const uint8_t *stream = data + 1 + count;
    size_t length = size - 1 - count;

    FuzzStream server(stream, length, sizes);
    ldap_handle handle;
    ldap_init(&handle, fuzz_quiet, fuzz_quiet);
    handle.chan = &server.chan;

    // Every message costs at least two octets, so more calls than that
    // means the receiver is stuck.
    for (size_t calls = 0;; calls++) {
        if (calls > length / 2 + 2) abort();
        lresult *controls = nullptr;
        lresult *message = ldap_receive(&handle, &controls);
        int failed = message && message != LRESULT_INVALID && message->application == -1;
        fuzz_walk(message);
        fuzz_walk_entry(message);
        fuzz_release(message);
        fuzz_release(controls);
        if (handle.rx_len < 0) abort();
        if (failed || !chan_isopen(&server.chan)) break;  // closed by either side
    }
    handle.chan = nullptr;
    ldap_clear(&handle);
    return 0;
}
