// The coded DN: a one-line form of a DN that SEARCH lists and GET takes
// back. Letters, digits, '@' and '.' stand for themselves; every other byte
// is '!' and two upper-case hexadecimal digits.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "addressbook/extern_book.h"

namespace {

bool kept_as_is(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '@' ||
           c == '.';
}

// The value of one coded digit: '0'..'9', otherwise its code minus 55 (so
// 'A'..'F' give 10..15).
int digit_value(unsigned char c) { return c >= '0' && c <= '9' ? c - '0' : c - 55; }

// Every byte's coded form, looked up instead of tested: SEARCH codes the DN
// of each entry it lists. The fourth octet of each is the length of the
// form, so that the four are copied as one word.
struct coding_table {
    unsigned char bytes[256][4];
    coding_table()
    {
        static const char HEX[] = "0123456789ABCDEF";
        for (int c = 0; c < 256; c++) {
            unsigned char *code = bytes[c];
            if (kept_as_is(static_cast<unsigned char>(c))) {
                code[0] = static_cast<unsigned char>(c);
                code[3] = 1;
            } else {
                code[0] = '!';
                code[1] = static_cast<unsigned char>(HEX[c >> 4]);
                code[2] = static_cast<unsigned char>(HEX[c & 15]);
                code[3] = 3;
            }
        }
    }
};

}  // namespace

size_t code_dn_into(char *out, const char *dn, size_t length)
{
    if (!out || !dn)
        return 0;
    static const coding_table table;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(dn);
    char *start = out;
    for (size_t i = 0; i < length; i++) {
        // Four octets always fit: each byte before took at most three, and
        // the room holds one more.
        const unsigned char *code = table.bytes[p[i]];
        memcpy(out, code, 4);
        out += code[3];
    }
    return static_cast<size_t>(out - start);
}

char *code_dn(const char *dn)
{
    static std::vector<char> coded(1);
    const char *text = dn ? dn : "";
    size_t length = strlen(text);
    // The last result handed back lies in the buffer that is about to be
    // written (and perhaps moved): it is coded from a copy.
    std::less_equal<const char *> not_after;
    bool inside = not_after(coded.data(), text) && not_after(text, &coded.back());
    std::string copy;
    bool room = oom_guard(
        [&] {
            if (inside)
                text = copy.assign(text, length).c_str();
            if (coded.size() < 3 * length + 1)
                coded.resize(3 * length + 1);
            return true;
        },
        [] { return false; });
    if (!room)
        return nullptr;
    coded[code_dn_into(coded.data(), text, length)] = 0;
    return coded.data();
}

char *uncode_dn(const char *coded_dn)
{
    static std::string dn;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(coded_dn ? coded_dn : "");
    // The DN is never longer than its coded form: once this room is there,
    // nothing below allocates, and the octets go straight into it.
    bool room = oom_guard(
        [&] {
            dn.resize(strlen(reinterpret_cast<const char *>(p)));
            return true;
        },
        [] { return false; });
    if (!room)
        return nullptr;
    char *out = &dn[0];
    while (*p) {
        // A '!' without two characters after it stands for itself, and so
        // does one that would give a zero byte, which would cut the DN short.
        int byte = 0;
        if (*p == '!' && p[1] && p[2])
            byte = (16 * digit_value(p[1]) + digit_value(p[2])) & 0xFF;
        if (byte) {
            *out++ = static_cast<char>(byte);
            p += 3;
        } else {
            *out++ = static_cast<char>(*p++);
        }
    }
    dn.resize(static_cast<size_t>(out - dn.data()));
    return &dn[0];
}
