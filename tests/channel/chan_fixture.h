// Loopback fixtures for the channel tests: a listening channel on 127.0.0.1
// and connected pairs made of a chan_open client and a chan_accept server.
#pragma once
#include <string>

#include "channel/chanel.h"

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
int free_port();

// The channel's error text, "" when there is none.
std::string error_of(chan_rec *chan);

// The total of a byte counter.
long long counted(const size_counter &counter);

// A channel listening on 127.0.0.1 at a free port.
struct Listener {
    explicit Listener(int backlog = 8);
    ~Listener();
    chan_rec chan;
    int port = 0;
};

// client: opened by chan_open to a Listener; server: its accepted end.
struct Pair {
    Pair();
    ~Pair();
    // Raw bytes from the server end, past the channel layer.
    void server_send(const std::string &bytes);
    void server_close();
    Listener listener;
    chan_rec client;
    chan_rec *server = nullptr;
};
