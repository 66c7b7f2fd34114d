// Mail-style address texts taken apart: list separators, the cleaned
// address, user, host, port and the display name beside the address.
#include "netaddr/net_fns.h"

#include "support/nlib.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace {

const char ESC = 0x1B;
const int PART_SIZE = 512;     // user, host, display name: 511 characters
const int JOINED_SIZE = 1024;  // "user@host:port": 1023 characters
const size_t CLEAN_MAX = 493;  // cleaned address and display name

// Characters that may stand before the user part.
const char ADDR_DELIMS[] = "<>[] \"";
// Characters that may stand before an address word, for the display name.
const char WORD_DELIMS[] = "<>[],\" ";

bool is_one_of(char c, const char *set) { return c && std::strchr(set, c); }

// Characters that end a host name (the terminator included).
bool ends_host(char c) { return !c || is_one_of(c, "<>[] \"#&\\/\r\n"); }

// The '@' that separates user and host: the first, or the second when
// another one follows it ("a@b@c" is user "a@b" at host "c").
const char *address_at(const char *text)
{
    const char *at = text ? std::strchr(text, '@') : nullptr;
    const char *second = at ? std::strchr(at + 1, '@') : nullptr;
    return second ? second : at;
}

// Start of the user part that ends at at: after the nearest delimiter
// before it, past an "&lt;" and then an "&gt;" left by HTML quoting.
const char *user_start(const char *text, const char *at)
{
    const char *start = at;
    while (start > text && !is_one_of(start[-1], ADDR_DELIMS))
        start--;
    if (s_strnicmp(start, "&lt;", 4) == 0)
        start += 4;
    if (s_strnicmp(start, "&gt;", 4) == 0)
        start += 4;
    return start;
}

// The decimal number at the start of text; 0 when there is none or it does
// not fit a signed 32-bit integer.
int leading_number(const char *text)
{
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX)
            return 0;
    }
    return static_cast<int>(value);
}

void trim_blanks(std::string &s)
{
    size_t end = s.find_last_not_of(" \t");
    s.erase(end == std::string::npos ? 0 : end + 1);
    s.erase(0, s.find_first_not_of(" \t"));
}

// The text after the address word that begins before at: past the next
// space and the spaces after it; empty when nothing follows.
std::string after_word(const std::string &s, size_t at)
{
    size_t space = s.find(' ', at);
    size_t tail = space == std::string::npos ? space : s.find_first_not_of(' ', space);
    return tail == std::string::npos ? std::string() : s.substr(tail);
}

// s in buf; null when s is empty.
char *give(char *buf, const std::string &s)
{
    if (s.empty())
        return nullptr;
    return lcpy(buf, s.c_str(), PART_SIZE);
}

}  // namespace

char *net_addr_seperator(char *list)
{
    if (!list)
        return nullptr;
    bool esc = false, quoted = false;
    for (char *p = list; *p; p++) {
        if (*p == ESC) {
            esc = !esc;
        } else if (esc) {
            continue;
        } else if (quoted) {
            if (*p == '\\') {
                if (!*++p)
                    break;
            } else if (*p == '"') {
                quoted = false;
            }
        } else if (*p == '"') {
            quoted = true;
        } else if (*p == ',' || *p == ';') {
            *p = ',';
            return p;
        }
    }
    return nullptr;
}

char *net_remove_qoute(const char *address)
{
    static char clean[PART_SIZE];
    if (!address)
        return nullptr;
    size_t n = 0;
    bool esc = false, bracket = false;
    for (const char *p = address; *p && n < CLEAN_MAX; p++) {
        if (*p == ESC) {
            esc = !esc;
        } else if (esc) {
            continue;
        } else if (*p == '"') {
            p = std::strchr(p + 1, '"');
            if (!p)
                break;
        } else if (*p == '<') {
            n = 0;  // only the text after the last '<' counts
            bracket = true;
        } else if (*p == '>' && bracket) {
            break;
        } else {
            clean[n++] = *p;
        }
    }
    clean[n] = 0;
    return clean;
}

char *net_user_only(const char *address)
{
    static char user[PART_SIZE];
    const char *text = net_remove_qoute(address);
    const char *at = address_at(text);
    if (!at)
        return nullptr;
    lcpy(user, user_start(text, at), PART_SIZE);
    if (const char *cut = address_at(user))
        user[cut - user] = 0;
    return *user ? user : nullptr;
}

