// The channel record: set-up and release, error texts, the connection log,
// modes and time-out.
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

FILE *socket_record = nullptr;

int tcp_error() { return errno; }

int check_winstock()
{
    signal(SIGPIPE, SIG_IGN);
    return 1;
}

int set_logfile(const char *dir, const char *file)
{
    const char *path = attach_path(dir, file);
    if (socket_record) {
        fclose(socket_record);
        socket_record = nullptr;
    }
    if (!path || !*path)
        return 0;
    socket_record = fopen(path, "abe");
    return 1;
}

void chan_log(const char *format, ...)
{
    if (!socket_record)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(socket_record, format, args);
    va_end(args);
    fflush(socket_record);
}

void chan_drop_error(chan_rec *chan)
{
    free(chan->error);
    chan->error = nullptr;
}

void chan_set_error(chan_rec *chan, const char *text)
{
    chan_drop_error(chan);
    chan->error = text ? strdup(text) : nullptr;
}

void chan_set_errorf(chan_rec *chan, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    lvprintf(text, sizeof text, format, args);
    va_end(args);
    chan_set_error(chan, text);
}

void chan_set_syserror(chan_rec *chan)
{
    chan_drop_error(chan);
    chan->error = chan_texterror();
}

char *chan_texterror()
{
    char text[512];
    lprintf(text, sizeof text, "%s", strerror(tcp_error()));
    return strdup(text);
}

char *chan_error_string(chan_rec *chan) { return chan ? chan->error : nullptr; }

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
    chan_drop_error(chan);
    free(chan->pending);
    free(chan->localip);
    free(chan->remoteip);
    chan->pending = chan->localip = chan->remoteip = nullptr;
    chan->pending_len = 0;
    if (chan_isopen(chan))
        chan_close(chan);
}

int chan_attach(chan_rec *chan, int fd)
{
    if (fd >= CHAN_NOT_OPEN) {
        close(fd);
        errno = EMFILE;
        return 0;
    }
    chan->sock = static_cast<uint16_t>(fd);
    chan->mode = 0;
    free(chan->localip);
    free(chan->remoteip);
    chan->localip = chan->remoteip = nullptr;
    return 1;
}

int chan_block(chan_rec *chan, int flag)
{
    if (!chan_isopen(chan))
        return 0;
    int nonblocking = flag ? 0 : 1;
    if (ioctl(chan->sock, FIONBIO, &nonblocking) < 0) {
        chan_set_syserror(chan);
        chan->mode = 0;
        return 0;
    }
    chan->mode = flag ? CHAN_BLOCKING : CHAN_NONBLOCKING;
    return 1;
}

int chan_nodelay(chan_rec *chan, int flag)
{
    if (!chan_isopen(chan))
        return 0;
    int on = flag ? 1 : 0;
    setsockopt(chan->sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return 1;
}

void chan_timeout(chan_rec *chan, int sec, int usec)
{
    if (!chan)
        return;
    chan->timeout_sec = sec;
    chan->timeout_usec = usec;
}

int chan_isopen(chan_rec *chan) { return chan && chan->sock != CHAN_NOT_OPEN; }

int check_string_digit(const char *text)
{
    if (!text)
        return 1;
    for (; *text; ++text)
        if (isalpha(static_cast<unsigned char>(*text)))
            return 0;
    return 1;
}
