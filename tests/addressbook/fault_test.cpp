// extern_book when the directory misbehaves: killed in the middle of a long
// search, silent, sending junk or announcing a reply too large to buffer.
// After each fault the service answers, and its next command is right.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "book_testing.h"
#include "common/fake_server.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string NONE = "-failure none located.\n";
// What the scripted server's good search answers (see search_ok).
const std::string TWO_FOUND = "cn!3Da,\ncn!3Db\n+success 2 located.\n";

bool ends_with(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Octets the process has read so far, from any descriptor.
long long bytes_read(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

// --- scripted server ---------------------------------------------------

// The next request, answered by what make builds from its message ID.
void answer(FakeServer &fake, std::function<std::string(int id)> make)
{
    fake.read_request().reply([make](const std::string &request) {
        return make(ber_message_id(request));
    });
}

void bind_ok(FakeServer &fake)
{
    answer(fake, [](int id) { return ldap_result_bytes(0x61, id, 0); });
}

// A search answered with the entries cn=a and cn=b.
void search_ok(FakeServer &fake)
{
    answer(fake, [](int id) {
        return ldap_entry_bytes(id, "cn=a", "cn", "a") + ldap_entry_bytes(id, "cn=b", "cn", "b") +
               ldap_result_bytes(0x65, id, 0);
    });
}

// The search is answered by junk; the service reconnects once and gets
// junk for its bind too, so the command fails; its next connection is
// served well, and so is the search on it.
void junk_then_recovery(FakeServer &fake, std::function<std::string(int id)> junk)
{
    answer(fake, junk);
    fake.next_connection();
    answer(fake, junk);
    fake.next_connection();
    bind_ok(fake);
    search_ok(fake);
}

// extern_book on a configuration that points at the scripted server.
class ScriptedBook {
public:
    explicit ScriptedBook(const FakeServer &fake)
    {
        dir_.write("extern_book.ini", "host 127.0.0.1\nport " + std::to_string(fake.port()) +
                                          "\nfield name STRING cn true\n");
        book_ = std::make_unique<ChildProcess>(std::vector<std::string>{EXTERN_BOOK_BIN}, dir_.path());
        EXPECT_EQ(book_->read_reply(), GREETING);
    }
    ~ScriptedBook()
    {
        book_->write("EXIT\n");
        EXPECT_EQ(book_->read_reply(), "+success bye.\n");
        EXPECT_EQ(book_->wait(), 1);
    }
    std::string ask(const std::string &line, int timeout_ms = 5000)
    {
        book_->write(line + "\n");
        return book_->read_reply(timeout_ms);
    }

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> book_;
};

const std::string SEARCH_ALL = "SEARCH AND 1-0 name=*";

}  // namespace

TEST(ScriptedDirectory, JunkRepliesFailOneCommandOnly)
{
    std::mt19937 random(20261207);
    std::string noise(2044, '\0');
    for (char &c : noise)
        c = static_cast<char>(random());
    const std::function<std::string(int)> junk[] = {
        // Another protocol altogether.
        [](int) {
            return "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n"
                   "This port does not speak LDAP; try another one, please.\r\n";
        },
        // A message whose operation no server sends.
        [](int id) { return hex_bytes("30 05 02 01") + char(id) + hex_bytes("57 00"); },
        // An entry whose DN claims more octets than the entry holds.
        [](int id) { return hex_bytes("30 0c 02 01") + char(id) + hex_bytes("64 07 04 40 63 6e 3d 61 30"); },
        // An entry value announcing 64 MiB + 1 inside a small message.
        [](int id) {
            return hex_bytes("30 19 02 01") + char(id) +
                   hex_bytes("64 14 04 04 63 6e 3d 61 30 0c 30 0a 04 02 63 6e 31 84 04 00 00 01");
        },
        // A notice of disconnection (message ID 0) instead of the reply.
        [](int) { return hex_bytes("30 24 02 01 00 78 1f 0a 01 02 04 00 04 00 8a 16") + "1.3.6.1.4.1.1466.20036"; },
        // Random octets in a well-formed envelope.
        [noise](int) { return hex_bytes("30 82 07 fc") + noise; },
    };
    FakeServer fake;
    bind_ok(fake);
    for (const auto &make : junk)
        junk_then_recovery(fake, make);
    fake.start();
    ScriptedBook book(fake);
    for (size_t i = 0; i < std::size(junk); i++) {
        SCOPED_TRACE("junk reply " + std::to_string(i));
        auto start = Clock::now();
        EXPECT_TRUE(ends_with(book.ask(SEARCH_ALL), NONE));
        EXPECT_LT(seconds_since(start), 5.0) << "junk must be refused at once, not waited out";
        EXPECT_EQ(book.ask(SEARCH_ALL), TWO_FOUND);
    }
}

TEST(ScriptedDirectory, ReplyAnnouncingMoreThan64MiBIsRefusedAtOnce)
{
    FakeServer fake;
    bind_ok(fake);
    // 64 MiB + 1 announced, a few octets sent: nothing waits for the rest.
    junk_then_recovery(fake, [](int id) { return hex_bytes("30 84 04 00 00 01 02 01") + char(id) + "\x64"; });
    // The announcement is refused also after other messages in the same read.
    answer(fake, [](int id) {
        return ldap_entry_bytes(id, "cn=a", "cn", "a") + hex_bytes("30 84 04 00 00 01 02 01") +
               char(id) + "\x64";
    });
    fake.next_connection();
    bind_ok(fake);
    search_ok(fake);
    fake.start();
    ScriptedBook book(fake);
    auto start = Clock::now();
    EXPECT_TRUE(ends_with(book.ask(SEARCH_ALL), NONE));
    EXPECT_EQ(book.ask(SEARCH_ALL), TWO_FOUND);
    // The second oversized reply costs a reconnection, whose retry succeeds.
    EXPECT_EQ(book.ask(SEARCH_ALL), TWO_FOUND);
    EXPECT_LT(seconds_since(start), 5.0);
}

// The one slow test: a server that stops answering halfway through a reply
// is waited for once, for the connection's whole time-out (30 seconds).
TEST(ScriptedDirectory, SilentServerIsWaitedForOnceThenLeft)
{
    FakeServer fake;
    bind_ok(fake);
    answer(fake, [](int id) {
        std::string second = ldap_entry_bytes(id, "cn=b", "cn", "b");
        return ldap_entry_bytes(id, "cn=a", "cn", "a") + second.substr(0, second.size() / 2);
    });
    fake.pause(30500);
    fake.next_connection();
    bind_ok(fake);
    search_ok(fake);
    search_ok(fake);
    fake.start();
    ScriptedBook book(fake);
    auto start = Clock::now();
    // The half reply is dropped with the old connection; the retry on a new
    // one gives the whole answer.
    EXPECT_EQ(book.ask(SEARCH_ALL, 45000), TWO_FOUND);
    double waited = seconds_since(start);
    EXPECT_GT(waited, 29.0);
    EXPECT_LT(waited, 40.0);
    start = Clock::now();
    EXPECT_EQ(book.ask(SEARCH_ALL), TWO_FOUND);
    EXPECT_LT(seconds_since(start), 5.0);
}

// A directory of 10,000 people, each with a long description, so that a
// search of all of them is far larger than what the sockets can buffer.
class KilledDirectory : public BookTest {
protected:
    static const int PEOPLE = 10000;

    static void SetUpTestSuite()
    {
        TempDir data;
        std::ofstream ldif(data.file("people.ldif"));
        std::string description(1000, 'd');
        for (int i = 0; i < PEOPLE; i++)
            ldif << "dn: cn=Person " << i << ",ou=People,dc=example,dc=com\n"
                 << "objectClass: inetOrgPerson\ncn: Person " << i << "\nsn: Bulk\n"
                 << "mail: person" << i << "@example.com\ndescription: " << description << "\n\n";
        ldif.close();
        SlapdOptions bulk = options;
        bulk.ldif.push_back(std::filesystem::relative(data.file("people.ldif"), SOURCE_DIR).string());
        slapd = new Slapd(bulk);
        slapd->start();
    }
};

TEST_F(KilledDirectory, KilledInTheMiddleOfASearchThenRestarted)
{
    auto &book = greeted("field fullname STRING cn true\nfield email STRING mail true\n");
    // Stop the service as soon as the entries start coming, so that the
    // directory is blocked on a full socket when it is killed.
    long long before = bytes_read(book.pid());
    ASSERT_GT(before, 0);
    book.write("SEARCH AND 1-0 fullname=Person*\n");
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (bytes_read(book.pid()) < before + 8192 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(kill(book.pid(), SIGSTOP), 0);
    slapd->stop();
    ASSERT_EQ(kill(book.pid(), SIGCONT), 0);
    // The search is cut short and the directory is gone: nothing located.
    EXPECT_TRUE(ends_with(book.read_reply(20000), NONE));

    // Restarted between commands: the next command reconnects and succeeds.
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    EXPECT_EQ(ask(book, "GET cn!3DPerson!2042!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom"),
              "fullname=Person 42\nemail=person42@example.com\n"
              "+success 'cn!3DPerson!2042!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom' located.\n");
    book.write("SEARCH AND 1-0 fullname=Person*\n");
    std::string all = book.read_reply(60000);
    EXPECT_TRUE(ends_with(all, "\n+success " + std::to_string(PEOPLE) + " located.\n"));
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), PEOPLE + 1);
}
