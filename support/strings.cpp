// Strings: bounded copy and concatenation, case-folded comparison through
// one table, the two file-name builders, null-tolerant forms of the
// standard string calls, copies bounded by a character count, the growing
// concatenation, trimming, searches and number conversions.
#include "support/nlib.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#define FOLD1(i) ((i) >= 'A' && (i) <= 'Z' ? (i) | 0x20 : (i))
#define FOLD4(i) FOLD1(i), FOLD1(i + 1), FOLD1(i + 2), FOLD1(i + 3)
#define FOLD16(i) FOLD4(i), FOLD4(i + 4), FOLD4(i + 8), FOLD4(i + 12)
#define FOLD64(i) FOLD16(i), FOLD16(i + 16), FOLD16(i + 32), FOLD16(i + 48)
const unsigned char charmap[256] = {FOLD64(0), FOLD64(64), FOLD64(128), FOLD64(192)};

namespace {
const int PATH_SIZE = 512;
}

char *lcpy(char *dst, const char *src, int size)
{
    if (!dst || !src || size < 1)
        return dst;
    size_t n = strnlen(src, size_t(size - 1));
    memmove(dst, src, n);
    dst[n] = '\0';
    return dst;
}

char *lcat(char *dst, const char *src, int size)
{
    if (!dst || !src)
        return dst;
    size_t len = strlen(dst);
    long room = long(size) - long(len) - 1;
    size_t n = room > 0 ? strnlen(src, size_t(room)) : 0;
    memmove(dst + len, src, n);
    dst[len + n] = '\0';
    return dst;
}

int s_stricmp(const char *a, const char *b)
{
    if (!a || !b)
        return 1;
    const unsigned char *x = (const unsigned char *)a, *y = (const unsigned char *)b;
    for (; *x; x++, y++) {
        int d = charmap[*x] - charmap[*y];
        if (d)
            return d;
    }
    return *y ? -1 : 0;
}

int s_strnicmp(const char *a, const char *b, int n)
{
    if (!a || !b)
        return 1;
    if (n == 0)
        return 0;
    const unsigned char *x = (const unsigned char *)a, *y = (const unsigned char *)b;
    for (; *x && *y; x++, y++) {
        int d = charmap[*x] - charmap[*y];
        if ((n > 0 && --n == 0) || d)  // a negative count never runs out
            return d;
    }
    if (!*x && !*y)
        return 0;
    return *x ? 1 : -1;  // the text that goes on sorts after
}

char *s_strlwr(char *s)
{
    if (!s)
        return s;
    for (char *p = s; *p; p++)
        *p = (char)tolower((unsigned char)*p);
    return s;
}

char *s_strchr(const char *s, int c) { return s ? (char *)strchr(s, c) : nullptr; }

unsigned int s_strlen(const char *s) { return s ? (unsigned int)strlen(s) : 0; }

char *valid_file(const char *name)
{
    static char result[PATH_SIZE];
    lcpy(result, name ? name : "", PATH_SIZE);
    for (char *p = result; *p; p++)
        if (*p == '\t' || *p == '\r' || *p == '\n')
            *p = '_';
    return result;
}

// The result is always the first 511 characters of the full join: a
// directory of 511 characters leaves no room for the separator, so the
// result is then the directory alone.
char *attach_path(const char *dir, const char *file)
{
    static char result[PATH_SIZE];
    return oom_guard(
        [&] {
            std::string d(dir ? dir : "", dir ? strnlen(dir, PATH_SIZE - 1) : 0);
            std::string f = (file && *file) ? valid_file(file) : "";
            std::string path = d;
            if (!d.empty() && !f.empty()) {
                if (path.back() == '/' && f[0] == '/')
                    path.pop_back();
                else if (path.back() != '/' && f[0] != '/')
                    path += '/';
                if (f.size() > 1 && f[1] == ':' && f[0] != '/' && path.back() == '/')
                    path.pop_back();
                path += f;
            } else if (!d.empty() && path.back() != '/') {
                path += '/';
            } else if (d.empty()) {
                path = f;
            }
            return lcpy(result, path.c_str(), PATH_SIZE);
        },
        [] { return lcpy(result, "", PATH_SIZE); });
}

