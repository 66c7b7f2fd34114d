// The channel over real loopback sockets: opening, binding, waiting, writes,
// exact and line reads, the connection log; IPv6 and names of several
// addresses.
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "channel/chanel.h"
#include "common/fake_dns.h"
#include "common/loopback.h"
#include "common/private_resolver.h"
#include "common/process.h"
#include "common/slapd.h"  // free_port
#include "common/tempdir.h"

namespace {

std::string error_of(chan_rec *chan) { return chan_error_string(chan) ? chan_error_string(chan) : ""; }

// A result with the text it left: "0 Socket Not Open".
std::string outcome(chan_rec *chan, long result) { return std::to_string(result) + " " + error_of(chan); }

long long counted(const size_counter &c) { return (c.trillions * 1000000LL + c.millions) * 1000000LL + c.units; }

// What chan_read gives for len bytes: the bytes, or its result.
std::string read_exact(chan_rec *chan, int len)
{
    std::vector<char> buf(size_t(len) + 1);
    int n = chan_read(chan, buf.data(), len, 1);
    return n > 0 ? std::string(buf.data(), size_t(n)) : std::to_string(n);
}

// The next line as a string; "<null>" when the reader hands out nothing.
std::string next_line(chan_rec *chan, char *(*reader)(chan_rec *, int) = chan_readln)
{
    std::unique_ptr<char, decltype(&free)> line(reader(chan, 1), free);
    return line ? line.get() : "<null>";
}

struct Chan : chan_rec {
    Chan() { chan_init(this); }
    ~Chan() { chan_clear(this); }
};

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
    explicit Pair(const char *host = "127.0.0.1", const char *peer = "127.0.0.1") : listener(host)
    {
        EXPECT_EQ(1, chan_open(&client, peer, listener.port, 5)) << error_of(&client);
        server = chan_accept(&listener.chan);
        EXPECT_NE(nullptr, server) << error_of(&listener.chan);
    }
    ~Pair()
    {
        chan_clear(server);
        free(server);
    }
    // Raw bytes from the server end, past the channel layer.
    void server_send(const std::string &bytes)
    {
        ASSERT_EQ(ssize_t(bytes.size()), write(server->sock, bytes.data(), bytes.size()));
    }
    Listener listener;
    Chan client;
    chan_rec *server = nullptr;
};

// A name whose 64-character label the resolver refuses without asking any server.
const std::string UNRESOLVABLE = std::string(64, 'X') + ".INVALID";

TEST(ChanOpen, OpenBindAndAccept)
{
    Chan chan;
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

    // Without a descriptor to spare for the look-up's pipe or the socket,
    // the cause is named: the name is not unknown.
    Chan starved;
    std::string named, numbered;
    {
        NoSpareDescriptors none;
        named = outcome(&starved, chan_open(&starved, "localhost", listener.port, 5));
        numbered = outcome(&starved, chan_open(&starved, "127.0.0.1", listener.port, 5));
    }
    EXPECT_EQ(named, "0 Could not look up {localhost} (Too many open files)");
    EXPECT_EQ(numbered, "0 Failed to open socket correctly. (Too many open files)");

    Chan bound;
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

long long elapsed_ms(std::chrono::steady_clock::time_point since)
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - since).count();
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

    int port = free_port();
    Silent silent("::1", port);  // nothing answers: given up at the time-out
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome(&chan, chan_open(&chan, "::1", port, 1)), "0 Connection to Socket Failed.");
    EXPECT_LT(elapsed_ms(start), 1500);
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

// A name whose first address (::1) refuses or stays silent: the next one
// (127.0.0.1) is reached within the one time-out, its share left intact.
TEST(ChanOpen, NextAddressOfAName)
{
    for (bool silent_first : {false, true}) {
        Listener listener;
        std::unique_ptr<Silent> silent(silent_first ? new Silent("::1", listener.port) : nullptr);
        // The name is in the hosts file; no name server is asked.
        const char *hosts = "::1 both.test\n127.0.0.1 both.test\n";
        std::string result = run_with_resolver("nameserver 127.0.0.153\n", hosts, [&] {
            Chan chan;
            auto start = std::chrono::steady_clock::now();
            std::string opened = outcome(&chan, chan_open(&chan, "both.test", listener.port, 2));
            return opened + " " + (chan_isopen(&chan) ? chan_localip(&chan) : "-") +
                   (elapsed_ms(start) >= 900 ? " waited" : "");
        });
        EXPECT_EQ(result, silent_first ? "1  127.0.0.1 waited" : "1  127.0.0.1");
    }
}

