// extern_book when the directory misbehaves: a scripted server that ends
// searches on a time limit, sends junk, announces replies too large to
// buffer or falls silent; a slapd killed in the middle of a long search.
// Each fault fails one command in good time, and the next one is answered.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "book_testing.h"
#include "common/fake_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using Make = std::function<std::string(int id)>;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The next request, answered by what make builds for its message ID.
void answer(FakeServer &fake, Make make)
{
    fake.read_request().reply([make](const std::string &request) { return make(ber_message_id(request)); });
}

// Entries cn=a, cn=b, ... of a search.
std::string entries(int id, int count)
{
    std::string out;
    for (char c = 'a'; c < 'a' + count; c++)
        out += ldap_entry_bytes(id, std::string("cn=") + c, "cn", std::string(1, c));
    return out;
}

const Make BIND_OK = [](int id) { return ldap_result_bytes(0x61, id, 0); };
const Make TWO = [](int id) { return entries(id, 2) + ldap_result_bytes(0x65, id, 0); };
const std::string ALL = "SEARCH AND 1-0 name=*";
const std::string TWO_FOUND = "cn!3Da,\ncn!3Db" + located(2);

}  // namespace

TEST(ScriptedDirectory, FaultsFailOneCommandEach)
{
    std::mt19937 random(20261207);
    std::string noise(2044, '\0');
    for (char &c : noise)
        c = static_cast<char>(random());
    const std::string huge = hex_bytes("30 84 04 00 00 01 02 01");  // 64 MiB + 1 announced
    const Make junk[] = {
        [](int) { return "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\nNot LDAP.\r\n"; },
        // An operation no server sends; a DN longer than its entry.
        [](int id) { return hex_bytes("30 05 02 01") + char(id) + hex_bytes("57 00"); },
        [](int id) { return hex_bytes("30 0c 02 01") + char(id) + hex_bytes("64 07 04 40 63 6e 3d 61 30"); },
        // A value announcing 64 MiB + 1 inside a small message.
        [](int id) {
            return hex_bytes("30 19 02 01") + char(id) +
                   hex_bytes("64 14 04 04 63 6e 3d 61 30 0c 30 0a 04 02 63 6e 31 84 04 00 00 01");
        },
        // A notice of disconnection (message ID 0) instead of the reply.
        [](int) {
            return hex_bytes("30 24 02 01 00 78 1f 0a 01 02 04 00 04 00 8a 16") + "1.3.6.1.4.1.1466.20036";
        },
        [noise](int) { return hex_bytes("30 82 07 fc") + noise; },  // random octets, well wrapped
        // A message of 64 MiB + 1, alone or after an entry in the same read.
        [huge](int id) { return huge + char(id) + "\x64"; },
        [huge](int id) { return entries(id, 1) + huge + char(id) + "\x64"; },
    };
    FakeServer fake;
    answer(fake, BIND_OK);
    answer(fake, [](int id) { return entries(id, 3) + ldap_result_bytes(0x65, id, 3, "out of time"); });
    answer(fake, [](int id) { return ldap_result_bytes(0x65, id, 3, "out of time"); });
    // Junk for the search, on a connection left open: refused at once. The
    // bind of the one retry gets junk too, on a connection also left open:
    // the command fails without waiting for an answer to its unbind. The
    // next one reconnects and is served.
    for (const Make &make : junk) {
        answer(fake, make);
        answer(fake.next_connection(true), make);
        answer(fake.next_connection(true), BIND_OK);
        answer(fake, TWO);
    }
    // Silent halfway through a reply: waited for once, for the 30 s read
    // time-out; the retry on a new connection gets the whole answer.
    answer(fake, [](int id) { return entries(id, 2).substr(0, 30); });
    answer(fake.next_connection(true), BIND_OK);
    answer(fake, TWO);
    answer(fake, TWO);
    fake.start();

    Book book("host 127.0.0.1\nport " + std::to_string(fake.port()) + "\nfield name STRING cn true\n");
    const std::string limit = "Error: LDAP: Search {Time Limit Exceeded - out of time}\n";
    book.converse({{"SEARCH AND 2-0 name=*", limit + "cn!3Db,\ncn!3Dc" + located(3)},
                   {ALL, limit + NONE}});
    // A search asks for DNs only: the attribute list "1.1".
    EXPECT_TRUE(ends_with(fake.requests().at(1), hex_bytes("30 05 04 03") + "1.1"));
    for (size_t i = 0; i < std::size(junk); i++) {
        auto start = Clock::now();
        EXPECT_TRUE(ends_with(book.ask(ALL), NONE)) << "junk " << i;
        EXPECT_LT(seconds_since(start), 5.0) << "junk " << i;
        EXPECT_EQ(book.ask(ALL), TWO_FOUND) << "junk " << i;
    }
    auto start = Clock::now();
    EXPECT_EQ(book.ask(ALL, 45000), TWO_FOUND);
    EXPECT_GT(seconds_since(start), 29.0);
    EXPECT_LT(seconds_since(start), 40.0);
    start = Clock::now();
    EXPECT_EQ(book.ask(ALL), TWO_FOUND);
    EXPECT_LT(seconds_since(start), 5.0);
}

