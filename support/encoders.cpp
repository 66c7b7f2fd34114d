// Clocks, the "!"-escape token coding, the percent coding of links, the keyed
// byte scrambler and in-place character replacement.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/time.h>

#include "support/nlib.h"

namespace {

const char ESCAPE = 27;

// Bytes escaped by both token encoders although printable.
const char TOKEN_ESCAPED[] = "+<>():;\"&%#?\\/`'@";

// Encodes into a local buffer first: text may be the previous result.
char *bang_encode(const char *text, bool escape_bang_equals)
{
    static const int LIMIT = 1020;
    static char buf[2][1024];
    char out[1024];
    if (!text)
        return nullptr;
    int n = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p && n < LIMIT; p++) {
        bool plain = *p >= 0x21 && *p <= 0x7D && !std::strchr(TOKEN_ESCAPED, *p) &&
                     !(escape_bang_equals && (*p == '=' || *p == '!'));
        if (plain)
            out[n++] = (char)*p;
        else
            n += std::snprintf(out + n, 4, "!%02X", *p);
    }
    out[n] = '\0';
    return (char *)std::memcpy(buf[escape_bang_equals], out, size_t(n) + 1);
}

// Adds (sign 1) or subtracts (sign -1) the repeating key, byte by byte.
char *scramble(char *buf, const char *text, const char *key, int sign)
{
    if (!text || !key)
        return nullptr;
    lcpy(buf, text, 512);
    if (!key[0])
        return buf;
    const char *k = key;
    for (char *p = buf, *end = buf + std::strlen(buf); p < end; p++) {
        *p = (char)(unsigned char)((unsigned char)*p + sign * (unsigned char)*k);
        if (!*++k)
            k = key;
    }
    return buf;
}

bool xhref_escaped(unsigned char c) { return c && std::strchr(" +<>():;\"&%.,'#\n\r\\", c); }

}  // namespace

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

long secs()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return (long)now.tv_sec;
}

int msecs()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return (int)(now.tv_usec / 1000);
}

int64_t monotonic_us()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

char *utoken_encode(const char *text) { return bang_encode(text, false); }

char *not_encode(const char *text) { return bang_encode(text, true); }

char *utoken_decode(const char *text)
{
    static const int LIMIT = 5119;
    static char buf[LIMIT + 1];
    int n = 0;
    for (const char *p = text; p && *p && n < LIMIT; p++) {
        int high, low;
        if (*p == '!' && (high = hex_value(p[1])) >= 0 && (low = hex_value(p[2])) >= 0) {
            buf[n++] = (char)(high * 16 + low);
            p += 2;
        } else {
            buf[n++] = *p;
        }
    }
    buf[n] = '\0';
    return buf;
}

char *pass_user_encrypt(const char *text, const char *key)
{
    static char buf[512];
    return scramble(buf, text, key, 1);
}

char *pass_user_decrypt(const char *text, const char *key)
{
    static char buf[512];
    return scramble(buf, text, key, -1);
}

char *encode_xhref(const char *text)
{
    if (!text)
        return nullptr;
    size_t length = std::strlen(text);
    if (length > (SIZE_MAX - 4) / 3)
        return nullptr;  // the size would wrap round
    size_t limit = 3 * length + 1;
    char *out = (char *)std::malloc(limit + 3);
    if (!out)
        return nullptr;

    // An escape byte starts a stretch of multi-byte text that passes unchanged,
    // taken three bytes at a time, until a group that starts with an escape.
    size_t n = 0;
    bool encoding = true;
    const unsigned char *p = (const unsigned char *)text;
    while (*p && n < limit) {
        if (!encoding) {
            bool back = *p == ESCAPE;
            for (int k = 0; k < 3 && *p; k++)
                out[n++] = (char)*p++;
            encoding = back;
        } else if (*p == ESCAPE) {
            out[n++] = (char)*p++;
            encoding = false;
        } else if (xhref_escaped(*p)) {
            n += (size_t)std::snprintf(out + n, 4, "%%%02X", *p++);
        } else {
            out[n++] = (char)*p++;
        }
    }
    out[n] = '\0';
    return out;
}

void char_replace(char *text, int from, int to)
{
    for (char *p = text; p && *p; p++) {
        if (*p == (char)from)
            *p = (char)to;
    }
}
