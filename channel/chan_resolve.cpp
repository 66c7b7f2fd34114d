// Host texts turned into the socket addresses to connect to or bind.
#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <memory>
#include <string>

#include "channel/chan_internal.h"

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

}  // namespace

std::vector<chan_address> chan_resolve(const char *host, int port)
{
    std::vector<chan_address> found;
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
    } else if (check_string_digit(host)) {
        // A dotted number in any form inet_addr reads; what it cannot read
        // becomes INADDR_NONE, which no connection reaches.
        sockaddr_in v4;
        memset(&v4, 0, sizeof v4);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = inet_addr(text.c_str());
        found.push_back(with_port(reinterpret_cast<sockaddr *>(&v4), sizeof v4, port));
        return found;
    } else {
        hints.ai_family = AF_UNSPEC;
    }
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

int check_string_digit(const char *text) { return !s_has_letter(text); }
