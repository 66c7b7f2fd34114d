// The floor: what a search's reply stream costs a client that only reads it.
// It binds and sends the search the service sends for a SEARCH (built by the
// service's own client library, so that the replay server knows it), then
// reads the replies over loopback in large pieces and walks the outer
// message lengths, looking at nothing but each message's operation tag to
// see where the search ends. Nothing is decoded, kept or written.
//
//   floor PORT BASE FILTER TIMES
//
// searches TIMES times in one session and prints the number of entries of
// the last search (every message before its SearchResultDone).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ldap/ldap.h"

namespace {

const size_t PIECE = 65536;

// The octets read and not yet walked over: buffer[start, end).
struct stream {
    int fd;
    unsigned char buffer[PIECE];
    size_t start = 0, end = 0;
};

// Makes at least n octets (at most PIECE) walkable, reading as much as the
// socket holds; false when the stream ends first.
bool fill(stream *s, size_t n)
{
    if (s->end - s->start >= n) return true;
    memmove(s->buffer, s->buffer + s->start, s->end - s->start);
    s->end -= s->start;
    s->start = 0;
    while (s->end < n) {
        ssize_t count = read(s->fd, s->buffer + s->end, PIECE - s->end);
        if (count <= 0) return false;
        s->end += static_cast<size_t>(count);
    }
    return true;
}

bool skip(stream *s, size_t n)
{
    while (n > 0) {
        if (!fill(s, 1)) return false;
        size_t step = n < s->end - s->start ? n : s->end - s->start;
        s->start += step;
        n -= step;
    }
    return true;
}

// Walks one search's replies: the number of messages before the one with
// the SearchResultDone tag, or -1 when the stream ends first. A message is
// 0x30, its length (short or long form), the message ID (tag, one length
// octet, content), then the operation's tag.
long walk_replies(stream *s)
{
    for (long messages = 0;; messages++) {
        if (!fill(s, 2)) return -1;
        const unsigned char *at = s->buffer + s->start;
        size_t length = at[1], header = 2;
        if (length & 0x80) {
            header += length & 0x7F;
            if (header > 6 || !fill(s, header)) return -1;
            at = s->buffer + s->start;
            length = 0;
            for (size_t i = 2; i < header; i++) length = length << 8 | at[i];
        }
        if (!fill(s, header + 2) || !fill(s, header + 3 + s->buffer[s->start + header + 1])) return -1;
        int op = s->buffer[s->start + header + 2 + s->buffer[s->start + header + 1]];
        if (!skip(s, header + length)) return -1;
        if (op == 0x65) return messages;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: floor PORT BASE FILTER TIMES\n");
        return 2;
    }
    ldap_handle ldap;
    ldap_init(&ldap, nullptr, nullptr);
    ldap_setup(&ldap, "127.0.0.1", atoi(argv[1]));
    if (ldap_connect(&ldap, "cn=floor", "secret") != 0) {
        fprintf(stderr, "floor: cannot bind\n");
        return 1;
    }
    // The service's search for a SEARCH command: subtree, no size limit, 30
    // seconds, no attributes.
    ldap_request search = {};
    search.op = LDAP_SEARCH_REQUEST;
    search.base = argv[2];
    search.scope = 2;
    search.time_limit = 30;
    search.filter = argv[3];
    search.attributes = "1.1";
    // Plain blocking reads from here on.
    chan_block(ldap.chan, 1);
    static stream replies;
    replies.fd = ldap.chan->sock;
    long entries = -1;
    for (int i = 0; i < atoi(argv[4]); i++) {
        if (!ldap_send(&ldap, &search, 0, nullptr) || (entries = walk_replies(&replies)) < 0) {
            fprintf(stderr, "floor: the search failed\n");
            return 1;
        }
    }
    printf("%ld\n", entries);
    return 0;
}
