// Writes, exact reads, line reads and the connection log over loopback.
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "chan_fixture.h"
#include "common/message_log.h"
#include "common/tempdir.h"

namespace {

TEST(ChanIo, ArgumentChecksAndClosedChannels) {
    chan_rec chan;
    chan_init(&chan);
    char buf[4];
    EXPECT_EQ(1, chan_write(nullptr, "x", 0, 1));
    EXPECT_EQ(0, chan_write(&chan, nullptr, 3, 1));
    EXPECT_EQ(outcome(&chan, chan_write(&chan, nullptr, 0, 1)), "1 Trying to Send Invalid Data");  // the text stays
    EXPECT_EQ(outcome(&chan, chan_write(&chan, "abc", 3, 1)), "0 Socket Not Open");
    EXPECT_EQ(outcome(&chan, chan_read_internal(&chan, nullptr, 4, 1)),
              "0 Invalid Data variable in 'chan_read_internal'");
    EXPECT_EQ(outcome(&chan, chan_read(&chan, nullptr, 4, 1)), "0 Invalid Data variable in 'chan_read'");
    EXPECT_EQ(outcome(&chan, chan_read(&chan, buf, 4, 1)), "0 Socket Not Open");
    EXPECT_EQ(nullptr, chan_readln(nullptr, 1));
    chan_clear(&chan);

    Pair pair;  // a peer that closed: the write fails, and no SIGPIPE ends the process
    chan_close(pair.server);
    int result = 1;
    for (int i = 0; i < 100 && result == 1; ++i) {
        result = chan_write(&pair.client, "data", 4, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(result ? 10 : 0));
    }
    EXPECT_EQ(outcome(&pair.client, result), "0 net_write failed to write data correctly.");
}

// A reader that takes the bytes slowly through a small send buffer, so each
// write needs many calls: every byte must arrive and count.
TEST(ChanIo, LargeWritesDeliverEveryByte) {
    const int runs[][3] = {{8 << 20, 1, 1}, {1 << 20, 1, 0}, {1 << 20, 0, 0}};  // size, non-blocking, wait
    for (const auto &run : runs) {
        Pair pair;
        int small = 262144;
        setsockopt(pair.client.sock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        chan_block(&pair.client, !run[1]);
        chan_timeout(&pair.client, 5, 0);
        std::string data(size_t(run[0]), 0), got;
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = char('a' + i % 23);
        std::thread reader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::string chunk(65536, 0);
            for (int reads = 1;; ++reads) {
                ssize_t n = read(pair.server->sock, &chunk[0], chunk.size());
                if (n <= 0)
                    break;
                got.append(chunk, 0, size_t(n));
                if (reads % 16 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        EXPECT_EQ(outcome(&pair.client, chan_write(&pair.client, data.data(), run[0], run[2])), "1 ");
        EXPECT_EQ(run[0], counted(pair.client.sent));
        chan_close(&pair.client);
        reader.join();
        EXPECT_TRUE(got == data) << got.size() << " of " << run[0] << " bytes arrived";
    }
}

TEST(ChanIo, TimedAndExactReads) {
    Pair pair;
    chan_timeout(&pair.client, 0, 200000);
    char buf[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome(&pair.client, chan_read_internal(&pair.client, buf, 16, 1)),
              "-2 setting timeout failed (0/200000)");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(-2, chan_read(&pair.client, buf, 4, 1));
    EXPECT_EQ(nullptr, pair.client.pending);
    pair.server_send("0123456789abcdefghijklmno");  // 25 bytes
    EXPECT_EQ(10, chan_read(&pair.client, buf, 10, 1));
    EXPECT_EQ("0123456789", std::string(buf, 10));
    EXPECT_EQ(10, counted(pair.client.received));  // the rest stays in the socket
    EXPECT_EQ(nullptr, pair.client.pending);
    EXPECT_EQ(10, chan_read(&pair.client, buf, 10, 1));
    // Too few bytes: the wait expires and what was gathered stays pending,
    // to serve a shorter read without touching the socket.
    EXPECT_EQ(-2, chan_read(&pair.client, buf, 10, 1));
    EXPECT_EQ(5, pair.client.pending_len);
    EXPECT_EQ(2, chan_read(&pair.client, buf, 2, 1));
    EXPECT_EQ("kl", std::string(buf, 2));
    EXPECT_STREQ("mno", pair.client.pending);
    pair.server_send(std::string("pq\0stu\0", 7));
    EXPECT_EQ(10, chan_read(&pair.client, buf, 10, 1));
    EXPECT_EQ(std::string("mnopq\0stu\0", 10), std::string(buf, 10));
    EXPECT_EQ(nullptr, pair.client.pending);
    // End of stream before the count is reached: the bytes stay pending.
    chan_timeout(pair.server, -5, 2);  // a negative time-out: writes without waiting
    EXPECT_EQ(1, chan_write(pair.server, "xyz", 3, 1));
    EXPECT_EQ(3, counted(pair.server->sent));
    chan_close(pair.server);
    EXPECT_EQ(outcome(&pair.client, chan_read(&pair.client, buf, 10, 1)), "0 ");
    EXPECT_STREQ("xyz", pair.client.pending);
    for (int wait : {1, 0})
        EXPECT_EQ(outcome(&pair.client, chan_read_internal(&pair.client, buf, 16, wait)), "0 ");
}

// The next line as a string; "<null>" when the reader hands out nothing.
std::string next_line(chan_rec *chan, char *(*reader)(chan_rec *, int) = chan_readln, int wait = 1) {
    std::unique_ptr<char, decltype(&free)> line(reader(chan, wait), free);
    return line ? line.get() : "<null>";
}

TEST(ChanReadln, LineEndsZeroBytesTimeOutAndEndOfStream) {
    Pair pair, other;
    chan_timeout(&pair.client, 0, 100000);
    EXPECT_EQ("<null>", next_line(&pair.client));
    EXPECT_EQ("setting timeout failed (0/100000)", error_of(&pair.client));
    pair.server_send("partial");  // a time-out hands over what is held
    EXPECT_EQ("partial", next_line(&pair.client));
    // A zero byte ends the chunk's text: the line end after it is not taken,
    // the reader waits on, then hands over the text before the zero byte.
    pair.server_send(std::string("ab\0zz\nq", 7));
    EXPECT_EQ(1, chan_check_read(&pair.client, 2, 0));
    EXPECT_EQ("ab", next_line(&pair.client));
    pair.server_send(std::string("12\0" "34", 5));  // raw bytes left by an exact read count up to it too
    char buf[16];
    EXPECT_EQ(-2, chan_read(&pair.client, buf, 8, 1));
    ASSERT_EQ(5, pair.client.pending_len);
    pair.server_send("5\n");
    EXPECT_EQ("125", next_line(&pair.client));
    pair.server_send("abc\r\ndef\n\nx\r\r\n");
    EXPECT_EQ("abc", next_line(&pair.client));
    EXPECT_EQ(9, pair.client.pending_len);
    pair.server_send(std::string(3000, 'L') + "\nxyz");
    chan_close(pair.server);
    for (const std::string &line : std::vector<std::string>{"def", "", "x", std::string(3000, 'L'), "xyz", "<null>"})
        EXPECT_EQ(line, next_line(&pair.client));
    EXPECT_EQ(nullptr, pair.client.pending);
    EXPECT_EQ(0, pair.client.pending_len);

    other.server_send("one\r\ntwo\n");  // the byte reader leaves the rest in the socket
    EXPECT_EQ("one", next_line(&other.client, chan_readln_char));
    EXPECT_EQ(nullptr, other.client.pending);
    EXPECT_EQ(1, chan_check_read(&other.client, 2, 0));
    EXPECT_EQ(4, chan_read_internal(&other.client, buf, sizeof buf, 1));
    EXPECT_EQ("two\n", std::string(buf, 4));
    other.server_send("three\n");
    EXPECT_EQ("three", next_line(&other.client, chan_readln_char, 0));
    chan_close(other.server);
    EXPECT_EQ("<null>", next_line(&other.client, chan_readln_char, 0));
}

TEST(ChanLog, EntriesOfEveryOperation) {
    TempDir dir;
    EXPECT_EQ(set_logfile(nullptr, "") + (socket_record != nullptr), 0);
    ASSERT_EQ(1, set_logfile(dir.path().c_str(), "chan.log"));
    logged_messages.clear();  // the entries the log should hold, in order
    {
        Pair pair;
        Listener other;
        chan_rec chan;
        chan_init(&chan);
        int port = pair.listener.port, listen_fd = pair.listener.chan.sock, client_fd = pair.client.sock,
            server_fd = pair.server->sock;
        log_message("\nBind Made: 127.0.0.1:%d {%d}\n", port, listen_fd);
        log_message("\nConnection Made: 127.0.0.1:%d {%d}\n", port, client_fd);
        log_message("\nBind Made: 127.0.0.1:%d {%d}\n", other.port, other.chan.sock);
        EXPECT_EQ(1, chan_write(&pair.client, "hi\0there\0\0abc", 14, 1));
        log_message("{%d}{size=14} <-- 'hi'\n", client_fd);
        chan_timeout(pair.server, 0, 200000);
        EXPECT_EQ(1, chan_check_read(pair.server, 2, 0));
        free(chan_readln(pair.server, 1));
        log_message("{%d} --> hidden characters {5}: there\n", server_fd);  // behind the zero byte
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
        log_message("\nConnection Made: localhost:%d {%d}\nClosing Connection: {%d}\n", port, pair.client.sock,
                    pair.client.sock);
        chan_close(&pair.client);
        chan_close(pair.server);
        chan_close(&pair.listener.chan);
        log_message("Closing Connection: {%d}\nClosing Connection: {%d}\n", server_fd, listen_fd);
        // Binding an existing socket: made, then failed on a second bind.
        EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", other.port, 5));
        char name[] = "LocalHost";
        EXPECT_EQ(chan_bind_local(&chan, name, 4567) + chan_bind_local(&chan, name, 4568), 1);
        log_message("\nBind Made: localhost:4567 {%d}\n\nBind Failed: localhost:4568 {%d}\n", chan.sock, chan.sock);
        log_message("Closing Connection: {%d}\nClosing Connection: {%d}\n", chan.sock, other.chan.sock);
        chan_clear(&chan);
    }
    EXPECT_EQ(set_logfile("", nullptr) + (socket_record != nullptr), 0);
    std::string expected;
    for (const std::string &entry : logged_messages)
        expected += entry;
    EXPECT_EQ(expected, read_file(dir.file("chan.log")));
}

}  // namespace
