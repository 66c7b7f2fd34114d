// The coded DN: a one-line form of a DN that SEARCH lists and GET takes
// back. Letters, digits, '@' and '.' stand for themselves; every other byte
// is '!' and two upper-case hexadecimal digits.
#include <string>

#include "addressbook/extern_book.h"

static bool kept_as_is(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '@' || c == '.';
}

// The value of one coded digit: '0'..'9', otherwise its code minus 55 (so
// 'A'..'F' give 10..15).
static int digit_value(unsigned char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c - 55;
}

char *code_dn(const char *dn)
{
    static const char HEX[] = "0123456789ABCDEF";
    static std::string coded;
    coded.clear();
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(dn ? dn : ""); *p; p++) {
        if (kept_as_is(*p)) {
            coded += static_cast<char>(*p);
        } else {
            coded += '!';
            coded += HEX[*p >> 4];
            coded += HEX[*p & 15];
        }
    }
    return coded.data();
}

char *uncode_dn(const char *coded_dn)
{
    static std::string dn;
    dn.clear();
    const unsigned char *p = reinterpret_cast<const unsigned char *>(coded_dn ? coded_dn : "");
    while (*p) {
        // A '!' without two characters after it stands for itself, and so
        // does one that would give a zero byte, which would cut the DN short.
        int byte = 0;
        if (*p == '!' && p[1] && p[2])
            byte = (16 * digit_value(p[1]) + digit_value(p[2])) & 0xFF;
        if (byte) {
            dn += static_cast<char>(byte);
            p += 3;
        } else {
            dn += static_cast<char>(*p++);
        }
    }
    return dn.data();
}