// A name server whose truncated answer sends the resolver to a TCP server
// that never answers: the look-up is given up within the time-out.
TEST(ChanOpen, NameLookUpWithinTheTimeOut)
{
    FakeDns dns("127.0.0.161");
    std::string truncated = dns_reply("hang.test", 1, 0, "");
    truncated[2] |= 0x02;
    dns.serve(truncated);
    int tcp_port = 53, tcp = loopback_listen("127.0.0.161", &tcp_port);
    ASSERT_TRUE(dns.running() && tcp >= 0) << "cannot serve DNS (root needed)";
    std::string result = run_with_resolver("nameserver 127.0.0.161\n", "", [&] {
        Chan chan;
        auto start = std::chrono::steady_clock::now();
        return outcome(&chan, chan_open(&chan, "hang.test", 389, 1)) + (elapsed_ms(start) < 1500 ? "" : " late");
    });
    EXPECT_EQ(result, "0 gethostbyname failed. {hang.test}");
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
    chan_timeout(&pair.client, 0, 50000);
    char buf[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome(&pair.client, chan_read_internal(&pair.client, buf, 16, 1)),
              "-2 setting timeout failed (0/50000)");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    // Each read has the socket in the mode it needs, whatever came before.
    pair.server_send("!");
    EXPECT_EQ(1, chan_read_internal(&pair.client, buf, 16, 0));
    EXPECT_EQ(-2, chan_read_internal(&pair.client, buf, 16, 1));
    pair.server_send("0123456789abcdefghijklmno");  // 25 bytes
    EXPECT_EQ(read_exact(&pair.client, 10), "0123456789");
    EXPECT_EQ(11, counted(pair.client.received));  // the rest stays in the socket
    EXPECT_EQ(read_exact(&pair.client, 10), "abcdefghij");
    // Too few bytes: the wait expires and what was gathered stays pending,
    // to serve a shorter read without touching the socket.
    EXPECT_EQ(read_exact(&pair.client, 10), "-2");
    EXPECT_EQ(read_exact(&pair.client, 2), "kl");
    EXPECT_STREQ("mno", pair.client.pending);
    pair.server_send(std::string("pq\0stu\0", 7));
    EXPECT_EQ(read_exact(&pair.client, 10), std::string("mnopq\0stu\0", 10));
    EXPECT_EQ(nullptr, pair.client.pending);
    // End of stream before the count is reached: the bytes stay pending.
    pair.server_send("xyz");
    chan_close(pair.server);
    EXPECT_EQ(read_exact(&pair.client, 10) + error_of(&pair.client), "0");
    EXPECT_STREQ("xyz", pair.client.pending);
    // Reopened, the record hands out only what the new connection brings.
    chan_close(&pair.client);
    ASSERT_EQ(1, chan_open(&pair.client, "127.0.0.1", pair.listener.port, 5));
    chan_rec *next = chan_accept(&pair.listener.chan);
    ASSERT_NE(nullptr, next);
    ASSERT_EQ(1, chan_write(next, "new", 3, 1));
    EXPECT_EQ(read_exact(&pair.client, 3), "new");
    chan_clear(next);
    free(next);

    // Line reads: line ends, zero bytes, time-outs and the end of the stream.
    Pair lines, other;
    chan_timeout(&lines.client, 0, 50000);
    EXPECT_EQ("<null>", next_line(&lines.client));
    lines.server_send("partial");  // a time-out hands over what is held
    EXPECT_EQ("partial", next_line(&lines.client));
    // A zero byte ends the chunk's text: the line end after it is not taken,
    // the reader waits on, then hands over the text before the zero byte.
    lines.server_send(std::string("ab\0zz\nq", 7));
    EXPECT_EQ(1, chan_check_read(&lines.client, 2, 0));
    EXPECT_EQ("ab", next_line(&lines.client));
    lines.server_send(std::string("12\0"
                                  "34",
                                  5));  // raw bytes left by an exact read count up to it too
    EXPECT_EQ(read_exact(&lines.client, 8), "-2");
    lines.server_send("5\n");
    EXPECT_EQ("125", next_line(&lines.client));
    lines.server_send("abc\r\ndef\n\nx\r\r\n");
    EXPECT_EQ("abc", next_line(&lines.client));
    lines.server_send(std::string(3000, 'L') + "\nxyz");
    chan_close(lines.server);
    for (const std::string &line : std::vector<std::string>{"def", "", "x", std::string(3000, 'L'), "xyz", "<null>"})
        EXPECT_EQ(line, next_line(&lines.client));
    EXPECT_TRUE(!lines.client.pending && !lines.client.pending_len);

    other.server_send("one\r\ntwo\n");  // the byte reader leaves the rest in the socket
    EXPECT_EQ("one", next_line(&other.client, chan_readln_char));
    EXPECT_EQ(nullptr, other.client.pending);
    EXPECT_EQ(read_exact(&other.client, 4), "two\n");
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
    free(chan_readln(&pair.client, 1));
    chan_close(&pair.client);
    EXPECT_EQ(set_logfile("", nullptr) + (socket_record != nullptr), 0);
    char expected[256];
    snprintf(expected, sizeof expected,
             "\nBind Made: 127.0.0.1:%d {%d}\n\nConnection Made: 127.0.0.1:%d {%d}\n{%d}{size=8} <-- 'hi'\n"
             "{%d} --> (8/8)'ok\r\nrest'\nClosing Connection: {%d}\n",
             port, pair.listener.chan.sock, port, fd, fd, fd, fd);
    EXPECT_EQ(expected, read_file(dir.file("chan.log")));
    struct stat file;
    ASSERT_EQ(0, stat(dir.file("chan.log").c_str(), &file));
    EXPECT_EQ(0600u, file.st_mode & 0777u);  // a bind's password may be in it
}

}  // namespace
