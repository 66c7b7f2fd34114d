#include "resolver_spy.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <strings.h>
#include <unistd.h>

resolver_spy spy;

#define NEXT(name) reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

extern "C" int gethostname(char *name, size_t len) noexcept {
    static auto next = NEXT(gethostname);
    spy.hostname_calls++;
    if (spy.hostname.empty() && !spy.hostname_fails) return next(name, len);
    if (spy.hostname_fails || spy.hostname.size() >= len) {
        errno = spy.hostname_fails ? EPERM : ENAMETOOLONG;
        return -1;
    }
    std::strcpy(name, spy.hostname.c_str());
    return 0;
}

extern "C" int getaddrinfo(const char *name, const char *service, const addrinfo *hints, addrinfo **result) {
    static auto next = NEXT(getaddrinfo);
    spy.lookups++;
    size_t n = name ? std::strlen(name) : 0;
    if (spy.offline || (n >= 8 && strcasecmp(name + n - 8, ".invalid") == 0)) return EAI_NONAME;
    return next(name, service, hints, result);
}

extern "C" int getnameinfo(const sockaddr *address, socklen_t size, char *host, socklen_t host_size,
                           char *service, socklen_t service_size, int flags) {
    static auto next = NEXT(getnameinfo);
    spy.lookups++;
    if (spy.offline) return EAI_NONAME;
    return next(address, size, host, host_size, service, service_size, flags);
}
