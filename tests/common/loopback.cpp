#include "common/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A socket of type bound to host at *port (0: a free one, its number then
// put in *port) and listening when it is a stream, or connected to it; -1
// when that fails.
int inet_socket(const std::string &host, int *port, int type, bool bound)
{
    sockaddr_storage addr{};
    auto *v4 = reinterpret_cast<sockaddr_in *>(&addr);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&addr);
    bool ipv6 = host.find(':') != std::string::npos;
    addr.ss_family = ipv6 ? AF_INET6 : AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(*port));  // where both families keep it
    socklen_t len = ipv6 ? sizeof *v6 : sizeof *v4;
    auto *sa = reinterpret_cast<sockaddr *>(&addr);
    void *ip = ipv6 ? static_cast<void *>(&v6->sin6_addr) : &v4->sin_addr;
    int fd = inet_pton(addr.ss_family, host.c_str(), ip) == 1 ? socket(addr.ss_family, type | SOCK_CLOEXEC, 0) : -1;
    bool ok = fd >= 0 && (bound ? bind(fd, sa, len) == 0 && (type == SOCK_DGRAM || listen(fd, 16) == 0) &&
                                      getsockname(fd, sa, &len) == 0
                                : connect(fd, sa, len) == 0);
    if (ok && bound) *port = ntohs(v4->sin_port);
    if (!ok && fd >= 0) close(fd);
    return ok ? fd : -1;
}

}  // namespace

int loopback_listen(const std::string &host, int *port) { return inet_socket(host, port, SOCK_STREAM, true); }

int loopback_connect(const std::string &host, int port) { return inet_socket(host, &port, SOCK_STREAM, false); }

int loopback_udp(const std::string &host, int port) { return inet_socket(host, &port, SOCK_DGRAM, true); }

bool loopback_answers(const std::string &host, int port)
{
    int fd = loopback_connect(host, port);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

int free_port()
{
    int port = 0, fd = loopback_listen("127.0.0.1", &port);
    if (fd >= 0) close(fd);
    return fd >= 0 ? port : 0;
}

bool write_all(int fd, const std::string &bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool fd_ready(int fd, int timeout_ms, bool writing)
{
    pollfd p{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    return poll(&p, 1, timeout_ms) > 0;
}
