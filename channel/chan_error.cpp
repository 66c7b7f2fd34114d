// What a channel reports: the error text of its last failed operation, and
// the process-wide connection log.
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

FILE *socket_record = nullptr;

int tcp_error() { return errno; }

int set_logfile(const char *dir, const char *file)
{
    const char *path = attach_path(dir, file);
    if (socket_record) {
        fclose(socket_record);
        socket_record = nullptr;
    }
    if (!path || !*path)
        return 0;
    // The log holds every octet as it was sent, a bind's password too: only
    // its owner may read it.
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0 && !(socket_record = fdopen(fd, "a")))
        close(fd);
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

int chan_no_memory(chan_rec *chan)
{
    chan_set_error(chan, "Out of Memory");
    return 0;
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