// 10,000 people with long descriptions: a search of all of them is far
// larger than what the sockets can buffer.
class Outage : public BookTest {
protected:
    static const int PEOPLE = 10000;
    static void SetUpTestSuite()
    {
        TempDir data;
        std::ofstream ldif(data.file("people.ldif"));
        for (int i = 0; i < PEOPLE; i++)
            ldif << "dn: cn=Person " << i << ",ou=People,dc=example,dc=com\nobjectClass: inetOrgPerson\n"
                 << "cn: Person " << i << "\nsn: Bulk\nmail: person" << i << "@example.com\n"
                 << "description: " << std::string(1000, 'd') << "\n\n";
        ldif.close();
        SlapdOptions bulk = options();
        bulk.ldif.push_back(data.file("people.ldif"));
        start(bulk);
    }
};

// Octets the process has read so far, from any descriptor.
static long long bytes_read(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

TEST_F(Outage, DirectoryKilledMidSearchStoppedAndRestarted)
{
    Book &book = greeted("field fullname STRING cn true\nfield email STRING mail true\ndebug true\n");
    ChildProcess &child = book.process();
    // Stop the service as soon as entries come, so that slapd is blocked on
    // a full socket when it is killed.
    long long before = bytes_read(child.pid());
    ASSERT_GT(before, 0);
    child.write("SEARCH AND 1-0 fullname=Person*\n");
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (bytes_read(child.pid()) < before + 8192 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(kill(child.pid(), SIGSTOP), 0);
    slapd->stop();
    ASSERT_EQ(kill(child.pid(), SIGCONT), 0);
    std::string reply = child.read_reply(20000);
    EXPECT_NE(reply.find("Debug: reconnecting failed"), std::string::npos) << reply;
    EXPECT_TRUE(ends_with(reply, NONE));

    // Restarted between commands: the next command reconnects (same host,
    // same bind), and is retried there.
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    std::string person = "cn!3DPerson!2042!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom";
    std::string got = "fullname=Person 42\nemail=person42@example.com\n+success '" + person + "' located.\n";
    reply = book.ask("GET " + person);
    EXPECT_NE(reply.find("Debug: directory connection lost"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Debug: reconnected to 127.0.0.1:"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Debug: LDAP: decoded "), std::string::npos) << reply;  // the client's own
    EXPECT_TRUE(ends_with(reply, got)) << reply;

    // Down between commands: they fail; back again: they work.
    slapd->stop();
    reply = book.ask("GET " + person);
    EXPECT_TRUE(ends_with(reply, "' Failed {Connection to Socket Failed.}.\n")) << reply;
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    EXPECT_TRUE(ends_with(book.ask("GET " + person), got));
    std::string all = book.ask("SEARCH AND 1-0 fullname=Person*", 60000);
    EXPECT_TRUE(ends_with(all, located(PEOPLE)));
    EXPECT_EQ(std::count(all.begin(), all.end(), ','), PEOPLE - 1);
}
