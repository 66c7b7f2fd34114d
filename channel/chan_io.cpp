// Whole-buffer writes, timed reads and exact reads through pending, on the
// socket or through its TLS session alike.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

namespace {

// Expired writability waits in a row before a write gives up.
const int WRITE_ATTEMPTS = 60;

// Waits until the socket accepts data: 1 writable, 0 failure, -1 the wait
// itself failed. Each wait lasts the channel's time-out, and no wait and no
// pause between them passes deadline (monotonic_us; 0: none).
int wait_writable(chan_rec *chan, int64_t deadline)
{
    for (int expired = 0;;) {
        int sec = chan->timeout_sec, usec = chan->timeout_usec;
        int64_t left = deadline ? deadline - monotonic_us() : INT64_MAX;
        if (left <= 0) {
            chan_set_error(chan, "Failed to write data to socket - Timeout");
            return 0;
        }
        if (sec < 0 || usec < 0 || int64_t(sec) * 1000000 + usec > left) {
            sec = int(left / 1000000);
            usec = int(left % 1000000);
        }
        short revents;
        int ready = chan_poll(chan, POLLOUT | POLLPRI, sec, usec, &revents);
        if (ready < 0) {
            chan_set_syserror(chan);
            return -1;
        }
        if (ready > 0) {
            if (chan_exceptional(revents) || !chan_writable(revents)) {
                chan_set_syserror(chan);
                return 0;
            }
            return 1;
        }
        int64_t pause = deadline ? std::min<int64_t>(deadline - monotonic_us(), 1000000) : 1000000;
        if (pause > 0)
            usleep(useconds_t(pause));
        if (++expired == WRITE_ATTEMPTS) {
            chan_set_error(chan, "Failed to write data to socket - Timeout");
            return 0;
        }
    }
}

// Blocks until a non-blocking socket that refused more data takes it again.
void wait_untimed(chan_rec *chan)
{
    short revents;
    while (chan_poll(chan, POLLOUT, INT_MAX, 0, &revents) == 0) {}
}

}  // namespace

namespace {

// chan_write, and chan_write_until with a deadline.
int write_all(chan_rec *chan, const void *bytes, int len, int wait, int64_t deadline)
{
    if (!chan || len == 0)
        return len == 0;
    chan_drop_error(chan);
    if (len < 0) {
        chan_set_error(chan, "Socket Not Open");
        return 0;
    }
    if (!bytes) {
        chan_set_error(chan, "Trying to Send Invalid Data");
        return 0;
    }
    if (!chan_isopen(chan)) {
        chan_set_error(chan, "Socket Not Open");
        return 0;
    }
    const bool timed = wait && (deadline || (long long)chan->timeout_sec + chan->timeout_usec >= 0);
    const char *data = static_cast<const char *>(bytes);
    if (socket_record)
        chan_log("{%d}{size=%d} <-- '%.*s'%s", chan->sock, len,
                 int(strnlen(static_cast<const char *>(bytes), size_t(len))),
                 static_cast<const char *>(bytes), "\n");
    // The send is tried first and the wait for writability made only when
    // the socket is full: a request per command need not cost a poll too.
    for (int left = len; left > 0;) {
        // A timed write never blocks in the call itself, whatever the
        // socket's mode: what does not fit waits for the next timed wait.
        int flags = MSG_NOSIGNAL | (timed ? MSG_DONTWAIT : 0);
        ssize_t n = chan_raw_send(chan, data, size_t(left), flags);
        if (n > 0) {
            size_add(&chan->sent, uint32_t(n));
            data += n;
            left -= int(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!timed) {
                wait_untimed(chan);
                continue;
            }
            int ready = wait_writable(chan, deadline);
            if (ready != 1) {
                chan_tls_abandon_write(chan);
                return ready;
            }
        } else if (n == 0 || errno != EINTR) {
            if (!chan->error)  // a TLS fault has said what it was
                chan_set_error(chan, "net_write failed to write data correctly.");
            return 0;
        }
    }
    chan->answer_due = 1;
    return 1;
}

}  // namespace

int chan_write(chan_rec *chan, const void *bytes, int len, int wait)
{
    return write_all(chan, bytes, len, wait, 0);
}

int chan_write_until(chan_rec *chan, const void *bytes, int len, int64_t deadline)
{
    return write_all(chan, bytes, len, 1, deadline);
}

