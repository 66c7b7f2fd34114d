// The channel over real loopback sockets: opening, binding, waiting, writes,
// exact and line reads, the connection log; IPv6 and names of several
// addresses.
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "chan_testing.h"
#include "common/fake_dns.h"
#include "common/loopback.h"
#include "common/private_resolver.h"
#include "common/process.h"
#include "common/tempdir.h"

namespace {

struct Listener {
    explicit Listener(const char *host = "127.0.0.1")
    {
        // Another process may take the port between free_port and the bind.
        for (int attempt = 0; attempt < 5 && !chan_isopen(&chan); ++attempt)
            if (!chan_bind(&chan, host, port = free_port(), 8)) chan_clear(&chan);
        EXPECT_TRUE(chan_isopen(&chan)) << error_of(&chan);
    }
    Chan chan;
    int port = 0;
};

// A chan_open client (of peer) and its chan_accept server end (on host).
struct Pair {
    explicit Pair(const char *host = "127.0.0.1", const char *peer = "127.0.0.1") : listener(host) { connect(peer); }
    ~Pair() { connect(nullptr); }
    // Opens the client (again, once closed) and accepts its server end; with
    // no peer, only lets the server end go.
    void connect(const char *peer = "127.0.0.1")
    {
        chan_clear(server);
        free(server);
        server = nullptr;
        if (!peer) return;
        EXPECT_EQ(1, chan_open(&client, peer, listener.port, 5)) << error_of(&client);
        server = chan_accept(&listener.chan);
        EXPECT_NE(nullptr, server) << error_of(&listener.chan);
    }
    // Raw bytes from the server end, past the channel layer.
    void server_send(const std::string &s) { ASSERT_EQ(ssize_t(s.size()), write(server->sock, s.data(), s.size())); }
    Listener listener;
    Chan client;
    chan_rec *server = nullptr;
};

// A name whose 64-character label the resolver refuses without asking any server.
const std::string UNRESOLVABLE = std::string(64, 'X') + ".INVALID";

TEST(ChanOpen, OpenBindAndAccept)
{
    Chan chan, bound;
    EXPECT_EQ(outcome(&chan, chan_open(&chan, UNRESOLVABLE.c_str(), 389, 5)),
              "0 gethostbyname failed. {" + std::string(64, 'x') + ".invalid}");
    int port = free_port();
    for (int timeout : {5, 0, INT_MAX}) {  // refused, with and without a connect time-out: never reported as open
        EXPECT_EQ(outcome(&chan, chan_open(&chan, "127.0.0.1", port, timeout)), "0 Connection to Socket Failed.");
        EXPECT_EQ(chan_isopen(&chan) + chan_close(&chan), 0);
    }
    Listener listener;
    ASSERT_EQ(1, chan_open(&chan, "LOCALHOST", listener.port, 5)) << error_of(&chan);
    EXPECT_EQ(std::string(chan_remoteip(&chan)) + " " + chan_localip(&chan), "localhost 127.0.0.1");
    EXPECT_EQ(1, chan_open(&chan, UNRESOLVABLE.c_str(), 0, 5));  // already open: nothing is tried
    // Closed on exec, and back in blocking mode after the timed connect.
    EXPECT_TRUE((fcntl(chan.sock, F_GETFD) & FD_CLOEXEC) && !(fcntl(chan.sock, F_GETFL) & O_NONBLOCK));
    {
        // Without a descriptor to spare for the look-up's pipe or the socket,
        // the cause is named: the name is not unknown.
        NoSpareDescriptors none;
        EXPECT_EQ(outcome(&bound, chan_open(&bound, "localhost", listener.port, 5)),
                  "0 Could not look up {localhost} (Too many open files)");
        EXPECT_EQ(outcome(&bound, chan_open(&bound, "127.0.0.1", listener.port, 5)),
                  "0 Failed to open socket correctly. (Too many open files)");
    }

    char upper[] = "LOCALHOST";
    EXPECT_EQ(outcome(&bound, chan_bind(&bound, nullptr, 0, 5)), "0 Could not open net -- no IP Address");
    EXPECT_EQ(outcome(&bound, chan_accept(&bound) != nullptr), "0 Socket Not Open");
    // A port in use: the unbound socket stays in the channel, and
    // chan_bind_local can bind it (lower-casing the caller's text), once.
    EXPECT_EQ(outcome(&bound, chan_bind(&bound, "127.0.0.1", listener.port, 5)), "0 Connection to Socket Failed.");
    EXPECT_EQ(outcome(&bound, chan_bind_local(&bound, upper, free_port())), "1 ");
    EXPECT_EQ(std::string(upper) + " " + chan_localip(&bound), "localhost 127.0.0.1");
    EXPECT_EQ(outcome(&bound, chan_bind_local(&bound, upper, free_port())), "0 Local Socket Bind Failed.");

    Pair all("All");  // listening on every interface, reached at 127.0.0.1
    ASSERT_NE(nullptr, all.server);
    EXPECT_STREQ("0.0.0.0", chan_localip(&all.listener.chan));
    EXPECT_TRUE(fcntl(all.server->sock, F_GETFD) & FD_CLOEXEC);
}

TEST(ChanOpen, Ipv6AddressesAndTexts)
{
    Pair pair("::1", "::1");  // the peer's address in its usual text form
    EXPECT_STREQ("::1", chan_remoteip(pair.server));
    Chan bracketed, chan;
    EXPECT_EQ(outcome(&bracketed, chan_open(&bracketed, "[::1]", pair.listener.port, 5)), "1 ");
    EXPECT_EQ(std::string(chan_remoteip(&bracketed)) + " " + chan_localip(&bracketed), "[::1] ::1");
    // A bracket left open or closed alone is no address (and never "::", which reaches ::1).
    for (const char *half : {"[::1", "::1]", "[::1:1"})
        EXPECT_EQ(outcome(&chan, chan_open(&chan, half, pair.listener.port, 5)),
                  std::string("0 gethostbyname failed. {") + half + "}");
}

// A zone names an interface, whose name keeps its case: a link-local
// address on the loopback interface of a private network, renamed "Lo".
TEST(ChanOpen, ZoneKeepsItsCase)
{
    std::string result = run_with_resolver("", "", [] {
        // The kernel adds the address's local route after "ip addr" returns,
        // now and then noticeably later: a connect made before it loses its
        // first SYN and finds the network unreachable.
        if (unshare(CLONE_NEWNET) != 0 ||
            system("ip link set lo name Lo && ip link set Lo up && ip addr add fe80::1/64 dev Lo nodad && "
                   "for i in $(seq 500); do [ -n \"$(ip -6 route show table local fe80::1 dev Lo)\" ] && break; "
                   "sleep 0.01; done") != 0)
            return std::string("no private network");
        Listener listener("fe80::1%Lo");
        Chan chan;
        return outcome(&chan, chan_open(&chan, "fe80::1%Lo", listener.port, 2));
    });
    if (result == "no private network")
        GTEST_SKIP() << "no private network namespace here (needs CAP_SYS_ADMIN and ip)";
    EXPECT_EQ(result, "1 ");
}

// A listener on host at port whose queue is full: connections to it get no answer.
struct Silent {
    Silent(const char *host, int port)
    {
        EXPECT_EQ(1, chan_bind(&listener, host, port, 0)) << error_of(&listener);
        EXPECT_EQ(1, chan_open(&queued, host, port, 1)) << error_of(&queued);
    }
    Chan listener, queued;
};

// Names opened within their time-out (1 s or more waited: "waited"). One
// whose first address (::1) refuses or stays silent: the next one
// (127.0.0.1) is reached within the one time-out, its share left intact.
// One whose name server's truncated answer sends the resolver to a TCP
// server that never answers: the look-up is given up at the time-out.
TEST(ChanOpen, NamesWithinTheTimeOut)
{
    FakeDns dns("127.0.0.161");
    std::string truncated = dns_reply("hang.test", 1, 0, "");
    truncated[2] |= 0x02;
    dns.serve(truncated);
    int tcp_port = 53, tcp = loopback_listen("127.0.0.161", &tcp_port);
    ASSERT_TRUE(dns.running() && tcp >= 0) << "cannot serve DNS (root needed)";
    const struct {
        const char *name;
        int timeout;
        bool silent_first;
        const char *expected;
    } rows[] = {
        {"both.test", 2, false, "1  127.0.0.1"},  // both.test is in the hosts file: no name server is asked
        {"both.test", 2, true, "1  127.0.0.1 waited"},
        {"hang.test", 1, false, "0 gethostbyname failed. {hang.test} - waited"},
    };
    for (const auto &row : rows) {
        Listener listener;
        std::unique_ptr<Silent> silent(row.silent_first ? new Silent("::1", listener.port) : nullptr);
        std::string result = run_with_resolver("nameserver 127.0.0.161\n", "::1 both.test\n127.0.0.1 both.test\n", [&] {
            Chan chan;
            Stopwatch watch;
            std::string opened = outcome(&chan, chan_open(&chan, row.name, listener.port, row.timeout)) + " ";
            opened += chan_isopen(&chan) ? chan_localip(&chan) : "-";
            long long ms = watch.ms();
            return opened + (ms >= 900 ? " waited" : "") + (ms > row.timeout * 1000 + 500 ? " late" : "");
        });
        EXPECT_EQ(result, row.expected);
    }
    close(tcp);
}

TEST(ChanIo, ArgumentsClosedChannelsAndWaits)
{
    Chan chan;
    char buf[4];
    EXPECT_EQ(outcome(&chan, chan_write(&chan, nullptr, 3, 1)), "0 Trying to Send Invalid Data");
    EXPECT_EQ(outcome(&chan, chan_open(&chan, nullptr, 389, 5)), "0 Could not open net -- no IP Address");
    EXPECT_EQ(outcome(&chan, chan_read(&chan, nullptr, 4, 1)), "0 Invalid Data variable in 'chan_read'");
    EXPECT_EQ(outcome(&chan, chan_write(&chan, "abc", 3, 1) + chan_read(&chan, buf, 4, 1)), "0 Socket Not Open");
    EXPECT_EQ(outcome(&chan, chan_check(&chan, 0, 0) + chan_check_read(&chan, 0, 0)), "-2 Socket Not Open");

    Pair pair;
    EXPECT_EQ(outcome(&pair.client, chan_check_read(&pair.client, 0, 50000)), "0 setting timeout failed");
    EXPECT_EQ(outcome(&pair.client, chan_check(&pair.client, 0, 0)), "2 ");  // idle: writable
    pair.server_send("x");
    EXPECT_EQ(chan_check_read(&pair.client, 2, 0) + chan_check(&pair.client, 2, 0), 2);
    chan_close(pair.server);  // a peer that closed: the write fails, and no SIGPIPE ends the process
    int result = 1;
    for (int i = 0; i < 100 && result == 1; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        result = chan_write(&pair.client, "data", 4, 1);
    EXPECT_EQ(outcome(&pair.client, result), "0 net_write failed to write data correctly.");
    // A close that fails has still let the descriptor go (its number may be
    // another file's by now): the record is no longer open.
    Pair gone;
    close(gone.client.sock);
    EXPECT_EQ(outcome(&gone.client, chan_close(&gone.client)), "0 Bad file descriptor");
    EXPECT_EQ(outcome(&gone.client, chan_isopen(&gone.client)), "0 Bad file descriptor");
    close(gone.server->sock);  // and a clear keeps no text of it
    chan_clear(gone.server);
    EXPECT_EQ(outcome(gone.server, chan_isopen(gone.server)), "0 ");

    rlimit limit;  // a descriptor above 1024
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    if (limit.rlim_max < 2000) GTEST_SKIP() << "descriptor limit below 2000";
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 2000);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    Pair high;
    ASSERT_EQ(1500, dup2(high.client.sock, 1500));
    close(high.client.sock);
    high.client.sock = 1500;
    EXPECT_EQ(0, chan_check_read(&high.client, 0, 50000));
    high.server_send("abc");
    EXPECT_EQ(read_exact(&high.client, 3), "abc");
}

// A reader that takes the bytes slowly through a small send buffer, so each
// write needs many calls: every byte must arrive and count.
TEST(ChanIo, LargeWritesDeliverEveryByte)
{
    const int runs[][3] = {{8 << 20, 1, 1}, {1 << 20, 1, 0}, {1 << 20, 0, 0}};  // size, non-blocking, wait
    for (const auto &run : runs) {
        Pair pair;
        int small = 262144;
        setsockopt(pair.client.sock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        chan_block(&pair.client, !run[1]);
        chan_timeout(&pair.client, 5, 0);
        std::string data(size_t(run[0]), 0), got;
        for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 23);
        std::thread reader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            char chunk[65536];
            for (ssize_t n; (n = read(pair.server->sock, chunk, sizeof chunk)) > 0;
                 std::this_thread::sleep_for(std::chrono::microseconds(100)))
                got.append(chunk, size_t(n));
        });
        EXPECT_EQ(outcome(&pair.client, chan_write(&pair.client, data.data(), run[0], run[2])), "1 ");
        EXPECT_EQ(run[0], counted(pair.client.sent));
        chan_close(&pair.client);
        reader.join();
        EXPECT_TRUE(got == data) << got.size() << " of " << run[0] << " bytes arrived";
    }
}

