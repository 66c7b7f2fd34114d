// The strict reading of a filter text (RFC 4515), for filters that must mean
// exactly what they say, such as one an administrator configures. The
// compiler makes something of any text; this says whether the text is a
// filter it compiles without guessing.
#include <cctype>

#include "ldap/ldap.h"

namespace {

bool key_char(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '-'; }

bool digit(char c) { return c >= '0' && c <= '9'; }

struct strict_reader {
    const char *at;
    int deepest = 0;

    // A name (a letter, then letters, digits and '-') or a numeric OID.
    bool oid()
    {
        if (isalpha(static_cast<unsigned char>(*at))) {
            while (key_char(*at))
                at++;
            return true;
        }
        int numbers = 0;
        do {
            if (!digit(*at))
                return false;
            while (digit(*at))
                at++;
            numbers++;
        } while (*at == '.' && *++at);
        return numbers > 1;
    }

    // An attribute description: a type and its options.
    bool attribute()
    {
        if (!oid())
            return false;
        while (*at == ';') {
            if (!key_char(*++at))
                return false;
            while (key_char(*at))
                at++;
        }
        return true;
    }

    // A value up to the ')' that ends its item; '*' only where substrings
    // may be, and not in a value of nothing but stars (which would compile
    // to an empty substring) unless it is "*" alone, presence.
    bool value(bool substrings)
    {
        const char *start = at;
        int stars = 0;
        for (; *at && *at != ')'; at++) {
            if (*at == '(' || (*at == '*' && !substrings))
                return false;
            if (*at == '\\' && (hex_value(at[1]) < 0 || hex_value(at[2]) < 0))
                return false;
            stars += *at == '*';
        }
        long length = at - start;
        bool only_stars = length > 1 && stars == length;
        return *at == ')' && !only_stars && (length == 0 || (at[-1] != ' ' && at[-1] != '\t'));
    }

    // [":dn"] [":" rule] ":=" value, after the type when typed.
    bool extensible(bool typed)
    {
        if (s_strnicmp(at, ":dn:", 4) == 0)
            at += 3;
        bool rule = at[0] == ':' && at[1] != '=';
        if (rule) {
            at++;
            if (!oid())
                return false;
        }
        if ((!typed && !rule) || at[0] != ':' || at[1] != '=')
            return false;
        at += 2;
        return value(false);
    }

    bool item()
    {
        if (*at == ':')
            return extensible(false);
        if (!attribute())
            return false;
        if (*at == ':')
            return extensible(true);
        bool equality = *at == '=';
        if (!equality && !((*at == '~' || *at == '>' || *at == '<') && at[1] == '='))
            return false;
        at += equality ? 1 : 2;
        return value(equality);
    }

    // "(" and/or/not with its filters, or an item, ")"; depth is the number
    // of and/or/not around it.
    bool filter(int depth)
    {
        if (*at++ != '(')
            return false;
        char logic = *at;
        if (logic == '&' || logic == '|' || logic == '!') {
            at++;
            if (++depth > LDAP_FILTER_MAX_DEPTH)
                return false;
            if (depth > deepest)
                deepest = depth;
            int count = 0;
            for (; *at == '('; count++)
                if (!filter(depth))
                    return false;
            if (count == 0 || (logic == '!' && count != 1))
                return false;
        } else if (!item()) {
            return false;
        }
        return *at++ == ')';
    }
};

}  // namespace

int ldap_filter_check(const char *text)
{
    if (!text)
        return -1;
    strict_reader reader = {text};
    if (!reader.filter(0) || *reader.at)
        return -1;
    // What was read must also compile to one filter.
    data_buf compiled;
    data_init(&compiled);
    int items = data_cvt_search(&compiled, text, 0);
    bool whole = items == 1 && compiled.length > 0;
    data_clear(&compiled);
    return whole ? reader.deepest : -1;
}
