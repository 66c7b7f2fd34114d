// TLS reads and writes in the terms of the socket calls they stand in for,
// the socket BIO beneath them, and the end of a session.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "channel/chan_internal.h"
#include "channel/chan_openssl.h"

// The socket beneath a session, read ahead. The library reads each record's
// header and then its body, one system call each; a directory's records are
// mostly far smaller than what the socket holds (a search sends one per
// entry), so the BIO reads what is there at once and hands it out in the
// pieces asked for.
struct socket_io {
    chan_rec *chan;
    bool held_only;     // reads must not touch the socket (a peek at what is held)
    size_t start, end;  // the held bytes: buffer[start, end)
    char buffer[16384];
};

namespace {

socket_io *io_of(BIO *bio) { return static_cast<socket_io *>(BIO_get_data(bio)); }

// Both report a call that would block (or was interrupted) as one to retry,
// which the session turns into a want-read or want-write.
int bio_read(BIO *bio, char *buf, int len)
{
    BIO_clear_retry_flags(bio);
    socket_io *io = io_of(bio);
    if (io->start == io->end) {
        ssize_t n = io->held_only ? -1 : chan_socket_read(io->chan, io->buffer, sizeof io->buffer);
        if (n < 0 && (io->held_only || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            BIO_set_retry_read(bio);
        if (n <= 0)
            return int(n);
        io->start = 0;
        io->end = size_t(n);
    }
    size_t n = std::min(size_t(len), io->end - io->start);
    memcpy(buf, io->buffer + io->start, n);
    io->start += n;
    return int(n);
}

int bio_write(BIO *bio, const char *bytes, int len)
{
    BIO_clear_retry_flags(bio);
    ssize_t n = chan_socket_send(io_of(bio)->chan, bytes, size_t(len), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_write(bio);
    return int(n);
}

// Writes go out at once: a flush has nothing to do.
long bio_ctrl(BIO *, int command, long, void *) { return command == BIO_CTRL_FLUSH; }

int bio_destroy(BIO *bio)
{
    delete io_of(bio);
    BIO_set_data(bio, nullptr);
    return 1;
}

}  // namespace

BIO *chan_tls_bio(chan_rec *chan)
{
    // Made once and kept for the life of the process.
    static BIO_METHOD *method = [] {
        BIO_METHOD *made = BIO_meth_new(
            BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "channel socket");
        if (made &&
            (!BIO_meth_set_read(made, bio_read) || !BIO_meth_set_write(made, bio_write) ||
             !BIO_meth_set_ctrl(made, bio_ctrl) || !BIO_meth_set_destroy(made, bio_destroy))) {
            BIO_meth_free(made);
            made = nullptr;
        }
        return made;
    }();
    socket_io *io = method ? new (std::nothrow) socket_io : nullptr;
    BIO *bio = io ? BIO_new(method) : nullptr;
    if (!bio) {
        delete io;
        return nullptr;
    }
    io->chan = chan;
    io->held_only = false;
    io->start = io->end = 0;
    BIO_set_data(bio, io);
    BIO_set_init(bio, 1);
    return bio;
}

const char *chan_tls_reason(unsigned long error)
{
    const char *reason = ERR_reason_error_string(error);
    return reason ? reason : "unknown TLS error";
}

namespace {

// A session that cannot go on: a read that met the peer's close is at the
// end of its stream; otherwise -1 with errno, and a text for a TLS fault.
ssize_t failure(chan_rec *chan, int code, int saved_errno, bool reading)
{
    unsigned long error = ERR_peek_error();
    bool closed = code == SSL_ERROR_ZERO_RETURN ||
                  (code == SSL_ERROR_SYSCALL && !error && !saved_errno) ||
                  ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
    // No close_notify may follow a fatal error.
    if (code != SSL_ERROR_ZERO_RETURN)
        SSL_set_shutdown(chan->tls, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    if (closed && reading)
        return 0;
    if (code == SSL_ERROR_SSL && !closed) {
        chan_set_errorf(chan, "TLS %s failed: %s", reading ? "read" : "write",
                        chan_tls_reason(error));
        errno = EIO;
    } else {
        errno = saved_errno ? saved_errno : EPIPE;
    }
    return -1;
}

// SSL_get_error needs an empty error queue before the call it explains.
// Clearing costs as much when the queue is already empty (about a tenth of
// reading a small record), so it is cleared only when it holds something.
void empty_error_queue()
{
    if (ERR_peek_error())
        ERR_clear_error();
}

ssize_t transfer(chan_rec *chan, void *buf, size_t len, bool reading)
{
    SSL *ssl = chan->tls;
    for (;;) {
        empty_error_queue();
        size_t done = 0;
        int ok = reading ? SSL_read_ex(ssl, buf, len, &done) : SSL_write_ex(ssl, buf, len, &done);
        int saved_errno = errno;
        if (ok)
            return ssize_t(done);
        int code = SSL_get_error(ssl, 0);
        if (code == (reading ? SSL_ERROR_WANT_READ : SSL_ERROR_WANT_WRITE)) {
            errno = EAGAIN;
            return -1;
        }
        if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE)
            return failure(chan, code, saved_errno, reading);
        // The session needs the other direction first (a key update to
        // answer, say): that wait is bounded by the channel's time-out here,
        // as the caller knows only its own direction.
        short revents;
        if (chan_poll(chan, code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                      std::max(chan->timeout_sec, 0), std::max(chan->timeout_usec, 0),
                      &revents) <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
    }
}

}  // namespace

ssize_t chan_tls_read(chan_rec *chan, void *buf, size_t len)
{
    return transfer(chan, buf, len, true);
}

ssize_t chan_tls_send(chan_rec *chan, const void *bytes, size_t len, int flags)
{
    // SSL_write has no per-call flags: a write that must not block needs the
    // socket in non-blocking mode.
    if ((flags & MSG_DONTWAIT) && chan->mode != CHAN_NONBLOCKING)
        chan_block(chan, 0);
    return transfer(chan, const_cast<void *>(bytes), len, false);
}

int chan_tls_buffered(const chan_rec *chan)
{
    SSL *ssl = chan->tls;
    if (!ssl || SSL_pending(ssl) > 0)
        return ssl != nullptr;
    socket_io *io = io_of(SSL_get_rbio(ssl));
    if (io->start == io->end)
        return 0;
    // The bytes read ahead may make a whole record or only part of one: a
    // peek that may use them but not the socket tells which.
    io->held_only = true;
    empty_error_queue();
    char byte;
    size_t got;
    int ready = SSL_peek_ex(ssl, &byte, 1, &got) || SSL_get_error(ssl, 0) != SSL_ERROR_WANT_READ;
    io->held_only = false;
    return ready;
}

void chan_tls_abandon_write(chan_rec *chan)
{
    if (chan->tls)
        SSL_set_shutdown(chan->tls, SSL_get_shutdown(chan->tls) | SSL_SENT_SHUTDOWN);
}

void chan_tls_end(chan_rec *chan)
{
    SSL *ssl = chan->tls;
    if (!ssl)
        return;
    chan->tls = nullptr;
    // One try without waiting: a peer that reads nothing cannot hold the close.
    if (!(SSL_get_shutdown(ssl) & SSL_SENT_SHUTDOWN) && chan_block(chan, 0))
        SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
}
