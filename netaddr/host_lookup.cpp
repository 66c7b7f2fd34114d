// Host names and IPv4 addresses converted both ways through the system's
// resolver, the local host described, and mail addresses compared.
#include "netaddr/net_fns.h"

#include "support/nlib.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <unistd.h>

namespace {

const int TEXT_SIZE = 512;
const int TCP_NAME_SIZE = 200;
const char NONAME[] = "NONAME";

struct addrinfo_free {
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};
using addrinfo_list = std::unique_ptr<addrinfo, addrinfo_free>;

// The IPv4 addresses of name in the resolver's order, the official name in
// the first entry when flags ask for AI_CANONNAME; null when not found.
addrinfo_list resolve(const char *name, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    hints.ai_flags = flags;
    addrinfo *list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0)
        return nullptr;
    return addrinfo_list(list);
}

const unsigned char *ipv4_bytes(const addrinfo *entry)
{
    const sockaddr_in *sin = reinterpret_cast<const sockaddr_in *>(entry->ai_addr);
    return reinterpret_cast<const unsigned char *>(&sin->sin_addr);
}

// The four numbers of a dotted address, each kept as its low 8 bits; false
// when text has fewer than three dots.
bool dotted_bytes(const char *text, unsigned char bytes[4])
{
    for (int i = 0; i < 4; i++) {
        if (i > 0) {
            text = std::strchr(text, '.');
            if (!text)
                return false;
            text++;
        }
        bytes[i] = static_cast<unsigned char>(std::strtol(text, nullptr, 10) & 0xFF);
    }
    return true;
}

// "user@host" of address with its host converted, into out; empty when the
// address has no user or no host.
char *convert_host(char *out, const char *address, char *(*convert)(const char *))
{
    const char *user = net_user_only(address);
    const char *host = net_host_only(address);
    if (!user || !host)
        return lcpy(out, "", TEXT_SIZE);
    lprintf(out, TEXT_SIZE, "%s@%s", user, convert(host));
    return out;
}

// "name:a.b.c.d" of the local host with the last of its addresses, kept in
// cache for the life of the process; official picks the resolver's name over
// the one the host gives itself.
char *local_host(char *cache, bool official)
{
    if (cache[0] && std::strcmp(cache, NONAME) != 0)
        return cache;
    if (gethostname(cache, TEXT_SIZE - 1) != 0) {
        emsg("host_details: gethostname failed returning NONAME\n");
        return lcpy(cache, NONAME, TEXT_SIZE);
    }
    cache[TEXT_SIZE - 1] = 0;
    addrinfo_list host = resolve(cache, official ? AI_CANONNAME : 0);
    if (!host) {
        dmsg("host_details: Error on gethostbyname");
        return cache;
    }
    if (official && host->ai_canonname)
        lcpy(cache, host->ai_canonname, TEXT_SIZE);
    const addrinfo *last = host.get();
    while (last->ai_next)
        last = last->ai_next;
    const unsigned char *b = ipv4_bytes(last);
    char suffix[24];
    lprintf(suffix, sizeof suffix, ":%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return lcat(cache, suffix, TEXT_SIZE);
}

// A part as a string, empty when missing: the parts are never empty texts,
// and each part function reuses its buffer.
std::string text_of(const char *part) { return part ? part : ""; }

}  // namespace

char *convert_ip_to_name(const char *text)
{
    static char name[TEXT_SIZE];
    if (!text)
        text = "";
    lcpy(name, text, TEXT_SIZE);
    unsigned char bytes[4];
    if (s_has_letter(text) || !dotted_bytes(text, bytes))
        return name;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    std::memcpy(&sin.sin_addr, bytes, sizeof bytes);
    char found[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&sin), sizeof sin, found, sizeof found,
                    nullptr, 0, NI_NAMEREQD) == 0)
        lcpy(name, found, TEXT_SIZE);
    return name;
}

char *convert_name_to_ip(const char *name)
{
    static char ip[TEXT_SIZE];
    if (!name)
        name = "";
    addrinfo_list host = !s_has_letter(name) ? nullptr : resolve(name, 0);
    if (!host)
        return lcpy(ip, name, TEXT_SIZE);
    const unsigned char *b = ipv4_bytes(host.get());
    lprintf(ip, TEXT_SIZE, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return ip;
}

char *convert_to_name(const char *address)
{
    static char converted[TEXT_SIZE];
    return convert_host(converted, address, convert_ip_to_name);
}

char *convert_to_ip(const char *address)
{
    static char converted[TEXT_SIZE];
    return convert_host(converted, address, convert_name_to_ip);
}

char *host_details()
{
    static char cache[TEXT_SIZE];
    return local_host(cache, false);
}

char *oldhost_details()
{
    static char cache[TEXT_SIZE];
    return local_host(cache, true);
}

char *tcp_hostname()
{
    static char name[TCP_NAME_SIZE];  // the last 10 bytes stay zero: always terminated
    if (gethostname(name, TCP_NAME_SIZE - 10) != 0)
        std::fputs("tcp: Can't get host name\n", stdout);
    return name;
}

namespace {

// compare_email_addresses without its guard.
int same_mailbox(const char *a, const char *b, int resolve)
{
    std::string user_a = text_of(net_user_only(a));
    std::string user_b = text_of(net_user_only(b));
    if (user_a.empty() || s_stricmp(user_a.c_str(), user_b.c_str()) != 0)
        return 0;
    std::string host_a = text_of(net_host_only(a));
    std::string host_b = text_of(net_host_only(b));
    if (host_a.empty())
        return 0;
    if (s_stricmp(host_a.c_str(), host_b.c_str()) == 0)
        return 1;
    if (!resolve || host_b.empty())
        return 0;
    std::string ip_b = host_b;
    if (s_has_letter(host_b.c_str())) {
        ip_b = convert_name_to_ip(host_b.c_str());
        if (s_strcmp(ip_b.c_str(), host_b.c_str()) == 0)
            return 0;  // not found
    }
    if (!s_has_letter(host_a.c_str()))
        return 0;
    return s_stricmp(convert_name_to_ip(host_a.c_str()), ip_b.c_str()) == 0;
}

}  // namespace

int compare_email_addresses(const char *a, const char *b, int resolve)
{
    return oom_guard([&] { return same_mailbox(a, b, resolve); }, [] { return 0; });
}
