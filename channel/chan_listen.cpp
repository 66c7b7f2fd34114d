// The accepting end: listening, binding, accepting, and the address texts
// of a channel's two ends.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "channel/chan_internal.h"

namespace {

// The first address of the lower-cased host text; false when it cannot be
// resolved.
bool first_address(const char *name, int port, chan_address *local)
{
    std::vector<chan_address> found = chan_resolve(name, port, 0);
    if (found.empty())
        return false;
    *local = found[0];
    return true;
}

// Listens on the first address of the lower-cased name; 1, or 0 with the
// channel's text set.
int bind_listening(chan_rec *chan, const char *name, int port, int backlog)
{
    // "all": every IPv4 interface.
    chan_address local;
    if (!first_address(s_stricmp(name, "all") == 0 ? "0.0.0.0" : name, port, &local)) {
        chan_set_errorf(chan, "gethostbyname failed. {%s}", name);
        return 0;
    }
    // A descriptor still held would otherwise leak.
    chan_close(chan);
    int fd = socket(local.addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !chan_attach(chan, fd)) {
        chan_set_error(chan, "Failed to open socket correctly.");
        return 0;
    }
    int on = 1;
    setsockopt(chan->sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(chan->sock, reinterpret_cast<sockaddr *>(&local.addr), local.size) != 0) {
        chan_set_error(chan, "Connection to Socket Failed.");
        return 0;
    }
    if (listen(chan->sock, backlog) != 0) {
        close(chan->sock);
        chan->sock = CHAN_NOT_OPEN;
        chan_set_error(chan, "Listen on Socket Failed.");
        return 0;
    }
    chan_log("%sBind Made: %s:%d {%d}%s", "\n", name, port, chan->sock, "\n");
    return 1;
}

}  // namespace

int chan_bind(chan_rec *chan, const char *addr, int port, int backlog)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (!addr) {
        chan_set_error(chan, "Could not open net -- no IP Address");
        return 0;
    }
    char name[512];
    lprintf(name, sizeof name, "%s", addr);
    if (port == 0) {
        chan_set_error(chan, "Could not open net -- no Port");
        return 0;
    }
    chan_lower_host(name);
    return oom_guard([&] { return bind_listening(chan, name, port, backlog); },
                     [&] {
                         chan_close(chan);
                         return chan_no_memory(chan);
                     });
}

int chan_bind_local(chan_rec *chan, char *addr, int port)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (!addr) {
        chan_set_error(chan, "Local Bind Failed -- no IP Address");
        return 0;
    }
    if (port == 0) {
        chan_set_error(chan, "Local Bind Failed -- no Port");
        return 0;
    }
    chan_lower_host(addr);
    chan_address local;
    int found =
        oom_guard([&] { return first_address(addr, port, &local) ? 1 : 0; }, [] { return -1; });
    if (found < 0)
        return chan_no_memory(chan);
    if (!found) {
        chan_set_errorf(chan, "gethostbyname failed. {%s}", addr);
        return 0;
    }
    if (!chan_isopen(chan)) {
        chan_set_error(chan, "Socket Not Open");
        return 0;
    }
    if (bind(chan->sock, reinterpret_cast<sockaddr *>(&local.addr), local.size) != 0) {
        chan_log("%sBind Failed: %s:%d {%d}%s", "\n", addr, port, chan->sock, "\n");
        chan_set_error(chan, "Local Socket Bind Failed.");
        return 0;
    }
    chan_log("%sBind Made: %s:%d {%d}%s", "\n", addr, port, chan->sock, "\n");
    return 1;
}

chan_rec *chan_accept(chan_rec *chan)
{
    if (!chan)
        return nullptr;
    chan_drop_error(chan);
    if (!chan_isopen(chan)) {
        chan_set_error(chan, "Socket Not Open");
        return nullptr;
    }
    int fd = accept4(chan->sock, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        chan_set_syserror(chan);
        return nullptr;
    }
    chan_rec *accepted = static_cast<chan_rec *>(malloc(sizeof *accepted));
    if (!accepted) {
        close(fd);
        chan_no_memory(chan);
        return nullptr;
    }
    chan_init(accepted);
    if (!chan_attach(accepted, fd)) {
        chan_set_syserror(chan);
        free(accepted);
        return nullptr;
    }
    return accepted;
}

namespace {

// Fills *member with the address text (dotted IPv4, or IPv6 in its usual
// form) that query (getsockname or getpeername) gives for the channel's
// socket, once.
char *address_text(chan_rec *chan, char **member, int (*query)(int, sockaddr *, socklen_t *))
{
    if (!chan_isopen(chan))
        return nullptr;
    if (*member)
        return *member;
    chan_drop_error(chan);
    sockaddr_storage addr = {};
    socklen_t size = sizeof addr;
    char text[INET6_ADDRSTRLEN];
    bool known = query(chan->sock, reinterpret_cast<sockaddr *>(&addr), &size) == 0;
    const void *bytes =
        addr.ss_family == AF_INET6
            ? static_cast<const void *>(&reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_addr)
            : &reinterpret_cast<sockaddr_in *>(&addr)->sin_addr;
    if (!known || !inet_ntop(addr.ss_family, bytes, text, sizeof text)) {
        chan_set_syserror(chan);
        return nullptr;
    }
    *member = strdup(text);
    return *member;
}

}  // namespace

char *chan_localip(chan_rec *chan)
{
    return address_text(chan, chan ? &chan->localip : nullptr, getsockname);
}

char *chan_remoteip(chan_rec *chan)
{
    return address_text(chan, chan ? &chan->remoteip : nullptr, getpeername);
}
