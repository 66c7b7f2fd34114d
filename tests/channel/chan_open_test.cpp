// Opening, binding, accepting and waiting on real loopback sockets.
#include <fcntl.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>

#include "chan_fixture.h"

namespace {

// A name whose 64-character label the resolver refuses without asking any
// server.
const std::string UNRESOLVABLE = std::string(64, 'X') + ".INVALID";

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ChanOpen, FailuresLeaveTheChannelClosed)
{
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(0, chan_open(nullptr, "127.0.0.1", 1, 1));
    EXPECT_EQ(0, chan_open(&chan, "127.0.0.1", 0, 5));
    EXPECT_EQ("Could not open net -- no Port", error_of(&chan));
    EXPECT_EQ(0, chan_open(&chan, UNRESOLVABLE.c_str(), 389, 5));
    EXPECT_EQ("gethostbyname failed. {" + std::string(64, 'x') + ".invalid}", error_of(&chan));
    // Refused with and without a connect time-out: never reported as open.
    int port = free_port();
    for (int timeout : {5, 0}) {
        EXPECT_EQ(0, chan_open(&chan, "127.0.0.1", port, timeout)) << timeout;
        EXPECT_EQ("Connection to Socket Failed.", error_of(&chan));
        EXPECT_EQ(0, chan_isopen(&chan));
        EXPECT_EQ(nullptr, chan.remoteip);
    }
    EXPECT_EQ(0, chan_close(&chan));
    chan_clear(&chan);
    chan_clear(nullptr);

    // A full backlog: the connect times out.
    Listener listener(0);
    chan_rec fillers[2];
    for (chan_rec &filler : fillers) {
        chan_init(&filler);
        chan_open(&filler, "127.0.0.1", listener.port, 1);
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, chan_open(&chan, "127.0.0.1", listener.port, 1));
    EXPECT_EQ("Connection to Socket Failed.", error_of(&chan));
    EXPECT_GE(seconds_since(start), 0.9);
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_EQ(0, chan_isopen(&chan));
    chan_clear(&chan);
    for (chan_rec &filler : fillers)
        chan_clear(&filler);
}

TEST(ChanOpen, ConnectsStoresHostAndIgnoresReopen)
{
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
    // The connection ends in blocking mode; probe without blocking.
    char byte;
    EXPECT_EQ(-1, recv(chan.sock, &byte, 1, MSG_DONTWAIT));
    EXPECT_EQ(EAGAIN, errno);
    EXPECT_EQ(1, chan_close(&chan));
    ASSERT_EQ(1, chan_open(&chan, "127.0.0.1", listener.port, 0)) << error_of(&chan);
    EXPECT_STREQ("127.0.0.1", chan.remoteip);
    chan_clear(&chan);
    EXPECT_EQ(nullptr, chan.remoteip);
}

TEST(ChanBind, FailuresLocalBindAndAccept)
{
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(0, chan_bind(&chan, nullptr, 0, 5));
    EXPECT_EQ("Could not open net -- no IP Address", error_of(&chan));
    EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", 0, 5));
    EXPECT_EQ("Could not open net -- no Port", error_of(&chan));
    EXPECT_EQ(0, chan_bind(&chan, UNRESOLVABLE.c_str(), 4000, 5));
    EXPECT_EQ("gethostbyname failed. {" + std::string(64, 'x') + ".invalid}", error_of(&chan));
    char upper[] = "LOCALHOST";
    EXPECT_EQ(0, chan_bind_local(&chan, nullptr, 1));
    EXPECT_EQ("Local Bind Failed -- no IP Address", error_of(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, 0));
    EXPECT_EQ("Local Bind Failed -- no Port", error_of(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, free_port()));
    EXPECT_EQ("Socket Not Open", error_of(&chan));
    EXPECT_EQ(nullptr, chan_accept(&chan));
    EXPECT_EQ("Socket Not Open", error_of(&chan));

    // A port in use: the unbound socket stays in the channel, and
    // chan_bind_local can bind it (lower-casing the caller's text), once.
    Listener listener;
    EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", listener.port, 5));
    EXPECT_EQ("Connection to Socket Failed.", error_of(&chan));
    EXPECT_EQ(1, chan_isopen(&chan));
    EXPECT_EQ(1, chan_bind_local(&chan, upper, free_port())) << error_of(&chan);
    EXPECT_STREQ("localhost", upper);
    EXPECT_STREQ("127.0.0.1", chan_localip(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, free_port()));
    EXPECT_EQ("Local Socket Bind Failed.", error_of(&chan));
    chan_clear(&chan);
    EXPECT_EQ(1, chan_block(&listener.chan, 0));  // no connection waiting
    EXPECT_EQ(nullptr, chan_accept(&listener.chan));
    EXPECT_EQ("Resource temporarily unavailable", error_of(&listener.chan));

    int port = free_port();
    ASSERT_EQ(1, chan_bind(&chan, "All", port, 5)) << error_of(&chan);
    EXPECT_STREQ("0.0.0.0", chan_localip(&chan));
    chan_rec client;
    chan_init(&client);
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
    chan_clear(accepted);
    free(accepted);
    chan_clear(&client);
    chan_clear(&chan);
}

TEST(ChanWait, ReadableWritableTimeOutAndClosed)
{
    chan_rec closed;
    chan_init(&closed);
    EXPECT_EQ(-1, chan_check(&closed, 0, 0));
    EXPECT_EQ("Socket Not Open", error_of(&closed));
    EXPECT_EQ(-1, chan_check_read(&closed, 0, 0));
    chan_clear(&closed);

    Pair pair;
    EXPECT_EQ(0, chan_check_read(&pair.client, 0, 50000));
    EXPECT_EQ("setting timeout failed", error_of(&pair.client));
    EXPECT_EQ(2, chan_check(&pair.client, 0, 0));  // idle: writable
    EXPECT_EQ(nullptr, chan_error_string(&pair.client));
    pair.server_send("x");
    EXPECT_EQ(1, chan_check_read(&pair.client, 2, 0));
    EXPECT_EQ(1, chan_check(&pair.client, 2, 0));
    EXPECT_EQ(-1, chan_check(&pair.client, -1, 0));
    EXPECT_EQ("Invalid argument", error_of(&pair.client));
}

TEST(ChanWait, DescriptorAbove1024)
{
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
