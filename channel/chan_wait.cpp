// Readiness waits on a channel: readable (also when TLS holds bytes it can
// hand out without the socket), writable, or neither in time.
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "channel/chan_internal.h"

namespace {

// The common body of both waits: want_write adds writability to the events.
int check(chan_rec *chan, int sec, int usec, bool want_write)
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
    int ready =
        chan_poll(chan, short(POLLIN | POLLPRI | (want_write ? POLLOUT : 0)), sec, usec, &revents);
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

}  // namespace

int chan_check(chan_rec *chan, int sec, int usec) { return check(chan, sec, usec, true); }

int chan_check_read(chan_rec *chan, int sec, int usec) { return check(chan, sec, usec, false); }
