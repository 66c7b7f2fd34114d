#include "fuzz/common.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int fuzz_quiet(const char *format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return 0;
}

std::string fuzz_text(const uint8_t *data, size_t size)
{
    const void *zero = memchr(data, 0, size);
    size_t length = zero ? static_cast<const uint8_t *>(zero) - data : size;
    return std::string(reinterpret_cast<const char *>(data), length);
}

void fuzz_silence_stdout()
{
    if (!freopen("/dev/null", "w", stdout)) abort();
}

namespace {

void send_pieces(int fd, const uint8_t *stream, size_t length, std::vector<size_t> sizes)
{
    size_t pos = 0;
    for (size_t i = 0; pos < length; i++) {
        size_t piece = sizes.empty() ? length - pos : sizes[i % sizes.size()];
        if (piece > length - pos) piece = length - pos;
        if (send(fd, stream + pos, piece, MSG_NOSIGNAL) < 0) break;  // the reader gave up
        pos += piece;
    }
    shutdown(fd, SHUT_WR);
}

}  // namespace

FuzzStream::FuzzStream(const uint8_t *stream, size_t length, std::vector<size_t> sizes)
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) abort();
    peer_ = fds[1];
    sender_ = std::thread(send_pieces, fds[1], stream, length, std::move(sizes));
    chan_init(&chan);
    chan.sock = static_cast<uint16_t>(fds[0]);
    chan.short_reads = -1;  // one piece a read: waiting gathers nothing
    chan_timeout(&chan, 5, 0);
}

FuzzStream::~FuzzStream()
{
    sender_.join();
    if (chan_isopen(&chan)) chan_close(&chan);
    chan_clear(&chan);
    close(peer_);
}