namespace {

// The wait of a timed read, up to the instant until (monotonic_us): 1
// readable, -2 when the wait expired, 0 on failure (the text is then
// stored; a negative time-out fails the wait as it stands).
int wait_readable(chan_rec *chan, int64_t until)
{
    int sec = chan->timeout_sec, usec = chan->timeout_usec;
    if (sec >= 0 && usec >= 0) {
        int64_t left = std::max<int64_t>(until - monotonic_us(), 0);
        sec = int(left / 1000000);
        usec = int(left % 1000000);
    }
    int ready = chan_check_read(chan, sec, usec);
    if (ready == 0) {
        chan_set_errorf(chan, "setting timeout failed (%d/%d)", chan->timeout_sec,
                        chan->timeout_usec);
        return -2;
    }
    if (ready < 0) {
        chan_set_syserror(chan);
        if (!chan->error)
            chan_set_error(chan, "unknown error detected (server closed?) 1i");
        return 0;
    }
    return 1;
}

// One read with the retry rules shared by both reads: the count read, 0 at
// end of stream or on failure, -2 when a timed wait expired. A timed read
// right after a write waits first: the answer is still on its way, and a
// read that finds nothing costs a system call more (over TLS, a failed
// record read too). All its waits together last one time-out: the octets of
// a TLS record bring no data until it is whole, and a peer that drips them
// must not renew the wait with each one.
int read_some(chan_rec *chan, char *buf, int len, int wait)
{
    const int64_t until =
        monotonic_us() + int64_t(chan->timeout_sec) * 1000000 + chan->timeout_usec;
    bool wait_first = wait && chan->answer_due;
    chan->answer_due = 0;
    if (wait_first) {
        int ready = wait_readable(chan, until);
        if (ready != 1)
            return ready;
    }
    for (int attempt = 0;; ++attempt) {
        ssize_t n = chan_raw_read(chan, buf, size_t(len));
        if (n > 0) {
            size_add(&chan->received, uint32_t(n));
            return int(n);
        }
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (attempt > 0 && !wait)
            return 0;
        if (errno != EAGAIN && errno != EINPROGRESS && errno != ENOTCONN)
            return 0;
        if (!wait) {
            chan_block(chan, 1);
            continue;
        }
        int ready = wait_readable(chan, until);
        if (ready != 1)
            return ready;
    }
}

// The checks and mode switch both reads begin with; 0 when the read cannot
// go on (the text is then stored).
int read_prepare(chan_rec *chan, const void *buf, int len, int wait, const char *invalid)
{
    chan_drop_error(chan);
    if (!buf || len < 0) {
        chan_set_error(chan, invalid);
        return 0;
    }
    if (!chan_isopen(chan)) {
        chan_set_error(chan, "Socket Not Open");
        return 0;
    }
    // A read per message must not cost a mode switch each: switch only when
    // the socket is not yet in the mode this read wants.
    if (chan->mode != (wait ? CHAN_NONBLOCKING : CHAN_BLOCKING))
        chan_block(chan, wait ? 0 : 1);
    return 1;
}

}  // namespace

int chan_read_internal(chan_rec *chan, void *buf, int len, int wait)
{
    const char *invalid = "Invalid Data variable in 'chan_read_internal'";
    if (!chan || !read_prepare(chan, buf, len, wait, invalid))
        return 0;
    return len == 0 ? 0 : read_some(chan, static_cast<char *>(buf), len, wait);
}

int chan_read(chan_rec *chan, void *out, int len, int wait)
{
    if (!chan || !read_prepare(chan, out, len, wait, "Invalid Data variable in 'chan_read'"))
        return 0;
    if (len == 0)
        return 0;
    if (chan->pending_len < len) {
        // Room for all len bytes at once, so a large read grows pending once.
        char *grown = static_cast<char *>(realloc(chan->pending, size_t(len) + 1));
        if (!grown) {
            chan_set_error(chan, "Memory Allocation Error 'chan_read'");
            return 0;
        }
        chan->pending = grown;
        grown[chan->pending_len] = 0;
    }
    while (chan->pending_len < len) {
        int n = read_some(chan, chan->pending + chan->pending_len, len - chan->pending_len, wait);
        if (n <= 0) {
            if (chan->pending_len == 0) {
                free(chan->pending);
                chan->pending = nullptr;
            }
            return n;
        }
        chan->pending_len += n;
        chan->pending[chan->pending_len] = 0;
    }
    memcpy(out, chan->pending, size_t(len));
    chan_keep_tail(chan, len);
    return len;
}

void chan_keep_tail(chan_rec *chan, int used)
{
    int rest = chan->pending_len - used;
    char *kept = rest > 0 ? static_cast<char *>(malloc(size_t(rest) + 1)) : nullptr;
    if (kept) {
        memcpy(kept, chan->pending + used, size_t(rest) + 1);
        free(chan->pending);
        chan->pending = kept;
    } else if (rest > 0) {
        memmove(chan->pending, chan->pending + used, size_t(rest) + 1);
    } else {
        free(chan->pending);
        chan->pending = nullptr;
        rest = 0;
    }
    chan->pending_len = rest;
}
