// chan_rec: one TCP connection with its time-out, error text, pending bytes,
// byte counters and address texts, optionally carrying TLS; also the
// listening side.
//
// Results: 1 success, 0 failure, -1 a failed wait, -2 an expired read. Every
// failing operation leaves one text that chan_error_string returns.
#ifndef CHANNEL_CHANEL_H
#define CHANNEL_CHANEL_H

#include <cstdint>
#include <cstdio>

#include "support/size.h"

#define CHAN_NOT_OPEN 65535

enum { CHAN_BLOCKING = 1, CHAN_NONBLOCKING = 2 };

struct chan_rec {
    uint16_t sock;    // descriptor; CHAN_NOT_OPEN when not open
    char *localip;    // local address text (dotted IPv4, or IPv6), filled on first request
    char *remoteip;   // host given to chan_open (lower-cased), or peer address
    int timeout_sec;  // each wait for the connection lasts at most this
    int timeout_usec;
    char *error;      // text of the last failed operation
    int pending_len;  // bytes held in pending
    char *pending;    // received, not yet handed out; zero byte after it
    size_counter received;
    size_counter sent;
    int mode;  // what chan_block last set: CHAN_BLOCKING, CHAN_NONBLOCKING, 0 unknown
    // The TLS session (an OpenSSL SSL) once chan_tls_start made one; null: plain.
    struct ssl_st *tls;
    // 1 from a completed chan_write to the next read: a timed read then waits first.
    int answer_due;
    // Socket reads in a row since the last send that took all there was (up
    // to 2): the next one pauses first. -1: never pause (a packet socket,
    // which hands out one piece a read however many wait).
    int short_reads;
};

// The process-wide connection log, or null (the initial state).
extern FILE *socket_record;

// Record, open and close (chan_record.cpp, chan_open.cpp, chan_wait.cpp).
// chan_open reports a connection open only once it is established. It reads
// a host text with ':' as an IPv6 address ("::1", "[::1]", "fe80::1%lo"),
// one without letters as a dotted IPv4 number (as inet_addr reads it), and
// resolves anything else to its IPv6 and IPv4 addresses, trying each in the
// resolver's order. A positive timeout bounds the whole attempt in seconds,
// the name's look-up included (it is then made in a child process, which
// is killed when the time is up); each address gets an equal share of the
// time left. The host text, cut to
// 510 characters and lower-cased (but for a "%zone", an interface's name),
// becomes remoteip.
// chan_close (and chan_clear) of a TLS channel sends a close_notify if the
// socket takes it at once, then frees the session.
//
// A null chan makes every operation fail (0, or null) without effect. The
// record owns its texts; a text a function hands back stays the record's
// and lasts until its next operation.

// errno: the reason of the last failed system call.
int tcp_error();
// Makes a write to a closed connection fail instead of ending the process
// (SIGPIPE ignored); returns 1.
int check_winstock();
// Closes the connection log and opens attach_path(dir, file) for appending
// in its place (made readable by its owner only: it holds every octet sent
// over plain channels, passwords included). 1 when a path was given (the
// log stays closed if it cannot be opened), 0 for an empty path.
int set_logfile(const char *dir, const char *file);
// Makes the record empty and not open, with waits of 30 seconds.
void chan_init(chan_rec *chan);
// Closes the channel when open and releases every text and pending byte;
// the record (the caller's) can be opened again.
void chan_clear(chan_rec *chan);
// The text of the last failed operation, or null.
char *chan_error_string(chan_rec *chan);
// strerror of errno, newly allocated (the caller frees it); null when
// memory runs out.
char *chan_texterror();
// Returns 1 once connected (at once when already open); 0 with the text
// set: no host (null) or port, a host that does not resolve, no connection within the
// time, or "Out of Memory".
int chan_open(chan_rec *chan, const char *host, int port, int timeout);
// 1 when the open channel was closed; 0 when it was not open, or close
// failed (text set; the descriptor is let go all the same). The last error
// text goes either way.
int chan_close(chan_rec *chan);
// Blocking (flag non-zero) or non-blocking mode, and TCP_NODELAY on or off.
// 1, or 0 when not open (or, for the mode, with the text set).
int chan_block(chan_rec *chan, int flag);
int chan_nodelay(chan_rec *chan, int flag);
// How long each wait for the connection lasts from now on.
void chan_timeout(chan_rec *chan, int sec, int usec);
// 1 when the channel holds an open descriptor, else 0.
int chan_isopen(chan_rec *chan);
// 1 when text holds no ASCII letter (it is read as an address number,
// null too), else 0.
int check_string_digit(const char *text);
// Waits: 1 readable, 2 writable (chan_check only), 0 time-out, -1 failure
// (also for a channel that is not open). Any descriptor the record holds.
// Bytes a TLS session holds already (decrypted, or a whole record read
// ahead) count as readable. Null chan: 0.
int chan_check(chan_rec *chan, int sec, int usec);
int chan_check_read(chan_rec *chan, int sec, int usec);

// Input and output (chan_io.cpp). chan_write delivers every byte or fails;
// chan_read takes from the socket only what len still needs.
//
// wait non-zero: each wait for the socket lasts at most the channel's
// time-out. wait 0: the call blocks until it is done (a read first puts the
// socket in blocking mode).

