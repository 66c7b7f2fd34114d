#include "resolver_spy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

resolver_spy spy;

namespace {

template <class Fn>
Fn real(const char *name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

bool ends_with(const char *s, const char *suffix) {
    size_t n = std::strlen(s), m = std::strlen(suffix);
    return n >= m && strcasecmp(s + n - m, suffix) == 0;
}

}  // namespace

extern "C" int gethostname(char *name, size_t len) noexcept {
    static auto next = real<int (*)(char *, size_t)>("gethostname");
    spy.hostname_calls++;
    if (spy.hostname_fails) {
        errno = EPERM;
        return -1;
    }
    if (spy.hostname.empty()) return next(name, len);
    if (spy.hostname.size() >= len) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(name, spy.hostname.c_str());
    return 0;
}

extern "C" int getaddrinfo(const char *name, const char *service, const addrinfo *hints,
                           addrinfo **result) {
    static auto next = real<int (*)(const char *, const char *, const addrinfo *, addrinfo **)>(
        "getaddrinfo");
    spy.lookups++;
    if (spy.offline || (name && ends_with(name, ".invalid"))) return EAI_NONAME;
    return next(name, service, hints, result);
}

extern "C" int getnameinfo(const sockaddr *address, socklen_t size, char *host,
                           socklen_t host_size, char *service, socklen_t service_size,
                           int flags) {
    static auto next = real<int (*)(const sockaddr *, socklen_t, char *, socklen_t, char *,
                                    socklen_t, int)>("getnameinfo");
    spy.lookups++;
    const auto *sin = reinterpret_cast<const sockaddr_in *>(address);
    bool documentation = address->sa_family == AF_INET &&
                         (ntohl(sin->sin_addr.s_addr) & 0xFFFFFF00u) == 0xC0000200u;
    if (spy.offline || documentation) return EAI_NONAME;
    return next(address, size, host, host_size, service, service_size, flags);
}
