// Line readers over loopback connections.
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "chan_fixture.h"

// The next line as a string; "<null>" when the reader hands out nothing.
static std::string next_line(chan_rec *chan, char *(*reader)(chan_rec *, int) = chan_readln,
                             int wait = 1)
{
    std::unique_ptr<char, decltype(&free)> line(reader(chan, wait), free);
    return line ? line.get() : "<null>";
}

TEST(ChanReadln, LineEndsTimeOutAndEndOfStream)
{
    EXPECT_EQ(nullptr, chan_readln(nullptr, 1));
    Pair pair;
    chan_timeout(&pair.client, 0, 100000);
    EXPECT_EQ("<null>", next_line(&pair.client));
    EXPECT_EQ("setting timeout failed (0/100000)", error_of(&pair.client));
    pair.server_send("partial");  // a time-out hands over what is held
    EXPECT_EQ("partial", next_line(&pair.client));

    pair.server_send("abc\r\ndef\n\nx\r\r\n");
    EXPECT_EQ("abc", next_line(&pair.client));
    EXPECT_STREQ("def\n\nx\r\r\n", pair.client.pending);
    EXPECT_EQ(9, pair.client.pending_len);
    pair.server_send(std::string(3000, 'L') + "\nxyz");
    pair.server_close();
    const std::string lines[] = {"def", "", "x", std::string(3000, 'L'), "xyz", "<null>"};
    for (const std::string &line : lines)
        EXPECT_EQ(line, next_line(&pair.client));
    EXPECT_EQ(nullptr, pair.client.pending);
    EXPECT_EQ(0, pair.client.pending_len);
}

TEST(ChanReadln, ZeroByteEndsTheChunksText)
{
    Pair pair;
    chan_timeout(&pair.client, 0, 200000);
    pair.server_send(std::string("ab\0zz\nq", 7));
    EXPECT_EQ(1, chan_check_read(&pair.client, 2, 0));
    // The line end after the zero byte is not taken: the reader waits on,
    // then hands over the text before the zero byte.
    EXPECT_EQ("ab", next_line(&pair.client));
    // Raw bytes left by an exact read count up to their zero byte too.
    pair.server_send(std::string("12\0" "34", 5));
    char buf[8];
    EXPECT_EQ(-2, chan_read(&pair.client, buf, 8, 1));
    ASSERT_EQ(5, pair.client.pending_len);
    pair.server_send("5\n");
    EXPECT_EQ("125", next_line(&pair.client));
}

TEST(ChanReadln, ByteReaderLeavesTheRestInTheSocket)
{
    Pair pair;
    pair.server_send("one\r\ntwo\n");
    EXPECT_EQ("one", next_line(&pair.client, chan_readln_char));
    EXPECT_EQ(nullptr, pair.client.pending);
    char buf[16];
    EXPECT_EQ(1, chan_check_read(&pair.client, 2, 0));
    EXPECT_EQ(4, chan_read_internal(&pair.client, buf, sizeof buf, 1));
    EXPECT_EQ("two\n", std::string(buf, 4));
    pair.server_send("three\n");
    EXPECT_EQ("three", next_line(&pair.client, chan_readln_char, 0));
    pair.server_close();
    EXPECT_EQ("<null>", next_line(&pair.client, chan_readln_char, 0));
}
