// chan_rec: one TCP connection with its time-out, error text, pending bytes,
// byte counters and address texts; also the listening side.
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
    uint16_t sock;       // descriptor; CHAN_NOT_OPEN when not open
    char *localip;       // local address text (dotted IPv4, or IPv6), filled on first request
    char *remoteip;      // host given to chan_open (lower-cased), or peer address
    int timeout_sec;     // each wait for the connection lasts at most this
    int timeout_usec;
    char *error;         // text of the last failed operation
    int pending_len;     // bytes held in pending
    char *pending;       // received, not yet handed out; zero byte after it
    size_counter received;
    size_counter sent;
    int mode;            // what chan_block last set: CHAN_BLOCKING, CHAN_NONBLOCKING, 0 unknown
};

// The process-wide connection log, or null (the initial state).
extern FILE *socket_record;

// Record, open and close (chan_record.cpp, chan_open.cpp, chan_wait.cpp).
// chan_open reports a connection open only once it is established. It reads
// a host text with ':' as an IPv6 address ("::1", "[::1]", "fe80::1%lo"),
// one without letters as a dotted IPv4 number (as inet_addr reads it), and
// resolves anything else to its IPv6 and IPv4 addresses, trying each in the
// resolver's order. A positive timeout bounds the whole attempt in seconds;
// each address gets an equal share of the time left. The host text, cut to
// 510 characters and lower-cased, becomes remoteip.
int tcp_error();
int check_winstock();
int set_logfile(const char *dir, const char *file);
void chan_init(chan_rec *chan);
void chan_clear(chan_rec *chan);
char *chan_error_string(chan_rec *chan);
char *chan_texterror();
int chan_open(chan_rec *chan, const char *host, int port, int timeout);
int chan_close(chan_rec *chan);
int chan_block(chan_rec *chan, int flag);
int chan_nodelay(chan_rec *chan, int flag);
void chan_timeout(chan_rec *chan, int sec, int usec);
int chan_isopen(chan_rec *chan);
int chan_ssl(chan_rec *chan);
int check_string_digit(const char *text);
// Waits: 1 readable, 2 writable (chan_check only), 0 time-out, -1 failure
// (also for a channel that is not open). Any descriptor the record holds.
int chan_check(chan_rec *chan, int sec, int usec);
int chan_check_read(chan_rec *chan, int sec, int usec);

// Input and output (chan_io.cpp). chan_write delivers every byte or fails;
// chan_read takes from the socket only what len still needs.
int chan_write(chan_rec *chan, const void *bytes, int len, int wait);
int chan_read_internal(chan_rec *chan, void *buf, int len, int wait);
int chan_read(chan_rec *chan, void *out, int len, int wait);

// Listening side and addresses (chan_listen.cpp). Binding takes the host's
// first address, IPv6 or IPv4; "all" is every IPv4 interface.
int chan_bind(chan_rec *chan, const char *addr, int port, int backlog);
int chan_bind_local(chan_rec *chan, char *addr, int port);
chan_rec *chan_accept(chan_rec *chan);
char *chan_localip(chan_rec *chan);
char *chan_remoteip(chan_rec *chan);

// Line readers (chan_readln.cpp): newly allocated lines without line end.
char *chan_readln(chan_rec *chan, int wait);
char *chan_readln_char(chan_rec *chan, int wait);

#endif
