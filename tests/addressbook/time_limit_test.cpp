// A search that the server ends with "Time Limit Exceeded" after some
// entries: slapd cannot be made to do that on demand, a scripted server can.
#include <gtest/gtest.h>

#include <string>

#include "common/fake_server.h"
#include "common/process.h"
#include "common/tempdir.h"

namespace {

// Answers the bind, then one search with the given entries (cn=a, cn=b, ...)
// and a SearchResultDone of result 3.
void script(FakeServer &server, int entries)
{
    server.read_request().reply([](const std::string &request) {
        return ldap_result_bytes(0x61, ber_message_id(request), 0);
    });
    server.read_request().reply([entries](const std::string &request) {
        int id = ber_message_id(request);
        std::string reply;
        for (int i = 0; i < entries; i++)
            reply += ldap_entry_bytes(id, std::string("cn=") + char('a' + i), "cn", "x");
        return reply + ldap_result_bytes(0x65, id, 3, "out of time");
    });
}

ProcessResult search(FakeServer &server, const std::string &command)
{
    TempDir dir;
    dir.write("extern_book.ini", "host 127.0.0.1\nport " + std::to_string(server.port()) +
                                     "\nfield name STRING cn true\n");
    return run_process({EXTERN_BOOK_BIN}, dir.path(), command + "\n");
}

}  // namespace

TEST(TimeLimit, EntriesBeforeTheLimitAreListed)
{
    const struct {
        int entries;
        const char *command;
        const char *listed;
    } cases[] = {
        {3, "SEARCH AND 2-0 name=*", "cn!3Db,\ncn!3Dc\n+success 3 located.\n"},
        {0, "SEARCH AND 1-0 name=*", "-failure none located.\n"},
    };
    for (const auto &c : cases) {
        FakeServer server;
        script(server, c.entries);
        server.start();
        ProcessResult r = search(server, c.command);
        EXPECT_EQ(r.out, std::string("+success LDAP External Address Book\n"
                                     "Error: LDAP: Search {Time Limit Exceeded - out of time}\n") +
                             c.listed);
        EXPECT_EQ(r.status, 1);
    }
}
