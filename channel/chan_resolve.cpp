// Host texts turned into the socket addresses to connect to or bind.
#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "channel/chan_internal.h"
#include "support/child.h"

namespace {

// The address as one entry of a list, its port set (cut to 16 bits as the
// socket calls take it).
chan_address with_port(const sockaddr *addr, socklen_t size, int port)
{
    chan_address entry;
    memset(&entry, 0, sizeof entry);
    if (size > sizeof entry.addr)
        size = sizeof entry.addr;
    memcpy(&entry.addr, addr, size);
    entry.size = size;
    uint16_t net_port = htons(static_cast<uint16_t>(port));
    if (entry.addr.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&entry.addr)->sin6_port = net_port;
    else
        reinterpret_cast<sockaddr_in *>(&entry.addr)->sin_port = net_port;
    return entry;
}

// The addresses getaddrinfo finds for text, each with port.
std::vector<chan_address> by_name(const std::string &text, const addrinfo &hints, int port)
{
    std::vector<chan_address> found;
    addrinfo *first = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &first) != 0)
        return found;
    // Freed also when a push_back runs out of memory.
    std::unique_ptr<addrinfo, void (*)(addrinfo *)> list(first, freeaddrinfo);
    for (addrinfo *entry = first; entry; entry = entry->ai_next)
        if (entry->ai_family == AF_INET || entry->ai_family == AF_INET6)
            found.push_back(with_port(entry->ai_addr, entry->ai_addrlen, port));
    return found;
}

// by_name within timeout_ms (0: as long as the resolver takes). The
// resolver waits on each name server in turn, and without any bound on one
// that takes the query over TCP after a truncated answer: a bounded look-up
// runs in a child process, which hands the entries back as they lie in
// memory.
std::vector<chan_address> by_name_within(const std::string &text, const addrinfo &hints, int port,
                                         int timeout_ms, int *no_look_up)
{
    if (timeout_ms <= 0)
        return by_name(text, hints, port);
    std::string bytes;
    std::vector<chan_address> found;
    auto look_up = [&] {
        std::vector<chan_address> entries = by_name(text, hints, port);
        return std::string(reinterpret_cast<const char *>(entries.data()),
                           entries.size() * sizeof(chan_address));
    };
    // Nothing found leaves the list empty (and without memory to copy to).
    int ran = child_run(timeout_ms, look_up, &bytes);
    if (ran < 0 && no_look_up)
        *no_look_up = errno;
    if (ran > 0 && bytes.size() >= sizeof(chan_address)) {
        found.resize(bytes.size() / sizeof(chan_address));
        memcpy(static_cast<void *>(found.data()), bytes.data(),
               found.size() * sizeof(chan_address));
    }
    return found;
}

}  // namespace

std::vector<chan_address> chan_resolve(const char *host, int port, int timeout_ms, int *no_look_up)
{
    if (no_look_up)
        *no_look_up = 0;
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    std::string text = host ? host : "";
    if (text.find(':') != std::string::npos) {
        // Only an IPv6 address holds a ':'; it may come in URL brackets.
        if (text.size() > 1 && text.front() == '[' && text.back() == ']')
            text = text.substr(1, text.size() - 2);
        hints.ai_family = AF_INET6;
        hints.ai_flags = AI_NUMERICHOST;
        return by_name(text, hints, port);
    }
    if (check_string_digit(host)) {
        // A dotted number in any form inet_addr reads; what it cannot read
        // becomes INADDR_NONE, which no connection reaches.
        sockaddr_in v4;
        memset(&v4, 0, sizeof v4);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = inet_addr(text.c_str());
        return {with_port(reinterpret_cast<sockaddr *>(&v4), sizeof v4, port)};
    }
    hints.ai_family = AF_UNSPEC;
    return by_name_within(text, hints, port, timeout_ms, no_look_up);
}

void chan_lower_host(char *host)
{
    char *zone = host ? strchr(host, '%') : nullptr;
    if (zone)
        *zone = 0;
    s_strlwr(host);
    if (zone)
        *zone = '%';
}

int check_string_digit(const char *text) { return !s_has_letter(text); }
