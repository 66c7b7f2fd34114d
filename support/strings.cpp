// Core strings and paths: bounded copy and concatenation, case-folded
// comparison through one table, and the two file-name builders.
#include "support/nlib.h"

#include <cctype>
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
    return *x ? -1 : 1;
}

char *s_strlwr(char *s)
{
    if (!s)
        return s;
    for (char *p = s; *p; p++)
        *p = (char)tolower((unsigned char)*p);
    return s;
}

char *s_strchr(const char *s, int c)
{
    return s ? (char *)strchr(s, c) : nullptr;
}

unsigned int s_strlen(const char *s)
{
    return s ? (unsigned int)strlen(s) : 0;
}

char *valid_file(const char *name)
{
    static char result[PATH_SIZE];
    std::string clean(name ? name : "", name ? strnlen(name, PATH_SIZE - 1) : 0);
    for (char &c : clean)
        if (c == '\t' || c == '\r' || c == '\n')
            c = '_';
    return lcpy(result, clean.c_str(), PATH_SIZE);
}

// The result is always the first 511 characters of the full join: a
// directory of 511 characters leaves no room for the separator, so the
// result is then the directory alone.
char *attach_path(const char *dir, const char *file)
{
    static char result[PATH_SIZE];
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
}