TEST(ChanIo, TimedExactAndLineReads)
{
    Pair pair;
    chan_rec *client = &pair.client;
    chan_timeout(client, 0, 50000);
    const std::string expired = "-2 setting timeout failed (0/50000)";
    Stopwatch watch;
    EXPECT_EQ(read_exact(client, 16, 1, chan_read_internal), expired);
    EXPECT_GE(watch.ms(), 40);
    // Each read has the socket in the mode it needs, whatever came before.
    pair.server_send("!");
    EXPECT_EQ(read_exact(client, 16, 0, chan_read_internal), "!");
    EXPECT_EQ(read_exact(client, 16, 1, chan_read_internal), expired);
    pair.server_send("0123456789abcdefghijklmno");  // 25 bytes
    EXPECT_EQ(read_exact(client, 10), "0123456789");
    EXPECT_EQ(11, counted(client->received));  // the rest stays in the socket
    EXPECT_EQ(read_exact(client, 10), "abcdefghij");
    // Too few bytes: the wait expires and what was gathered stays pending,
    // to serve a shorter read without touching the socket.
    EXPECT_EQ(read_exact(client, 10), expired);
    EXPECT_EQ(read_exact(client, 2), "kl");
    EXPECT_STREQ("mno", client->pending);
    pair.server_send(std::string("pq\0stu\0", 7));
    EXPECT_EQ(read_exact(client, 10), std::string("mnopq\0stu\0", 10));
    EXPECT_EQ(nullptr, client->pending);
    // End of stream before the count is reached: the bytes stay pending.
    pair.server_send("xyz");
    chan_close(pair.server);
    EXPECT_EQ(read_exact(client, 10), "0 ");
    EXPECT_STREQ("xyz", client->pending);
    // Reopened, the record hands out only what the new connection brings.
    chan_close(client);
    pair.connect();
    pair.server_send("new");
    EXPECT_EQ(read_exact(client, 3), "new");

    // Line reads: line ends, zero bytes, time-outs and the end of the stream.
    EXPECT_EQ("<null>", next_line(client));
    pair.server_send("partial");  // a time-out hands over what is held
    EXPECT_EQ("partial", next_line(client));
    // A zero byte ends the chunk's text: the line end after it is not taken,
    // the reader waits on, then hands over the text before the zero byte.
    pair.server_send(std::string("ab\0zz\nq", 7));
    EXPECT_EQ(1, chan_check_read(client, 2, 0));
    EXPECT_EQ("ab", next_line(client));
    pair.server_send(std::string("12\0"
                                 "34",
                                 5));  // raw bytes left by an exact read count up to it too
    EXPECT_EQ(read_exact(client, 8), expired);
    pair.server_send("5\n");
    EXPECT_EQ("125", next_line(client));
    pair.server_send("one\r\ntwo\n");  // the byte reader leaves the rest in the socket
    EXPECT_EQ("one", next_line(client, chan_readln_char));
    EXPECT_EQ(nullptr, client->pending);
    EXPECT_EQ(read_exact(client, 4), "two\n");
    pair.server_send("abc\r\ndef\n\nx\r\r\n");
    EXPECT_EQ("abc", next_line(client));
    pair.server_send(std::string(3000, 'L') + "\nxyz");
    chan_close(pair.server);
    for (const std::string &line : std::vector<std::string>{"def", "", "x", std::string(3000, 'L'), "xyz", "<null>"})
        EXPECT_EQ(line, next_line(client));
    EXPECT_TRUE(!client->pending && !client->pending_len);
}