char *net_host_only(const char *address)
{
    static char host[PART_SIZE];
    const char *at = address_at(net_remove_qoute(address));
    if (!at)
        return nullptr;
    lcpy(host, at + 1, PART_SIZE);
    char *p = host;
    for (; !ends_host(*p) && *p != ':' && *p != ','; p++)
        if (*p == '_')
            *p = '.';
    *p = 0;
    return *host ? host : nullptr;
}

int net_port_only(const char *address)
{
    const char *text = net_remove_qoute(address);
    if (!text)
        return 0;
    const char *at = address_at(text);
    for (const char *p = at ? at + 1 : text; !ends_host(*p); p++)
        if (*p == ':')
            return leading_number(p + 1);
    return 0;
}

char *net_addr_only(const char *address)
{
    static char joined[JOINED_SIZE];
    const char *user = net_user_only(address);
    const char *host = net_host_only(address);
    if (!user || !host)
        return nullptr;
    lprintf(joined, JOINED_SIZE, "%s@%s", user, host);
    return joined;
}

char *net_addr_port(const char *address)
{
    static char joined[JOINED_SIZE];
    const char *user = net_user_only(address);
    const char *host = net_host_only(address);
    if (!user || !host)
        return nullptr;
    int port = net_port_only(address);
    if (port)
        lprintf(joined, JOINED_SIZE, "%s@%s:%d", user, host, port);
    else
        lprintf(joined, JOINED_SIZE, "%s@%s", user, host);
    return joined;
}

namespace {

// The display name or comment beside the address, in extra.
char *find_extra(const char *address)
{
    static char extra[PART_SIZE];
    if (!address)
        return nullptr;
    std::string out;
    size_t at = std::string::npos;
    bool blank_after_at = false, bracket_seen = false;
    int depth = 0;
    const char *p = address;
    while (*p && out.size() < CLEAN_MAX) {
        char c = *p;
        if (c == ESC || c == '"') {  // escape sequences and quoted runs: copied whole
            const char *close = std::strchr(p + 1, c);
            size_t len = close ? close - p + 1 : std::strlen(p);
            out.append(p, std::min(len, CLEAN_MAX - out.size()));
            p += len;
            continue;
        }
        p++;
        if (c == '<') {
            depth++;
            bracket_seen = true;
        } else if (depth) {
            if (c == '>')
                depth--;
        } else {
            if (c == '@' && (at == std::string::npos || !blank_after_at)) {
                at = out.size();
                blank_after_at = false;
            } else if (c == ' ' || c == '\t') {
                blank_after_at = true;
            }
            out += c;
        }
    }
    if (!bracket_seen) {  // cut the address word out of "name addr comment"
        if (at == std::string::npos)
            return nullptr;
        std::string tail = after_word(out, at);
        size_t start = at;
        while (start > 0 && !is_one_of(out[start - 1], WORD_DELIMS))
            start--;
        out.resize(start);
        out += tail;
    }
    trim_blanks(out);
    if (out.size() >= 2 && out.front() == '"' && out.back() == '"')
        out = out.substr(1, out.size() - 2);
    return give(extra, out);
}

// The earlier form of the same.
char *find_extra_old(const char *address)
{
    static char extra[PART_SIZE];
    if (!address)
        return nullptr;
    const char *text = address + std::strspn(address, " ");
    std::string out;
    if (const char *at = address_at(text)) {
        const char *start = at;
        while (start > text && !is_one_of(start[-1], WORD_DELIMS))
            start--;
        const char *end = start > text ? start - 1 : text;  // the delimiter
        while (end > text && end[-1] == ' ')
            end--;
        out.assign(text, end);
        std::string tail = after_word(text, at - text);
        if (!out.empty() && !tail.empty())
            out += ' ';
        out += tail;
        out.erase(out.find_last_not_of(" \t\")") + 1);
        if (!out.empty() && (out[0] == '"' || out[0] == '('))
            out.erase(0, 1);
    }
    return give(extra, out.empty() ? std::string(text) : out);
}

}  // namespace

char *net_extra_only(const char *address)
{
    return oom_guard([&] { return find_extra(address); }, []() -> char * { return nullptr; });
}

char *net_extra_only_old(const char *address)
{
    return oom_guard([&] { return find_extra_old(address); }, []() -> char * { return nullptr; });
}
