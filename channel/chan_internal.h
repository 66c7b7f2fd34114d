// Helpers shared by the channel's sources: error texts, the connection log,
// address resolution, descriptor hand-over and the poll-based waits.
#ifndef CHANNEL_CHAN_INTERNAL_H
#define CHANNEL_CHAN_INTERNAL_H

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "channel/chanel.h"
#include "support/nlib.h"

// Error text: drop frees it; set replaces it with a copy (null when the copy
// cannot be made); setf formats first; set_syserror stores chan_texterror();
// no_memory stores "Out of Memory" and returns 0, for an operation's failure.
void chan_drop_error(chan_rec *chan);
void chan_set_error(chan_rec *chan, const char *text);
void chan_set_errorf(chan_rec *chan, const char *format, ...) NLIB_PRINTF(2, 3);
void chan_set_syserror(chan_rec *chan);
int chan_no_memory(chan_rec *chan);

// One entry in the connection log, flushed; nothing while the log is closed.
void chan_log(const char *format, ...) NLIB_PRINTF(1, 2);

// One socket address, IPv4 or IPv6, port included.
struct chan_address {
    sockaddr_storage addr;
    socklen_t size;
};

// The addresses for a lower-cased host text and port, in the order to try
// them (chan_resolve.cpp): a text with ':' is an IPv6 address (brackets and
// a "%zone" allowed); another text without letters is read as a dotted IPv4
// number by inet_addr; anything else is resolved by name, IPv6 and IPv4
// alike, in the resolver's order, within timeout_ms when it is positive.
// Empty when nothing is found in time; null reads as an empty text. When
// the bounded look-up could not even be started (no descriptor or process
// for it), *no_look_up (when given) is set to errno, else to 0.
std::vector<chan_address> chan_resolve(const char *host, int port, int timeout_ms,
                                       int *no_look_up = nullptr);
// Lower-cases the host text in place, but for a "%zone": that names an
// interface, whose name keeps its case. Null is ignored.
void chan_lower_host(char *host);

// Makes fd the channel's descriptor. Descriptors that 16 bits cannot hold
// are closed and refused (0, errno EMFILE). Address texts and pending
// bytes of an earlier connection are dropped.
int chan_attach(chan_rec *chan, int fd);

// Drops the first used bytes of pending, keeping the rest (with its zero
// byte) in a buffer of its own size; pending becomes null when none are left.
void chan_keep_tail(chan_rec *chan, int used);

// Waits up to sec seconds plus usec microseconds for the events on the
// channel's descriptor and returns what poll reports in *revents: 1 ready,
// 0 time-out, -1 failure with errno set (negative times give EINVAL, an
// invalid descriptor EBADF). Interrupted waits resume with the time left.
int chan_poll(chan_rec *chan, short events, int sec, int usec, short *revents);

// A client TLS context: the library's context and whether peers are checked.
struct chan_tls {
    struct ssl_ctx_st *ctx;
    bool verify;
};

// The library's reason for an error code, never null.
const char *chan_tls_reason(unsigned long error);

// TLS reads and writes in read(2) / send(2) terms (chan_tls_io.cpp): the
// count moved, 0 at end of stream (close_notify, or the peer simply gone),
// -1 with errno EAGAIN when the socket must become readable (reads) or
// writable (writes) first. Any other failure is -1 with errno set, and a
// TLS protocol failure also stores its text. A timed write (MSG_DONTWAIT in
// flags) puts the socket in non-blocking mode.
ssize_t chan_tls_read(chan_rec *chan, void *buf, size_t len);
ssize_t chan_tls_send(chan_rec *chan, const void *bytes, size_t len, int flags);

// The socket's own read and send, beneath the plain path and the TLS
// session alike (chan_socket.cpp), in read(2) / send(2) terms. A reply that
// streams in, a search's entries, is read in large pieces: after two reads
// in a row that took all the socket held, the next read first pauses for a
// moment (50 microseconds), so that more of the stream gathers. A send
// starts the count again: the first pieces of an answer are read the
// moment they arrive.
ssize_t chan_socket_read(chan_rec *chan, void *buf, size_t len);
ssize_t chan_socket_send(chan_rec *chan, const void *bytes, size_t len, int flags);
// One read or send on the connection: through the TLS session when there is
// one, else on the socket itself.
inline ssize_t chan_raw_read(chan_rec *chan, void *buf, size_t len)
{
    return chan->tls ? chan_tls_read(chan, buf, len) : chan_socket_read(chan, buf, len);
}
inline ssize_t chan_raw_send(chan_rec *chan, const void *bytes, size_t len, int flags)
{
    return chan->tls ? chan_tls_send(chan, bytes, len, flags)
                     : chan_socket_send(chan, bytes, len, flags);
}

// 1 when the channel's TLS session can hand out bytes (or report a failure)
// without reading the socket: decrypted bytes not yet read, or a whole
// record among the bytes its BIO read ahead. A wait must not ask the socket
// then, which may stay silent.
int chan_tls_buffered(const chan_rec *chan);

// A BIO over the channel's socket (chan_socket_read and chan_socket_send)
// that reads ahead (up to 16 KiB at a time) and whose writes never raise
// SIGPIPE; null when it cannot be made (chan_tls_io.cpp). The BIO owns its
// buffer; freeing it frees that. The channel must outlive it.
struct bio_st *chan_tls_bio(chan_rec *chan);

// After a write given up while the session still held part of a record:
// the library would send the rest of that record as the first bytes of the
// next write, so no further write may go; they fail from now on. Nothing
// without a session.
void chan_tls_abandon_write(chan_rec *chan);

// Sends a close_notify if the socket takes it at once, frees the session
// and makes the channel plain again; nothing without a session.
void chan_tls_end(chan_rec *chan);

// Readiness in the terms of a descriptor-set wait: readable, writable and
// exceptional conditions as the kernel reports them to select.
inline bool chan_readable(short revents) { return revents & (POLLIN | POLLHUP | POLLERR); }
inline bool chan_writable(short revents) { return revents & (POLLOUT | POLLERR); }
inline bool chan_exceptional(short revents) { return revents & POLLPRI; }

#endif
