// A real directory going away under the service: slapd killed in the
// middle of a long search, restarted, stopped and started between commands.
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "book_testing.h"

// 10,000 people with long descriptions: a search of all of them is far
// larger than what the sockets can buffer. Only bound users read.
class Outage : public BookTest {
  protected:
    static const int BULK = 10000;
    static void SetUpTestSuite()
    {
        TempDir data;
        std::ofstream ldif(data.file("people.ldif"));
        for (int i = 0; i < BULK; i++)
            ldif << "dn: cn=Person " << i << ",ou=People,dc=example,dc=com\nobjectClass: inetOrgPerson\ncn: Person "
                 << i << "\nsn: Bulk\nmail: person" << i << "@example.com\ndescription: " << std::string(1000, 'd')
                 << "\n\n";
        ldif.close();
        SlapdOptions bulk = options();
        bulk.ldif.push_back(data.file("people.ldif"));
        bulk.database_lines.push_back("access to * by users read by anonymous auth");  // a lost bind shows
        start(bulk);
    }
};

namespace {

// Octets the process has read so far, from any descriptor.
long long bytes_read(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

}  // namespace

TEST_F(Outage, DirectoryKilledMidSearchStoppedAndRestarted)
{
    Book book(config("field fullname STRING cn true\nfield email STRING mail true\ndebug true\n"));
    ChildProcess &child = book.process();
    // Stop the service as soon as entries come, so that slapd is blocked on
    // a full socket when it is killed.
    long long before = bytes_read(child.pid());
    ASSERT_GT(before, 0);
    child.write("SEARCH AND 1-0 fullname=Person*\n");
    for (auto end = Clock::now() + std::chrono::seconds(20);
         bytes_read(child.pid()) < before + 8192 && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(kill(child.pid(), SIGSTOP), 0);
    slapd->stop();
    ASSERT_EQ(kill(child.pid(), SIGCONT), 0);
    std::string reply = child.read_reply(20000);
    const std::string unreachable = "Error: SEARCH: no connection to the directory {Connection to Socket Failed.}\n";
    EXPECT_NE(reply.find("Debug: reconnecting failed"), std::string::npos) << reply;
    EXPECT_TRUE(ends_with(reply, unreachable + NONE)) << reply;

    // Restarted between commands: the next command connects again (same
    // host, same bind), the failed one having dropped its connection.
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    std::string get = "GET cn!3DPerson!2042" + PEOPLE;
    std::string got = "fullname=Person 42\nemail=person42@example.com\n" + entry_located(get.substr(4));
    reply = book.ask(get);
    for (const char *line : {"Debug: reconnected to 127.0.0.1:", "Debug: LDAP: decoded "})
        EXPECT_NE(reply.find(line), std::string::npos) << reply;  // the last one the client's own
    EXPECT_TRUE(ends_with(reply, got)) << reply;

    // Down between commands: they fail; back again: they work.
    slapd->stop();
    book.expect({{get, "' Failed {Connection to Socket Failed.}.\n"},
                 {"SEARCH AND 1-0 fullname=Person*", "\n" + unreachable + NONE}},
                true);
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    EXPECT_TRUE(ends_with(book.ask(get), got));
    std::string all = book.ask("SEARCH AND 1-0 fullname=Person*", 60000);
    EXPECT_TRUE(ends_with(all, located(BULK)));
    EXPECT_EQ(std::count(all.begin(), all.end(), ','), BULK - 1);
}