// One entry of each kind: bind, connection, write (its text up to a zero
// byte), read and close.
TEST(ChanLog, EntriesOfEachOperation)
{
    TempDir dir;
    EXPECT_EQ(set_logfile(nullptr, "") + (socket_record != nullptr), 0);
    ASSERT_EQ(1, set_logfile(dir.path().c_str(), "chan.log"));
    Pair pair;
    int port = pair.listener.port, fd = pair.client.sock;
    EXPECT_EQ(1, chan_write(&pair.client, "hi\0there", 8, 1));
    pair.server_send("ok\r\nrest");
    next_line(&pair.client);
    chan_close(&pair.client);
    EXPECT_EQ(set_logfile("", nullptr) + (socket_record != nullptr), 0);
    char expected[256];
    snprintf(expected, sizeof expected,
             "\nBind Made: 127.0.0.1:%d {%d}\n\nConnection Made: 127.0.0.1:%d {%d}\n{%d}{size=8} <-- 'hi'\n"
             "{%d} --> (8/8)'ok\r\nrest'\nClosing Connection: {%d}\n",
             port, pair.listener.chan.sock, port, fd, fd, fd, fd);
    EXPECT_EQ(expected, read_file(dir.file("chan.log")));
    using std::filesystem::perms;  // a bind's password may be in it
    EXPECT_EQ(std::filesystem::status(dir.file("chan.log")).permissions(), perms::owner_read | perms::owner_write);
}

}  // namespace
