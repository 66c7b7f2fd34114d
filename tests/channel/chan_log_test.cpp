// The connection log: its entries, byte for byte.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "chan_fixture.h"
#include "common/tempdir.h"

static std::string entry(const char *format, ...) __attribute__((format(printf, 1, 2)));

static std::string entry(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

TEST(ChanLog, EntriesOfEveryOperation)
{
    TempDir dir;
    EXPECT_EQ(0, set_logfile(nullptr, ""));
    EXPECT_EQ(nullptr, socket_record);
    ASSERT_EQ(1, set_logfile(dir.path().c_str(), "chan.log"));
    ASSERT_NE(nullptr, socket_record);

    std::string expected;
    {
        Pair pair;
        int listen_fd = pair.listener.chan.sock;
        int client_fd = pair.client.sock;
        int server_fd = pair.server->sock;
        expected += entry("\nBind Made: 127.0.0.1:%d {%d}\n", pair.listener.port, listen_fd);
        expected += entry("\nConnection Made: 127.0.0.1:%d {%d}\n", pair.listener.port, client_fd);

        EXPECT_EQ(1, chan_write(&pair.client, "hi\0there\0\0abc", 14, 1));
        expected += entry("{%d}{size=14} <-- 'hi'\n", client_fd);

        chan_timeout(pair.server, 0, 200000);
        EXPECT_EQ(1, chan_check_read(pair.server, 2, 0));
        char *line = chan_readln(pair.server, 1);
        EXPECT_STREQ("hi", line);
        free(line);
        // The zero byte hides "there" and "abc" from the line.
        expected += entry("{%d} --> hidden characters {5}: there\n", server_fd);
        expected += entry("{%d} --> (14/2) - 8 extra non-null characters - \n", server_fd);
        expected += entry("{%d} --> (14/2)'hi'\n", server_fd);

        EXPECT_EQ(1, chan_write(&pair.client, "abcdef", 3, 1));
        expected += entry("{%d}{size=3} <-- 'abc'\n", client_fd);

        pair.server_send("ok\r\nrest");
        line = chan_readln(&pair.client, 1);
        EXPECT_STREQ("ok", line);
        free(line);
        expected += entry("{%d} --> (8/8)'ok\r\nrest'\n", client_fd);

        chan_close(&pair.client);
        expected += entry("Closing Connection: {%d}\n", client_fd);
        // A host given in capitals is logged in lower case.
        ASSERT_EQ(1, chan_open(&pair.client, "LOCALHOST", pair.listener.port, 5));
        int again_fd = pair.client.sock;
        expected += entry("\nConnection Made: localhost:%d {%d}\n", pair.listener.port, again_fd);
        chan_close(&pair.client);
        expected += entry("Closing Connection: {%d}\n", again_fd);
        chan_close(pair.server);
        expected += entry("Closing Connection: {%d}\n", server_fd);
        chan_close(&pair.listener.chan);
        expected += entry("Closing Connection: {%d}\n", listen_fd);

        // Binding an existing socket: made, then failed on a second bind.
        Listener other;
        chan_rec chan;
        chan_init(&chan);
        EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", other.port, 5));
        char name[] = "LocalHost";
        EXPECT_EQ(1, chan_bind_local(&chan, name, 4567));
        EXPECT_EQ(0, chan_bind_local(&chan, name, 4568));
        expected += entry("\nBind Made: 127.0.0.1:%d {%d}\n", other.port, other.chan.sock);
        expected += entry("\nBind Made: localhost:4567 {%d}\n", chan.sock);
        expected += entry("\nBind Failed: localhost:4568 {%d}\n", chan.sock);
        int fd = chan.sock;
        chan_clear(&chan);
        expected += entry("Closing Connection: {%d}\n", fd);
        expected += entry("Closing Connection: {%d}\n", other.chan.sock);
    }
    EXPECT_EQ(0, set_logfile("", nullptr));
    EXPECT_EQ(nullptr, socket_record);
    EXPECT_EQ(expected, read_file(dir.file("chan.log")));
}
