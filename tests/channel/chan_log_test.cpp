// The connection log: its entries, byte for byte.
#include "chan_fixture.h"
#include "common/message_log.h"
#include "common/tempdir.h"

TEST(ChanLog, EntriesOfEveryOperation)
{
    TempDir dir;
    EXPECT_EQ(0, set_logfile(nullptr, ""));
    EXPECT_EQ(nullptr, socket_record);
    ASSERT_EQ(1, set_logfile(dir.path().c_str(), "chan.log"));
    logged_messages.clear();  // the entries the log should hold, in order
    {
        Pair pair;
        int port = pair.listener.port, listen_fd = pair.listener.chan.sock, client_fd = pair.client.sock,
            server_fd = pair.server->sock;
        log_message("\nBind Made: 127.0.0.1:%d {%d}\n", port, listen_fd);
        log_message("\nConnection Made: 127.0.0.1:%d {%d}\n", port, client_fd);
        EXPECT_EQ(1, chan_write(&pair.client, "hi\0there\0\0abc", 14, 1));
        log_message("{%d}{size=14} <-- 'hi'\n", client_fd);
        chan_timeout(pair.server, 0, 200000);
        EXPECT_EQ(1, chan_check_read(pair.server, 2, 0));
        free(chan_readln(pair.server, 1));
        // The zero byte hides "there" and "abc" from the line.
        log_message("{%d} --> hidden characters {5}: there\n", server_fd);
        log_message("{%d} --> (14/2) - 8 extra non-null characters - \n", server_fd);
        log_message("{%d} --> (14/2)'hi'\n", server_fd);
        EXPECT_EQ(1, chan_write(&pair.client, "abcdef", 3, 1));
        log_message("{%d}{size=3} <-- 'abc'\n", client_fd);
        pair.server_send("ok\r\nrest");
        free(chan_readln(&pair.client, 1));
        log_message("{%d} --> (8/8)'ok\r\nrest'\n", client_fd);
        chan_close(&pair.client);
        log_message("Closing Connection: {%d}\n", client_fd);
        ASSERT_EQ(1, chan_open(&pair.client, "LOCALHOST", port, 5));  // logged in lower case
        log_message("\nConnection Made: localhost:%d {%d}\n", port, pair.client.sock);
        log_message("Closing Connection: {%d}\n", pair.client.sock);
        chan_close(&pair.client);
        chan_close(pair.server);
        log_message("Closing Connection: {%d}\n", server_fd);
        chan_close(&pair.listener.chan);
        log_message("Closing Connection: {%d}\n", listen_fd);

        // Binding an existing socket: made, then failed on a second bind.
        Listener other;
        chan_rec chan;
        chan_init(&chan);
        EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", other.port, 5));
        char name[] = "LocalHost";
        EXPECT_EQ(1, chan_bind_local(&chan, name, 4567));
        EXPECT_EQ(0, chan_bind_local(&chan, name, 4568));
        log_message("\nBind Made: 127.0.0.1:%d {%d}\n", other.port, other.chan.sock);
        log_message("\nBind Made: localhost:4567 {%d}\n", chan.sock);
        log_message("\nBind Failed: localhost:4568 {%d}\n", chan.sock);
        log_message("Closing Connection: {%d}\n", chan.sock);
        log_message("Closing Connection: {%d}\n", other.chan.sock);
        chan_clear(&chan);
    }
    EXPECT_EQ(0, set_logfile("", nullptr));
    EXPECT_EQ(nullptr, socket_record);
    std::string expected;
    for (const std::string &entry : logged_messages)
        expected += entry;
    EXPECT_EQ(expected, read_file(dir.file("chan.log")));
}
