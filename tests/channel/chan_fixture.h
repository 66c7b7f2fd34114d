// Loopback fixtures for the channel tests: a channel listening on 127.0.0.1
// and a connected pair (a chan_open client and its chan_accept server end).
#pragma once
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "channel/chanel.h"

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
inline int free_port() {
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

inline std::string error_of(chan_rec *chan) { return chan_error_string(chan) ? chan_error_string(chan) : ""; }

// A result with the text it left: "0 Socket Not Open".
inline std::string outcome(chan_rec *chan, long result) { return std::to_string(result) + " " + error_of(chan); }

inline long long counted(const size_counter &c) { return (c.trillions * 1000000LL + c.millions) * 1000000LL + c.units; }

struct Listener {
    explicit Listener(int backlog = 8) {
        chan_init(&chan);
        // Another process may take the port between free_port and the bind.
        for (int attempt = 0; attempt < 5 && !chan_isopen(&chan); ++attempt)
            if (!chan_bind(&chan, "127.0.0.1", port = free_port(), backlog))
                chan_clear(&chan);
        EXPECT_TRUE(chan_isopen(&chan)) << error_of(&chan);
    }
    ~Listener() { chan_clear(&chan); }
    chan_rec chan;
    int port = 0;
};

struct Pair {
    Pair() {
        chan_init(&client);
        EXPECT_EQ(1, chan_open(&client, "127.0.0.1", listener.port, 5)) << error_of(&client);
        server = chan_accept(&listener.chan);
        EXPECT_NE(nullptr, server) << error_of(&listener.chan);
    }
    ~Pair() {
        chan_clear(&client);
        chan_clear(server);
        free(server);
    }
    // Raw bytes from the server end, past the channel layer.
    void server_send(const std::string &bytes) {
        ASSERT_EQ(ssize_t(bytes.size()), write(server->sock, bytes.data(), bytes.size()));
    }
    Listener listener;
    chan_rec client;
    chan_rec *server = nullptr;
};
