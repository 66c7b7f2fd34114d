// Readiness waits on loopback connections.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "chan_fixture.h"

TEST(ChanWait, ReadableWritableTimeOutAndClosed)
{
    chan_rec closed;
    chan_init(&closed);
    EXPECT_EQ(-1, chan_check(&closed, 0, 0));
    EXPECT_EQ("Socket Not Open", error_of(&closed));
    EXPECT_EQ(-1, chan_check_read(&closed, 0, 0));
    EXPECT_EQ(CHAN_NOT_OPEN, closed.sock);
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
    if (limit.rlim_cur < 2000) {
        limit.rlim_cur = 2000;
        ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    }
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
