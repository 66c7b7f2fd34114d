#include "common/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A socket for host and port, and their address for bind or connect.
int open_socket(const std::string &host, int port, sockaddr_storage *addr, socklen_t *len)
{
    *addr = {};
    auto *v4 = reinterpret_cast<sockaddr_in *>(addr);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(addr);
    bool ipv6 = host.find(':') != std::string::npos;
    addr->ss_family = ipv6 ? AF_INET6 : AF_INET;
    (ipv6 ? v6->sin6_port : v4->sin_port) = htons(static_cast<uint16_t>(port));
    *len = ipv6 ? sizeof *v6 : sizeof *v4;
    if (inet_pton(addr->ss_family, host.c_str(),
                  ipv6 ? static_cast<void *>(&v6->sin6_addr) : &v4->sin_addr) != 1)
        return -1;
    return socket(addr->ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

}  // namespace

int loopback_listen(const std::string &host, int *port)
{
    sockaddr_storage addr;
    socklen_t len;
    int fd = open_socket(host, *port, &addr, &len);
    auto *sa = reinterpret_cast<sockaddr *>(&addr);
    if (fd >= 0 && bind(fd, sa, len) == 0 && listen(fd, 16) == 0 &&
        getsockname(fd, sa, &len) == 0) {
        *port =
            ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);  // same place in both families
        return fd;
    }
    if (fd >= 0)
        close(fd);
    return -1;
}

int loopback_connect(const std::string &host, int port)
{
    sockaddr_storage addr;
    socklen_t len;
    int fd = open_socket(host, port, &addr, &len);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), len) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool loopback_answers(const std::string &host, int port)
{
    int fd = loopback_connect(host, port);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

int free_port()
{
    int port = 0, fd = loopback_listen("127.0.0.1", &port);
    if (fd >= 0)
        close(fd);
    return fd >= 0 ? port : 0;
}
