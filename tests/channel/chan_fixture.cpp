#include "chan_fixture.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &size);
    close(fd);
    return ntohs(addr.sin_port);
}

std::string error_of(chan_rec *chan)
{
    const char *text = chan_error_string(chan);
    return text ? text : "";
}

long long counted(const size_counter &counter)
{
    return (counter.trillions * 1000000LL + counter.millions) * 1000000LL + counter.units;
}

Listener::Listener(int backlog)
{
    chan_init(&chan);
    // Another process may take the port between free_port and the bind.
    for (int attempt = 0; attempt < 5 && !chan_isopen(&chan); ++attempt) {
        port = free_port();
        if (!chan_bind(&chan, "127.0.0.1", port, backlog))
            chan_clear(&chan);
    }
    EXPECT_TRUE(chan_isopen(&chan)) << error_of(&chan);
}

Listener::~Listener() { chan_clear(&chan); }

Pair::Pair()
{
    chan_init(&client);
    EXPECT_EQ(1, chan_open(&client, "127.0.0.1", listener.port, 5)) << error_of(&client);
    server = chan_accept(&listener.chan);
    EXPECT_NE(nullptr, server) << error_of(&listener.chan);
}

Pair::~Pair()
{
    chan_clear(&client);
    chan_clear(server);
    free(server);
}

void Pair::server_send(const std::string &bytes)
{
    ASSERT_EQ(ssize_t(bytes.size()), write(server->sock, bytes.data(), bytes.size()));
}

void Pair::server_close() { chan_close(server); }