// s_strcpy and s_strcat are unbounded like strcpy and strcat: the caller
// guarantees the room. Use lcpy and lcat where it is not known.
char *s_strcpy(char *dst, const char *src)
{
    if (!dst)
        return nullptr;
    if (!src)
        dst[0] = '\0';
    else
        std::strcpy(dst, src);
    return dst;
}

char *s_strcat(char *dst, const char *src)
{
    if (dst && src)
        std::strcat(dst, src);
    return dst;
}

char *ncpy(char *dst, const char *src, int n)
{
    if (!dst)
        return nullptr;
    if (!src) {
        dst[0] = '\0';
        return dst;
    }
    if (n < 0)
        n = 0;
    int k = 0;
    for (; k < n && src[k]; k++)
        dst[k] = src[k];
    dst[k] = '\0';
    dst[n] = '\0';
    return dst + k;
}

char *ncat(char *dst, const char *src, int n)
{
    if (!dst || !src || n < 0)
        return dst;
    int k = (int)std::strlen(dst);
    for (; k < n && *src; k++)
        dst[k] = *src++;
    dst[k] = '\0';
    dst[n] = '\0';
    return dst;
}

char *s_stradd(char *text, const char *add)
{
    if (!add)
        return text;
    size_t had = text ? std::strlen(text) : 0;
    size_t more = std::strlen(add);
    // add may lie inside text (a text appended to itself): keep its offset,
    // since the block may move.
    uintptr_t from = (uintptr_t)add, start = (uintptr_t)text;
    bool inside = text && from >= start && from <= start + had;
    char *grown = (char *)std::realloc(text, had + more + 5);
    if (!grown) {
        emsg("Memory Allocation Error 's_stradd'");
        return text;
    }
    std::memmove(grown + had, inside ? grown + (from - start) : add, more);
    grown[had + more] = '\0';
    return grown;
}

int s_strcmp(const char *a, const char *b)
{
    if (!a || !b)
        return 1;
    if (a[0] != b[0])
        return (signed char)a[0] - (signed char)b[0];
    return std::strcmp(a, b);
}

int s_strncmp(const char *a, const char *b, int n)
{
    if (!a || !b)
        return 1;
    if (n == 0)
        return 0;
    for (; *a && *b; a++, b++) {
        int d = (signed char)*a - (signed char)*b;
        if (--n == 0 || d != 0)
            return d;
    }
    if (*a == *b)
        return 0;
    return *a ? 1 : -1;  // the text that goes on sorts after
}

char *s_strupr(char *s)
{
    for (char *p = s; p && *p; p++)
        *p = (char)std::toupper((unsigned char)*p);
    return s;
}

char *s_strtrm(char *s)
{
    if (!s)
        return nullptr;
    for (size_t end = std::strlen(s); end > 1 && s[end - 1] == ' '; end--)
        s[end - 1] = '\0';
    while (*s == ' ')
        s++;
    return s;
}

char *s_strstr(const char *haystack, const char *needle)
{
    if (!haystack || !needle)
        return nullptr;
    return (char *)std::strstr(haystack, needle);
}

// Escape bytes open and close stretches of multi-byte text, never searched.
char *s_strchr_japan(const char *s, int c)
{
    bool escaped = false;
    for (const char *p = s; p && *p; p++) {
        if (*p == 27)
            escaped = !escaped;
        else if (!escaped && *p == (char)c)
            return (char *)p;
    }
    return nullptr;
}

char *s_stristr(const char *haystack, const char *needle)
{
    if (!haystack || !needle || !needle[0])
        return nullptr;
    for (const char *h = haystack; *h; h++) {
        size_t k = 0;
        while (needle[k] && charmap[(unsigned char)h[k]] == charmap[(unsigned char)needle[k]])
            k++;
        if (!needle[k])
            return (char *)h;
    }
    return nullptr;
}

// Out-of-range numbers saturate at the int limits instead of wrapping.
int s_atoi(const char *text)
{
    if (!text)
        return 0;
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return (int)value;
}

int s_atol(const char *text) { return s_atoi(text); }

double s_atof(const char *text) { return text ? std::strtod(text, nullptr) : 0.0; }

int s_has_letter(const char *text)
{
    for (; text && *text; ++text)
        if (isalpha(static_cast<unsigned char>(*text)))
            return 1;
    return 0;
}
