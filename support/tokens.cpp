// Tokenizers: one over a private copy of the text, three that cut the
// caller's text in place and keep their place in the caller's cursor, and
// the extraction of a quoted text.
#include <cstring>

#include "support/nlib.h"

namespace {

// What ends a token: one of a set of characters, or a single character.
// With quotes on, double quotes group text and are never delimiters.
struct token_rules {
    const char *set;
    char single;
    bool quotes;
};

bool is_delimiter(const token_rules &rules, char c)
{
    if (c == '\0' || (rules.quotes && c == '"'))
        return false;
    return rules.set ? std::strchr(rules.set, c) != nullptr : c == rules.single;
}

char *next_token(char *text, char **cursor, const token_rules &rules, bool skip_leading)
{
    char *p = text ? text : cursor ? *cursor : nullptr;
    if (!p)
        return nullptr;
    if (skip_leading) {
        while (is_delimiter(rules, *p))
            p++;
    }
    if (!*p) {
        if (text && cursor)
            *cursor = nullptr;
        return nullptr;
    }

    char *start = p;
    bool quoted = false;
    for (; *p; p++) {
        if (rules.quotes && *p == '"')
            quoted = !quoted;
        else if (!quoted && is_delimiter(rules, *p))
            break;
    }
    char *end = p;
    if (*p) {
        *p = '\0';
        if (cursor)
            *cursor = p + 1;
    } else if (cursor) {
        *cursor = nullptr;
    }
    if (rules.quotes) {
        if (start[0] == '"')
            start++;
        if (end > start && end[-1] == '"')
            end[-1] = '\0';
    }
    return start;
}

}  // namespace

char *s_strtoken(const char *text, const char *delims)
{
    static char buf[1024];
    static char *cursor = nullptr;
    if (text) {
        lcpy(buf, text, sizeof buf);
        cursor = buf;
    }
    if (!delims || !cursor)
        return nullptr;
    char *token = cursor;
    char *hit = std::strpbrk(cursor, delims);
    if (hit) {
        *hit = '\0';
        cursor = hit + 1;
    } else {
        cursor = nullptr;
    }
    return token;
}

char *mystrtok(char *text, const char *delims, char **cursor)
{
    if (!delims)
        return nullptr;
    return next_token(text, cursor, {delims, 0, false}, true);
}

char *myquotetok(char *text, const char *delims, char **cursor)
{
    if (!delims)
        return nullptr;
    return next_token(text, cursor, {delims, 0, true}, true);
}

char *myquotetok_one(char *text, int delim, char **cursor)
{
    if ((char)delim == '\0')
        return nullptr;
    return next_token(text, cursor, {nullptr, (char)delim, true}, false);
}

// The text between the first pair of double quotes; cut at 511 characters.
char *remove_quote(const char *text)
{
    static char buf[512];
    buf[0] = '\0';
    const char *open = text ? std::strchr(text, '"') : nullptr;
    if (open) {
        const char *close = std::strchr(open + 1, '"');
        size_t length = close ? (size_t)(close - open - 1) : std::strlen(open + 1);
        if (length > sizeof buf - 1)
            length = sizeof buf - 1;
        std::memcpy(buf, open + 1, length);
        buf[length] = '\0';
    }
    return buf;
}
