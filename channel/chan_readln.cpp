// Line readers: text lines assembled in pending from what the socket brings.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

namespace {

// Logs one chunk of n bytes (zero byte at work[n]), including what a zero
// byte inside it hid from the line.
void log_chunk(const chan_rec *chan, const char *work, int n)
{
    if (!socket_record)
        return;
    int text_len = int(strlen(work));
    if (text_len < n) {
        const char *first = nullptr;
        int hidden = 0;
        for (int i = text_len + 1; i < n; ++i) {
            if (!work[i])
                continue;
            if (!first)
                first = work + i;
            ++hidden;
        }
        if (first)
            chan_log("{%d} --> hidden characters {%d}: %s%s", chan->sock, int(strlen(first)), first,
                     "\n");
        chan_log("{%d} --> (%d/%d) - %d extra non-null characters - %s", chan->sock, n,
                 chan->pending_len, hidden, "\n");
    }
    chan_log("{%d} --> (%d/%d)'%s'%s", chan->sock, n, chan->pending_len, work, "\n");
}

// Appends the text to pending; 1 when it was taken.
int append(chan_rec *chan, const char *text)
{
    int old_len = chan->pending_len;
    size_t add = strlen(text);
    if (add == 0 || add > size_t(INT_MAX - old_len))
        return 0;
    char *grown = s_stradd(chan->pending, text);
    // s_stradd leaves the text as it was when it cannot grow it.
    if (!grown || !grown[old_len])
        return 0;
    chan->pending = grown;
    chan->pending_len = old_len + int(add);
    return 1;
}

// Hands pending itself to the caller (null when empty).
char *hand_over(chan_rec *chan)
{
    char *text = chan->pending;
    chan->pending = nullptr;
    chan->pending_len = 0;
    return text;
}

// Cuts the line that ends at the line feed lf (and any carriage returns or
// line feeds before it) out of pending.
char *take_line(chan_rec *chan, char *lf)
{
    char *end = lf;
    *end = 0;
    while (end > chan->pending && (end[-1] == '\r' || end[-1] == '\n'))
        *--end = 0;
    char *line = strdup(chan->pending);
    chan_keep_tail(chan, int(lf + 1 - chan->pending));
    return line;
}

char *read_line(chan_rec *chan, int wait, int chunk)
{
    if (!chan)
        return nullptr;
    // Bytes left by chan_read count as text only up to their first zero.
    if (chan->pending) {
        chan->pending_len = int(strlen(chan->pending));
        if (chan->pending_len == 0)
            free(hand_over(chan));
    }
    char *lf = chan->pending_len > 0 ? strchr(chan->pending, '\n') : nullptr;
    char work[1024];
    while (!lf) {
        int n = chan_read_internal(chan, work, chunk, wait);
        if (n <= 0)
            return hand_over(chan);
        work[n] = 0;
        int old_len = chan->pending_len;
        if (append(chan, work))
            lf = strchr(chan->pending + old_len, '\n');
        log_chunk(chan, work, n);
    }
    return take_line(chan, lf);
}

}  // namespace

char *chan_readln(chan_rec *chan, int wait) { return read_line(chan, wait, 1023); }

char *chan_readln_char(chan_rec *chan, int wait) { return read_line(chan, wait, 1); }