// Writes all len bytes. 1 when sent (len 0 too, even for a null chan); 0 with
// the text set (null bytes, negative len, not open, the peer gone, or the
// socket full through 60 waits in a row); -1 when a wait itself failed.
int chan_write(chan_rec *chan, const void *bytes, int len, int wait);
// chan_write with waits that also end at deadline (monotonic_us; 0: none):
// the socket still full then fails the write as through 60 waits.
int chan_write_until(chan_rec *chan, const void *bytes, int len, int64_t deadline);
// One read of at most len bytes straight from the socket or TLS session
// (bytes kept in pending are not looked at): the count read; 0 at the end
// of the stream, for len 0, or on failure (text set); -2 when the wait for
// data expired (a timed read waits one time-out in all, however the octets
// of a TLS record drip in).
int chan_read_internal(chan_rec *chan, void *buf, int len, int wait);
// Exactly len bytes, through pending: len; 0 at the end of the stream or on
// failure (bytes read so far stay pending for the next call; out of memory
// for them is "Memory Allocation Error 'chan_read'"); -2 when a wait expired.
int chan_read(chan_rec *chan, void *out, int len, int wait);

// Listening side and addresses (chan_listen.cpp). Binding takes the host's
// first address, IPv6 or IPv4; "all" is every IPv4 interface.

// Listens on addr and port (a descriptor held before is closed). 1, or 0
// with the text set; out of memory: "Out of Memory".
int chan_bind(chan_rec *chan, const char *addr, int port, int backlog);
// Binds the open socket to a local address before it connects; addr is
// lower-cased in place (but for a "%zone"). 1, or 0 with the text set.
int chan_bind_local(chan_rec *chan, char *addr, int port);
// Takes the next connection (waiting for it on a blocking socket) as a new
// channel, which the caller owns (chan_clear, then free); null with the listening channel's
// text set on failure ("Out of Memory" included).
chan_rec *chan_accept(chan_rec *chan);
// The address text of the local and of the far end, kept in the record (a
// remoteip given by chan_open is the host as written there); null when not
// open, not known (text set) or memory runs out.
char *chan_localip(chan_rec *chan);
char *chan_remoteip(chan_rec *chan);

// Line readers (chan_readln.cpp): newly allocated lines without line end.
// The caller frees them. Reads go by 1023 bytes, or by one byte
// (chan_readln_char, which leaves what follows the line unread); wait as
// above. At the end of the stream or on failure: the text pending without
// line end, or null. A zero byte ends the text of its read; memory running
// out loses the piece or line at hand.
char *chan_readln(chan_rec *chan, int wait);
char *chan_readln_char(chan_rec *chan, int wait);

// TLS (chan_tls_context.cpp, chan_tls_session.cpp, chan_tls_io.cpp). Once
// chan_tls_start succeeds, every operation above carries application bytes
// through the session with the same results, texts and time-outs, except
// that once a write has given up, later writes fail too ("TLS write failed:
// protocol is shutdown"): the session may hold part of a record it cannot
// take back.

// What a client context trusts and presents. Null or empty texts are unset.
// No CA file and no CA directory: the system's trust store.
struct chan_tls_settings {
    const char *ca_file;    // PEM certificates to trust
    const char *ca_dir;     // directory of PEM certificates named by subject hash (c_rehash)
    const char *cert_file;  // client certificate chain (PEM), presented when asked
    const char *key_file;   // its private key (PEM, unencrypted); unset: taken from cert_file
    int verify;             // CHAN_TLS_NEVER, or anything else: CHAN_TLS_DEMAND
};
enum { CHAN_TLS_NEVER = 0, CHAN_TLS_DEMAND = 1 };

// chan_tls_new results: 0, or which setting cannot be used.
enum {
    CHAN_TLS_OK = 0,
    CHAN_TLS_BAD_CA_FILE,       // ca_file unreadable, or holds no certificate
    CHAN_TLS_BAD_CA_DIR,        // ca_dir is not a readable directory
    CHAN_TLS_BAD_CERT_FILE,     // cert_file unreadable, no certificate, or no key of its own
                                // when key_file is unset
    CHAN_TLS_BAD_KEY_FILE,      // key_file unreadable, encrypted or no key
    CHAN_TLS_KEY_WITHOUT_CERT,  // key_file set, cert_file not
    CHAN_TLS_KEY_MISMATCH,      // key_file does not belong to cert_file's certificate
    CHAN_TLS_FAILED,            // out is null, or the TLS library could not make a context
    CHAN_TLS_NO_LIBRARY         // the TLS library could not be loaded (chan_tls_library_error)
};

// A client TLS context (TLS 1.2 at least), made once and shared by channels.
struct chan_tls;

// Makes a context from settings (null: system trust store, verify demand).
// Returns CHAN_TLS_OK and stores the context in *out, which the caller frees
// with chan_tls_free; otherwise a code above and *out null.
int chan_tls_new(chan_tls **out, const chan_tls_settings *settings);
// Frees the context; null is ignored. Channels still using it keep working.
void chan_tls_free(chan_tls *tls);
// Why the TLS library could not be loaded, as the system's loader said it
// (static storage); "" once it is loaded or before it was tried.
const char *chan_tls_library_error();

// Runs the client handshake on the open channel, bounded as a whole by
// timeout_sec seconds (at least 1). host (null: the host given to chan_open)
// is sent as the server name unless it is an address literal, and under
// verify demand the certificate chain must verify and name it. Returns 1
// once the channel carries TLS; 0 on failure, with the channel closed (no
// plain byte may follow a failed upgrade) and its error text saying what
// failed, e.g. "TLS handshake failed: certificate verify failed (certificate
// has expired)". Bytes already pending are refused: they came unprotected.
// A channel not open, or already carrying TLS, is left as it is. Null chan: 0.
int chan_tls_start(chan_rec *chan, chan_tls *tls, const char *host, int timeout_sec);
// 1 when the channel carries TLS, else 0 (also for null).
int chan_ssl(chan_rec *chan);

#endif
