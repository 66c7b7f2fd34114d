// Opening a channel to a server (with a connect time-out) and closing it.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

int chan_resolve(const char *host, in_addr *addr)
{
    if (check_string_digit(host)) {
        addr->s_addr = inet_addr(host);
        return 1;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return 0;
    *addr = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 1;
}

// Connects the channel's socket; a positive timeout bounds the wait, and
// the socket's pending error decides whether the connection was made.
static int connect_socket(chan_rec *chan, const sockaddr_in *addr, int timeout)
{
    const sockaddr *target = reinterpret_cast<const sockaddr *>(addr);
    if (timeout <= 0)
        return connect(chan->sock, target, sizeof *addr) == 0;
    chan_block(chan, 0);
    if (connect(chan->sock, target, sizeof *addr) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return 0;
        if (chan_check(chan, timeout, 0) <= 0)
            return 0;
        int pending = 0;
        socklen_t size = sizeof pending;
        if (getsockopt(chan->sock, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0)
            return 0;
    }
    return chan_block(chan, 1);
}

int chan_open(chan_rec *chan, const char *host, int port, int timeout)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (chan_isopen(chan))
        return 1;
    if (port == 0) {
        chan_set_error(chan, "Could not open net -- no Port");
        return 0;
    }
    char name[512];
    lprintf(name, 511, "%s", host);
    s_strlwr(name);

    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (!chan_resolve(name, &addr.sin_addr)) {
        chan_set_errorf(chan, "gethostbyname failed. {%s}", name);
        return 0;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !chan_attach(chan, fd)) {
        chan_set_error(chan, "Failed to open socket correctly.");
        return 0;
    }
    if (!connect_socket(chan, &addr, timeout)) {
        chan_close(chan);
        chan_set_error(chan, "Connection to Socket Failed.");
        return 0;
    }
    chan_log("%sConnection Made: %s:%d {%d}%s", "\n", name, port, chan->sock, "\n");
    chan->remoteip = strdup(name);
    return 1;
}

int chan_close(chan_rec *chan)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (!chan_isopen(chan))
        return 0;
    chan_log("Closing Connection: {%d}%s", chan->sock, "\n");
    chan_tls_end(chan);
    if (close(chan->sock) != 0) {
        chan_set_syserror(chan);
        return 0;
    }
    chan->sock = CHAN_NOT_OPEN;
    return 1;
}
