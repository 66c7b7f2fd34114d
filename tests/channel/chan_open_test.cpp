// Channel record, open and close against real loopback sockets.
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "chan_fixture.h"

// A name whose 64-character label the resolver refuses without asking any
// server.
static const std::string UNRESOLVABLE = std::string(64, 'X') + ".INVALID";

TEST(ChanRecord, FreshRecordAndNulls)
{
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(0, chan_isopen(&chan));
    EXPECT_EQ(30, chan.timeout_sec);
    EXPECT_EQ(0, chan_close(&chan));
    chan_clear(&chan);
    chan_clear(nullptr);
    EXPECT_EQ(0, chan_open(nullptr, "127.0.0.1", 1, 1));
    errno = ENOENT;
    char *text = chan_texterror();
    EXPECT_STREQ("No such file or directory", text);
    free(text);
    EXPECT_EQ(0, check_string_digit("10.0.0.x"));
}

TEST(ChanOpen, FailuresLeaveTheChannelClosed)
{
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(0, chan_open(&chan, "127.0.0.1", 0, 5));
    EXPECT_EQ("Could not open net -- no Port", error_of(&chan));
    EXPECT_EQ(0, chan_open(&chan, UNRESOLVABLE.c_str(), 389, 5));
    EXPECT_EQ("gethostbyname failed. {" + std::string(64, 'x') + ".invalid}", error_of(&chan));
    EXPECT_EQ(0, chan_isopen(&chan));

    // Refused with and without a connect time-out: never reported as open.
    int port = free_port();
    for (int timeout : {5, 0}) {
        EXPECT_EQ(0, chan_open(&chan, "127.0.0.1", port, timeout)) << timeout;
        EXPECT_EQ("Connection to Socket Failed.", error_of(&chan));
        EXPECT_EQ(0, chan_isopen(&chan));
        EXPECT_EQ(nullptr, chan.remoteip);
    }
    chan_clear(&chan);
}

TEST(ChanOpen, ConnectsStoresHostAndIgnoresReopen)
{
    Listener listener;
    chan_rec chan;
    chan_init(&chan);
    ASSERT_EQ(1, chan_open(&chan, "LOCALHOST", listener.port, 5)) << error_of(&chan);
    EXPECT_STREQ("localhost", chan_remoteip(&chan));
    EXPECT_STREQ("127.0.0.1", chan_localip(&chan));

    // Already open: nothing is tested or changed.
    uint16_t sock = chan.sock;
    EXPECT_EQ(1, chan_open(&chan, UNRESOLVABLE.c_str(), 0, 5));
    EXPECT_EQ(sock, chan.sock);

    // The connection ends in blocking mode; probe without blocking.
    char byte;
    EXPECT_EQ(-1, recv(chan.sock, &byte, 1, MSG_DONTWAIT));
    EXPECT_EQ(EAGAIN, errno);

    EXPECT_EQ(1, chan_close(&chan));
    EXPECT_EQ(0, chan_close(&chan));
    // Reopened with a dotted address and a blocking connect.
    ASSERT_EQ(1, chan_open(&chan, "127.0.0.1", listener.port, 0)) << error_of(&chan);
    EXPECT_STREQ("127.0.0.1", chan.remoteip);
    chan_clear(&chan);
    EXPECT_EQ(0, chan_isopen(&chan));
    EXPECT_EQ(nullptr, chan.remoteip);
}

TEST(ChanOpen, ConnectTimesOutOnFullBacklog)
{
    Listener listener(0);
    chan_rec fillers[2], chan;
    for (chan_rec &filler : fillers) {
        chan_init(&filler);
        chan_open(&filler, "127.0.0.1", listener.port, 1);
    }
    chan_init(&chan);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, chan_open(&chan, "127.0.0.1", listener.port, 1));
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ("Connection to Socket Failed.", error_of(&chan));
    EXPECT_EQ(0, chan_isopen(&chan));
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 5.0);
    chan_clear(&chan);
    for (chan_rec &filler : fillers)
        chan_clear(&filler);
}
