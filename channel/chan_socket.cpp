// The descriptor a channel holds: taking it over, its modes, its reads and
// sends beneath both paths, and waiting for it with poll (no descriptor-set
// limit, so any descriptor the record can hold may be waited on).
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "channel/chan_internal.h"

int chan_attach(chan_rec *chan, int fd)
{
    if (fd >= CHAN_NOT_OPEN) {
        close(fd);
        errno = EMFILE;
        return 0;
    }
    chan->sock = static_cast<uint16_t>(fd);
    chan->mode = 0;
    chan->answer_due = 0;
    chan->short_reads = 0;
    free(chan->localip);
    free(chan->remoteip);
    chan->localip = chan->remoteip = nullptr;
    // Bytes an earlier peer sent are not the new peer's.
    free(chan->pending);
    chan->pending = nullptr;
    chan->pending_len = 0;
    return 1;
}

ssize_t chan_socket_read(chan_rec *chan, void *buf, size_t len)
{
    // Read the moment they arrive, a stream's pieces come a few hundred
    // octets at a time, and each costs both ends a wake-up: the directory
    // then spends more time waking its reader than finding entries (a
    // search of 10,000 entries from a local directory took twice as long).
    // The pause is short beside any time-out or network round trip, and a
    // read that fills the buffer counts as none: a fast stream is read
    // back to back.
    if (chan->short_reads >= 2) {
        timespec pause{0, 50000};
        nanosleep(&pause, nullptr);
    }
    ssize_t n = read(chan->sock, buf, len);
    bool emptied = n > 0 && size_t(n) < len;
    if (chan->short_reads >= 0)
        chan->short_reads = emptied ? std::min(chan->short_reads + 1, 2) : 0;
    return n;
}

ssize_t chan_socket_send(chan_rec *chan, const void *bytes, size_t len, int flags)
{
    if (chan->short_reads > 0)
        chan->short_reads = 0;
    return send(chan->sock, bytes, len, flags);
}

int chan_block(chan_rec *chan, int flag)
{
    if (!chan_isopen(chan))
        return 0;
    int nonblocking = flag ? 0 : 1;
    if (ioctl(chan->sock, FIONBIO, &nonblocking) < 0) {
        chan_set_syserror(chan);
        chan->mode = 0;
        return 0;
    }
    chan->mode = flag ? CHAN_BLOCKING : CHAN_NONBLOCKING;
    return 1;
}

int chan_nodelay(chan_rec *chan, int flag)
{
    if (!chan_isopen(chan))
        return 0;
    int on = flag ? 1 : 0;
    setsockopt(chan->sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return 1;
}

int chan_isopen(chan_rec *chan) { return chan && chan->sock != CHAN_NOT_OPEN; }

int chan_poll(chan_rec *chan, short events, int sec, int usec, short *revents)
{
    *revents = 0;
    if (sec < 0 || usec < 0) {
        errno = EINVAL;
        return -1;
    }
    pollfd entry = {chan->sock, events, 0};
    const int64_t deadline = monotonic_us() + int64_t(sec) * 1000000 + usec;
    for (;;) {
        int64_t left = deadline - monotonic_us();
        if (left < 0)
            left = 0;
        timespec wait = {time_t(left / 1000000), long(left % 1000000) * 1000};
        int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return -1;
        if (ready > 0 && (entry.revents & POLLNVAL)) {
            errno = EBADF;
            return -1;
        }
        *revents = entry.revents;
        return ready;
    }
}
