// Null-tolerant forms of the standard string calls, copies bounded by a
// character count, the growing concatenation, trimming, searches and number
// conversions.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/nlib.h"

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
    return *a ? -1 : 1;
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

int s_atol(const char *text)
{
    return s_atoi(text);
}

double s_atof(const char *text)
{
    return text ? std::strtod(text, nullptr) : 0.0;
}
