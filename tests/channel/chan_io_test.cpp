// Writes and reads over loopback connections.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "chan_fixture.h"

TEST(ChanIo, ArgumentChecks)
{
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(1, chan_write(nullptr, "x", 0, 1));
    EXPECT_EQ(0, chan_write(&chan, nullptr, 3, 1));
    EXPECT_EQ("Trying to Send Invalid Data", error_of(&chan));
    EXPECT_EQ(1, chan_write(&chan, nullptr, 0, 1));  // nothing to do: the text stays
    EXPECT_EQ("Trying to Send Invalid Data", error_of(&chan));
    EXPECT_EQ(0, chan_write(&chan, "abc", 3, 1));
    EXPECT_EQ("Socket Not Open", error_of(&chan));

    char buf[4];
    EXPECT_EQ(0, chan_read_internal(&chan, nullptr, 4, 1));
    EXPECT_EQ("Invalid Data variable in 'chan_read_internal'", error_of(&chan));
    EXPECT_EQ(0, chan_read(&chan, nullptr, 4, 1));
    EXPECT_EQ("Invalid Data variable in 'chan_read'", error_of(&chan));
    EXPECT_EQ(0, chan_read(&chan, buf, 4, 1));
    EXPECT_EQ("Socket Not Open", error_of(&chan));
    chan_clear(&chan);
}

TEST(ChanIo, PeerClosedFailsWithoutSignal)
{
    check_winstock();
    Pair pair;
    pair.server_close();
    int result = 1;
    for (int i = 0; i < 100 && result == 1; ++i) {
        result = chan_write(&pair.client, "data", 4, 1);
        if (result == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ("net_write failed to write data correctly.", error_of(&pair.client));
}

// Writes size bytes to a reader that takes them slowly through a small send
// buffer, so the write needs many calls; every byte must arrive and count.
static void write_to_slow_reader(int size, int nonblocking, int wait)
{
    Pair pair;
    int small = 262144;
    setsockopt(pair.client.sock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    chan_block(&pair.client, nonblocking ? 0 : 1);
    chan_timeout(&pair.client, 5, 0);
    std::string data(size_t(size), 0);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char('a' + i % 23);
    std::string got;
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
    EXPECT_EQ(1, chan_write(&pair.client, data.data(), size, wait)) << error_of(&pair.client);
    EXPECT_EQ(size, counted(pair.client.sent));
    chan_close(&pair.client);
    reader.join();
    EXPECT_TRUE(got == data) << got.size() << " of " << size << " bytes arrived";
}

TEST(ChanIo, LargeWritesDeliverEveryByte)
{
    write_to_slow_reader(8 << 20, 1, 1);  // timed waits between short writes
    write_to_slow_reader(1 << 20, 0, 1);  // timed writes on a blocking socket
    write_to_slow_reader(1 << 20, 1, 0);  // non-blocking socket, no wait flag
    write_to_slow_reader(1 << 20, 0, 0);  // plain blocking write
}

TEST(ChanIo, TimedReadExpiresAndEndOfStream)
{
    Pair pair;
    chan_timeout(&pair.client, 0, 200000);
    char buf[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-2, chan_read_internal(&pair.client, buf, sizeof buf, 1));
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 0.15);
    EXPECT_EQ("setting timeout failed (0/200000)", error_of(&pair.client));
    EXPECT_EQ(1, chan_isopen(&pair.client));

    // A stored time-out whose sum is negative writes without waiting.
    chan_timeout(pair.server, -5, 2);
    EXPECT_EQ(1, chan_write(pair.server, "abc", 3, 1));
    EXPECT_EQ(3, counted(pair.server->sent));
    pair.server_close();
    EXPECT_EQ(3, chan_read_internal(&pair.client, buf, sizeof buf, 1));
    EXPECT_EQ(3, counted(pair.client.received));
    for (int wait : {1, 0}) {
        EXPECT_EQ(0, chan_read_internal(&pair.client, buf, sizeof buf, wait));
        EXPECT_EQ(nullptr, chan_error_string(&pair.client));
    }
}

TEST(ChanIo, ExactReadsKeepTheRestPending)
{
    Pair pair;
    chan_timeout(&pair.client, 0, 200000);
    char buf[16] = {};
    EXPECT_EQ(-2, chan_read(&pair.client, buf, 4, 1));
    EXPECT_EQ(nullptr, pair.client.pending);

    // Only what was asked for leaves the socket.
    pair.server_send("0123456789abcdefghijklmno");  // 25 bytes
    EXPECT_EQ(10, chan_read(&pair.client, buf, 10, 1));
    EXPECT_EQ("0123456789", std::string(buf, 10));
    EXPECT_EQ(10, counted(pair.client.received));
    EXPECT_EQ(nullptr, pair.client.pending);
    EXPECT_EQ(10, chan_read(&pair.client, buf, 10, 1));

    // Too few bytes: the wait expires and what was gathered stays pending,
    // to serve a shorter read without touching the socket.
    EXPECT_EQ(-2, chan_read(&pair.client, buf, 10, 1));
    EXPECT_EQ(5, pair.client.pending_len);
    EXPECT_STREQ("klmno", pair.client.pending);
    EXPECT_EQ(2, chan_read(&pair.client, buf, 2, 1));
    EXPECT_EQ("kl", std::string(buf, 2));
    EXPECT_STREQ("mno", pair.client.pending);

    pair.server_send(std::string("pq\0stu\0", 7));
    EXPECT_EQ(10, chan_read(&pair.client, buf, 10, 1));
    EXPECT_EQ(std::string("mnopq\0stu\0", 10), std::string(buf, 10));
    EXPECT_EQ(nullptr, pair.client.pending);

    // End of stream before the count is reached: the bytes stay pending.
    pair.server_send("xyz");
    pair.server_close();
    EXPECT_EQ(0, chan_read(&pair.client, buf, 10, 1));
    EXPECT_EQ(nullptr, chan_error_string(&pair.client));
    EXPECT_STREQ("xyz", pair.client.pending);
}
