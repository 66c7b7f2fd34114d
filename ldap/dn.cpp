// DN utilities: a syntax check and the first-RDN and parent cutters. They
// work on the text alone.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ldap/ldap.h"

namespace {

// The first comma not escaped by a backslash, or null.
const char *unescaped_comma(const char *dn)
{
    for (const char *p = dn; *p; p++) {
        if (*p == '\\') {
            if (!p[1])
                return nullptr;
            p++;
        } else if (*p == ',') {
            return p;
        }
    }
    return nullptr;
}

char *copy_text(const char *text, size_t len)
{
    char *out = static_cast<char *>(malloc(len + 1));
    if (out) {
        memcpy(out, text, len);
        out[len] = '\0';
    }
    return out;
}

}  // namespace

int dn_check(const char *dn)
{
    if (!dn || !*dn)
        return 18;
    for (const char *p = dn; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c > 0x7E)
            return 18;
    }
    // Escapes are not known here: every comma splits.
    for (const char *part = dn; *part;) {
        const char *comma = strchr(part, ',');
        const char *equals = strchr(part, '=');
        if (!equals || (comma && equals > comma))
            return 18;
        if (!comma)
            return equals[1] ? 0 : 18;
        part = comma + 1;
    }
    return 0;
}

char *dn_to_top(const char *dn)
{
    if (!dn)
        return nullptr;
    const char *comma = unescaped_comma(dn);
    if (!comma)
        return copy_text(dn, strlen(dn));
    size_t len = static_cast<size_t>(comma - dn);
    return copy_text(dn, len > 511 ? 511 : len);
}

char *dn_to_parent(const char *dn)
{
    if (!dn || !*dn)
        return nullptr;
    const char *rest = unescaped_comma(dn);
    if (!rest)
        return nullptr;
    while (*rest == ',' || *rest == ' ' || *rest == '\t')
        rest++;
    return copy_text(rest, strlen(rest));
}
