// Readiness waits. poll has no descriptor-set limit, so any descriptor the
// record can hold may be waited on.
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "channel/chan_internal.h"

static int64_t now_ns()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int chan_poll(chan_rec *chan, short events, int sec, int usec, short *revents)
{
    *revents = 0;
    if (sec < 0 || usec < 0) {
        errno = EINVAL;
        return -1;
    }
    pollfd entry = {chan->sock, events, 0};
    const int64_t deadline = now_ns() + int64_t(sec) * 1000000000 + int64_t(usec) * 1000;
    for (;;) {
        int64_t left = deadline - now_ns();
        if (left < 0)
            left = 0;
        timespec wait = {time_t(left / 1000000000), long(left % 1000000000)};
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

// The common body of both waits: want_write adds writability to the events.
static int check(chan_rec *chan, int sec, int usec, bool want_write)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (!chan_isopen(chan)) {
        chan_set_error(chan, "Socket Not Open");
        return -1;
    }
    // Bytes the TLS session already holds: the socket may stay silent.
    if (chan_tls_buffered(chan))
        return 1;
    short revents;
    int ready = chan_poll(chan, short(POLLIN | POLLPRI | (want_write ? POLLOUT : 0)), sec, usec,
                          &revents);
    if (ready == 0) {
        chan_set_error(chan, "setting timeout failed");
        return 0;
    }
    if (ready < 0 || chan_exceptional(revents)) {
        chan_set_syserror(chan);
        return -1;
    }
    if (chan_readable(revents))
        return 1;
    if (want_write && chan_writable(revents))
        return 2;
    chan_set_error(chan, "Should not reach this error.");
    return -1;
}

int chan_check(chan_rec *chan, int sec, int usec) { return check(chan, sec, usec, true); }

int chan_check_read(chan_rec *chan, int sec, int usec) { return check(chan, sec, usec, false); }
