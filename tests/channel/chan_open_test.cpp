// Opening, binding, accepting and waiting on real loopback sockets.
#include <fcntl.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>

#include "chan_fixture.h"

namespace {

// A name whose 64-character label the resolver refuses without asking any server.
const std::string UNRESOLVABLE = std::string(64, 'X') + ".INVALID";
const std::string NOT_RESOLVED = "0 gethostbyname failed. {" + std::string(64, 'x') + ".invalid}";

TEST(ChanOpen, FailuresLeaveTheChannelClosed) {
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(0, chan_open(nullptr, "127.0.0.1", 1, 1));
    EXPECT_EQ(outcome(&chan, chan_open(&chan, "127.0.0.1", 0, 5)), "0 Could not open net -- no Port");
    EXPECT_EQ(outcome(&chan, chan_open(&chan, UNRESOLVABLE.c_str(), 389, 5)), NOT_RESOLVED);
    int port = free_port();
    for (int timeout : {5, 0}) {  // refused, with and without a connect time-out: never reported as open
        EXPECT_EQ(outcome(&chan, chan_open(&chan, "127.0.0.1", port, timeout)), "0 Connection to Socket Failed.");
        EXPECT_EQ(chan_isopen(&chan) + chan_close(&chan), 0);
        EXPECT_EQ(nullptr, chan.remoteip);
    }
    chan_clear(&chan);
    chan_clear(nullptr);

    Listener listener(0);  // a full backlog: the connect times out
    chan_rec fillers[2];
    for (chan_rec &filler : fillers) {
        chan_init(&filler);
        chan_open(&filler, "127.0.0.1", listener.port, 1);
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome(&chan, chan_open(&chan, "127.0.0.1", listener.port, 1)), "0 Connection to Socket Failed.");
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(waited >= 0.9 && waited < 5.0) << waited;
    EXPECT_EQ(0, chan_isopen(&chan));
    for (chan_rec *c : {&chan, &fillers[0], &fillers[1]})
        chan_clear(c);
}

TEST(ChanOpen, ConnectsStoresHostAndIgnoresReopen) {
    Listener listener;
    chan_rec chan;
    chan_init(&chan);
    ASSERT_EQ(1, chan_open(&chan, "LOCALHOST", listener.port, 5)) << error_of(&chan);
    EXPECT_STREQ("localhost", chan_remoteip(&chan));
    EXPECT_STREQ("127.0.0.1", chan_localip(&chan));
    EXPECT_TRUE(fcntl(chan.sock, F_GETFD) & FD_CLOEXEC);
    uint16_t sock = chan.sock;
    EXPECT_EQ(1, chan_open(&chan, UNRESOLVABLE.c_str(), 0, 5));  // already open: nothing changes
    EXPECT_EQ(sock, chan.sock);
    char byte;  // the connection ends in blocking mode; probe without blocking
    EXPECT_EQ(-1, recv(chan.sock, &byte, 1, MSG_DONTWAIT));
    EXPECT_EQ(EAGAIN, errno);
    EXPECT_EQ(1, chan_close(&chan));
    ASSERT_EQ(1, chan_open(&chan, "127.0.0.1", listener.port, 0)) << error_of(&chan);
    EXPECT_STREQ("127.0.0.1", chan.remoteip);
    chan_clear(&chan);
    EXPECT_EQ(nullptr, chan.remoteip);
}

TEST(ChanBind, FailuresLocalBindAndAccept) {
    chan_rec chan, client;
    chan_init(&chan);
    chan_init(&client);
    char upper[] = "LOCALHOST";
    EXPECT_EQ(outcome(&chan, chan_bind(&chan, nullptr, 0, 5)), "0 Could not open net -- no IP Address");
    EXPECT_EQ(outcome(&chan, chan_bind(&chan, "127.0.0.1", 0, 5)), "0 Could not open net -- no Port");
    EXPECT_EQ(outcome(&chan, chan_bind(&chan, UNRESOLVABLE.c_str(), 4000, 5)), NOT_RESOLVED);
    EXPECT_EQ(outcome(&chan, chan_bind_local(&chan, nullptr, 1)), "0 Local Bind Failed -- no IP Address");
    EXPECT_EQ(outcome(&chan, chan_bind_local(&chan, upper, 0)), "0 Local Bind Failed -- no Port");
    EXPECT_EQ(outcome(&chan, chan_bind_local(&chan, upper, free_port())), "0 Socket Not Open");
    EXPECT_EQ(outcome(&chan, chan_accept(&chan) != nullptr), "0 Socket Not Open");

    // A port in use: the unbound socket stays in the channel, and
    // chan_bind_local can bind it (lower-casing the caller's text), once.
    Listener listener;
    EXPECT_EQ(outcome(&chan, chan_bind(&chan, "127.0.0.1", listener.port, 5)), "0 Connection to Socket Failed.");
    EXPECT_EQ(1, chan_isopen(&chan));
    EXPECT_EQ(outcome(&chan, chan_bind_local(&chan, upper, free_port())), "1 ");
    EXPECT_STREQ("localhost", upper);
    EXPECT_STREQ("127.0.0.1", chan_localip(&chan));
    EXPECT_EQ(outcome(&chan, chan_bind_local(&chan, upper, free_port())), "0 Local Socket Bind Failed.");
    chan_clear(&chan);
    EXPECT_EQ(1, chan_block(&listener.chan, 0));  // no connection waiting
    EXPECT_EQ(outcome(&listener.chan, chan_accept(&listener.chan) != nullptr), "0 Resource temporarily unavailable");

    int port = free_port();
    ASSERT_EQ(1, chan_bind(&chan, "All", port, 5)) << error_of(&chan);
    EXPECT_STREQ("0.0.0.0", chan_localip(&chan));
    ASSERT_EQ(1, chan_open(&client, "127.0.0.1", port, 5)) << error_of(&client);
    chan_rec *accepted = chan_accept(&chan);
    ASSERT_NE(nullptr, accepted) << error_of(&chan);
    EXPECT_EQ(30, accepted->timeout_sec);
    EXPECT_TRUE(fcntl(accepted->sock, F_GETFD) & FD_CLOEXEC);
    EXPECT_STREQ("127.0.0.1", chan_remoteip(accepted));
    EXPECT_EQ(1, chan_write(&client, "ping", 4, 1));
    char buf[8];
    EXPECT_EQ(4, chan_read(accepted, buf, 4, 1));
    EXPECT_EQ("ping", std::string(buf, 4));
    for (chan_rec *c : {accepted, &client, &chan})
        chan_clear(c);
    free(accepted);
}

TEST(ChanWait, ReadableWritableTimeOutAndClosed) {
    chan_rec closed;
    chan_init(&closed);
    EXPECT_EQ(outcome(&closed, chan_check(&closed, 0, 0)), "-1 Socket Not Open");
    EXPECT_EQ(-1, chan_check_read(&closed, 0, 0));
    chan_clear(&closed);
    Pair pair;
    EXPECT_EQ(outcome(&pair.client, chan_check_read(&pair.client, 0, 50000)), "0 setting timeout failed");
    EXPECT_EQ(outcome(&pair.client, chan_check(&pair.client, 0, 0)), "2 ");  // idle: writable
    pair.server_send("x");
    EXPECT_EQ(chan_check_read(&pair.client, 2, 0) + chan_check(&pair.client, 2, 0), 2);
    EXPECT_EQ(outcome(&pair.client, chan_check(&pair.client, -1, 0)), "-1 Invalid argument");
}

TEST(ChanWait, DescriptorAbove1024) {
    rlimit limit;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    if (limit.rlim_max < 2000)
        GTEST_SKIP() << "descriptor limit below 2000";
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 2000);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    Pair pair;
    ASSERT_EQ(1500, dup2(pair.client.sock, 1500));
    close(pair.client.sock);
    pair.client.sock = 1500;
    chan_timeout(&pair.client, 0, 100000);
    char buf[8];
    EXPECT_EQ(-2, chan_read_internal(&pair.client, buf, sizeof buf, 1));
    pair.server_send("abc");
    EXPECT_EQ(1, chan_check_read(&pair.client, 2, 0));
    EXPECT_EQ(3, chan_read_internal(&pair.client, buf, sizeof buf, 1));
    EXPECT_EQ(1, chan_write(&pair.client, "ok", 2, 1));
    EXPECT_EQ(2, chan_read_internal(pair.server, buf, sizeof buf, 1));
}

}  // namespace
