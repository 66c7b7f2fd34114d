// The coded one-line DN form: coding any DN gives only letters, digits, "@",
// "." and "!" with two upper-case hexadecimal digits, and decoding gives the
// DN back. Decoding arbitrary text must stay inside its buffers.
#include <cstdlib>
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "fuzz/common.h"

namespace {

// The longest DN whose coded form fits the coded-DN buffer.
const size_t round_trip_limit = 2049 / 3;

bool plain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '@' || c == '.';
}

bool upper_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = fuzz_text(data, size);

    std::string coded = code_dn(text.c_str());
    for (size_t i = 0; i < coded.size(); i++) {
        if (plain(coded[i])) continue;
        if (coded[i] != '!' || i + 2 >= coded.size() || !upper_hex(coded[i + 1]) || !upper_hex(coded[i + 2])) abort();
        i += 2;
    }
    if (text.size() <= round_trip_limit) {
        if (coded.size() > 3 * text.size()) abort();
        if (text != uncode_dn(coded.c_str())) abort();
    }

    const char *decoded = uncode_dn(text.c_str());
    if (strlen(decoded) > text.size()) abort();
    return 0;
}
