// The channel record: set-up, time-out, closing and release.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

int check_winstock()
{
    signal(SIGPIPE, SIG_IGN);
    return 1;
}

void chan_init(chan_rec *chan)
{
    if (!chan)
        return;
    memset(chan, 0, sizeof *chan);
    chan->sock = CHAN_NOT_OPEN;
    chan->timeout_sec = 30;
    chan->timeout_usec = 0;
    size_init(&chan->received);
    size_init(&chan->sent);
}

void chan_clear(chan_rec *chan)
{
    if (!chan)
        return;
    // Closed first: the text of a failed close goes with the rest.
    if (chan_isopen(chan))
        chan_close(chan);
    chan_drop_error(chan);
    free(chan->pending);
    free(chan->localip);
    free(chan->remoteip);
    chan->pending = chan->localip = chan->remoteip = nullptr;
    chan->pending_len = 0;
}

void chan_timeout(chan_rec *chan, int sec, int usec)
{
    if (!chan)
        return;
    chan->timeout_sec = sec;
    chan->timeout_usec = usec;
}

int chan_close(chan_rec *chan)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (!chan_isopen(chan))
        return 0;
    chan_log("Closing Connection: {%d}%s", chan->sock, "\n");
    chan_tls_end(chan);
    // A failed close has let the descriptor go all the same (its number may
    // be another file's at once): the record is no longer open either way.
    int closed = close(chan->sock) == 0;
    chan->sock = CHAN_NOT_OPEN;
    if (!closed)
        chan_set_syserror(chan);
    return closed;
}

int chan_ssl(chan_rec *chan) { return chan && chan->tls ? 1 : 0; }
