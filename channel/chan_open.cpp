// Opening a channel to a server: each of its addresses in turn, within a
// connect time-out.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

namespace {

// Connects the channel's socket to addr; a positive wait (microseconds)
// bounds the connection's set-up, and the socket's pending error decides
// whether the connection was made. Without one the connect blocks.
int connect_socket(chan_rec *chan, const chan_address &addr, int64_t wait)
{
    const sockaddr *target = reinterpret_cast<const sockaddr *>(&addr.addr);
    if (wait <= 0)
        return connect(chan->sock, target, addr.size) == 0;
    chan_block(chan, 0);
    if (connect(chan->sock, target, addr.size) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return 0;
        if (chan_check(chan, int(wait / 1000000), int(wait % 1000000)) <= 0)
            return 0;
        int pending = 0;
        socklen_t size = sizeof pending;
        if (getsockopt(chan->sock, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0)
            return 0;
    }
    return chan_block(chan, 1);
}

// Tries each address in turn until one connects. With a deadline
// (monotonic_us; 0 for none), each address gets an equal share of the time
// left, so a silent one cannot use up what the others need; the whole
// attempt ends at the deadline. Returns 1 connected, 0 failed (-1 when no
// socket could be made at all, *no_socket then the errno of the last try).
int connect_any(chan_rec *chan, const std::vector<chan_address> &addresses, int64_t deadline,
                int *no_socket)
{
    int result = -1;
    for (size_t i = 0; i < addresses.size(); i++) {
        int64_t wait = 0;
        if (deadline) {
            int64_t left = deadline - monotonic_us();
            if (left <= 0)
                return 0;
            wait = left / int64_t(addresses.size() - i) + 1;
        }
        int fd = socket(addresses[i].addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || !chan_attach(chan, fd)) {
            *no_socket = errno;
            continue;
        }
        if (connect_socket(chan, addresses[i], wait))
            return 1;
        chan_close(chan);
        result = 0;
    }
    return result;
}

}  // namespace

int chan_open(chan_rec *chan, const char *host, int port, int timeout)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (chan_isopen(chan))
        return 1;
    if (!host) {
        chan_set_error(chan, "Could not open net -- no IP Address");
        return 0;
    }
    if (port == 0) {
        chan_set_error(chan, "Could not open net -- no Port");
        return 0;
    }
    char name[512];
    lprintf(name, 511, "%s", host);
    chan_lower_host(name);
    return oom_guard(
        [&] {
            // The name's look-up and the connection share the time-out.
            const int64_t deadline = timeout > 0 ? monotonic_us() + int64_t(timeout) * 1000000 : 0;
            // Milliseconds beyond an int are longer than any look-up lasts.
            const int timeout_ms =
                timeout > 0 ? int(std::min<int64_t>(int64_t(timeout) * 1000, INT_MAX)) : 0;
            int no_look_up = 0, no_socket = 0;
            std::vector<chan_address> addresses = chan_resolve(name, port, timeout_ms, &no_look_up);
            // A name that could not be looked up is not a name that is unknown.
            if (addresses.empty() && no_look_up) {
                chan_set_errorf(chan, "Could not look up {%s} (%s)", name, strerror(no_look_up));
                return 0;
            }
            if (addresses.empty()) {
                chan_set_errorf(chan, "gethostbyname failed. {%s}", name);
                return 0;
            }
            int connected = connect_any(chan, addresses, deadline, &no_socket);
            if (connected < 0) {
                chan_set_errorf(chan, "Failed to open socket correctly. (%s)", strerror(no_socket));
                return 0;
            }
            if (connected == 0) {
                chan_set_error(chan, "Connection to Socket Failed.");
                return 0;
            }
            chan_log("%sConnection Made: %s:%d {%d}%s", "\n", name, port, chan->sock, "\n");
            chan->remoteip = strdup(name);
            return 1;
        },
        [&] {
            chan_close(chan);
            return chan_no_memory(chan);
        });
}
