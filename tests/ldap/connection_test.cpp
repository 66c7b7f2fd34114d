// Connect, bind, disconnect and the recording of outcomes, against the
// private slapd and, for misbehaving servers, the fake server.
#include <dirent.h>
#include <gtest/gtest.h>

#include "common/fake_server.h"
#include "common/slapd.h"
#include "ldap_testing.h"

namespace {

int open_descriptors()
{
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (dir && readdir(dir))
        count++;
    if (dir)
        closedir(dir);
    return count;
}

}  // namespace

class Connection : public ::testing::Test {
protected:
    static Slapd *server;
    static void SetUpTestSuite()
    {
        server = new Slapd();
        server->start();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->running()) << server->error(); }
};

Slapd *Connection::server = nullptr;

TEST_F(Connection, BindSucceedsAndIsRefused)
{
    TestHandle h;
    EXPECT_EQ(-1, ldap_connect(&h, "cn=Manager,dc=example,dc=com", "secret"));  // no host yet
    EXPECT_EQ(nullptr, h.chan);
    EXPECT_EQ(0, ldap_disconnect(&h));
    EXPECT_EQ(0, ldap_error(&h));

    ldap_setup(&h, server->host(), server->port());
    EXPECT_EQ(0, ldap_connect(&h, server->options().rootdn.c_str(), "secret"));
    EXPECT_EQ(0, ldap_error(&h));
    EXPECT_EQ(nullptr, ldap_error_str(&h));
    EXPECT_TRUE(chan_isopen(h.chan));

    // A refusal leaves the channel open and attached.
    EXPECT_EQ(49, ldap_connect(&h, SLAPD_READER_DN, "wrong"));
    EXPECT_EQ(49, ldap_error(&h));
    EXPECT_STREQ("Invalid Credentials - (NULL)", ldap_error_str(&h));
    ASSERT_EQ(1u, captured_errors().size());
    EXPECT_EQ("LDAP: Connect {Invalid Credentials - (NULL)}", captured_errors()[0]);
    EXPECT_TRUE(chan_isopen(h.chan));

    EXPECT_EQ(0, ldap_connect(&h, SLAPD_READER_DN, SLAPD_READER_PW));
    EXPECT_EQ(1, ldap_disconnect(&h));
    EXPECT_EQ(nullptr, h.chan);
    EXPECT_EQ(0, ldap_disconnect(&h));
    EXPECT_EQ(0, ldap_error(&h));  // the server closing after unbind is no error
}

TEST_F(Connection, FallbackToSecondHostLeaksNothing)
{
    TestHandle h;
    int before = open_descriptors();
    for (int round = 0; round < 20; round++) {
        ldap_setup(&h, "127.0.0.2", server->port());  // refuses at once
        EXPECT_EQ(-1, ldap_connect(&h, "", ""));
        EXPECT_EQ(-1, ldap_error(&h));
        ldap_setup(&h, server->host(), server->port());
        EXPECT_EQ(0, ldap_connect(&h, "", ""));
    }
    EXPECT_EQ(1, ldap_disconnect(&h));
    EXPECT_EQ(before, open_descriptors());
}

TEST_F(Connection, ReconnectsAfterServerRestart)
{
    TestHandle h;
    ldap_setup(&h, server->host(), server->port());
    ASSERT_EQ(0, ldap_connect(&h, "", ""));
    ASSERT_TRUE(server->restart()) << server->error();
    ResultList results;
    EXPECT_EQ(-1, ldap_search(&h, "dc=example,dc=com", 0, 0, 0, 0, 0, nullptr, nullptr, &results));
    EXPECT_NE(0, ldap_error(&h));
    EXPECT_NE(nullptr, ldap_error_str(&h));
    EXPECT_EQ(0, ldap_connect(&h, "", ""));
    EXPECT_EQ(0, ldap_search(&h, "dc=example,dc=com", 0, 0, 0, 0, 0, nullptr, nullptr, &results));
    EXPECT_EQ(1, results.size());
}

TEST(ConnectionFake, RefusalTextAndExchangeErrors)
{
    {
        TestHandle h;  // outlives the server: ldap_clear sees it hang up
        FakeServer fake;
        fake.read_request().reply([](const std::string &req) {
            return ldap_result_bytes(0x61, ber_message_id(req), 49, "m");
        });
        fake.start();
        ldap_setup(&h, fake.host(), fake.port());
        EXPECT_EQ(49, ldap_connect(&h, "cn=x", "y"));
        EXPECT_STREQ("Invalid Credentials - m", ldap_error_str(&h));
        ASSERT_EQ(1u, captured_errors().size());
        EXPECT_EQ("LDAP: Connect {Invalid Credentials - m}", captured_errors()[0]);
    }
    {
        // The server hangs up instead of answering: the reason is recorded.
        TestHandle h;  // outlives the server: ldap_clear sees it hang up
        FakeServer fake;
        fake.read_request().close();
        fake.start();
        ldap_setup(&h, fake.host(), fake.port());
        EXPECT_EQ(-1, ldap_connect(&h, "cn=x", "y"));
        EXPECT_EQ(-1, ldap_error(&h));
        EXPECT_STREQ("Error - Connection Closed by LDAP server", ldap_error_str(&h));
        ASSERT_EQ(1u, captured_errors().size());
        EXPECT_EQ("LDAP: Connect {Error - Connection Closed by LDAP server}", captured_errors()[0]);
    }
    {
        // A reply of another kind fails the bind.
        TestHandle h;  // outlives the server: ldap_clear sees it hang up
        FakeServer fake;
        fake.read_request().reply([](const std::string &req) {
            return ldap_result_bytes(0x65, ber_message_id(req), 2, "odd");
        });
        fake.start();
        ldap_setup(&h, fake.host(), fake.port());
        EXPECT_EQ(-1, ldap_connect(&h, "cn=x", "y"));
        EXPECT_STREQ("Protocol Error - odd", ldap_error_str(&h));
    }
}

TEST(ConnectionLog, RecordsOutcomes)
{
    TestHandle h;
    ldap_log(&h, nullptr, nullptr);
    EXPECT_EQ(nullptr, ldap_error_str(&h));
    EXPECT_EQ(-1, ldap_error(&h));
    ldap_log(&h, "text", nullptr);
    EXPECT_STREQ("text", ldap_error_str(&h));
    EXPECT_TRUE(captured_errors().empty());

    auto log_reply = [&h](int code, const std::string &message) {
        std::string bytes = ldap_result_bytes(0x65, 1, code, message);
        lresult *reply = ldap_decode_data(nullptr, reinterpret_cast<const unsigned char *>(bytes.data()),
                                          static_cast<int>(bytes.size()), nullptr);
        ASSERT_NE(nullptr, reply);
        ldap_log(&h, "Search", reply);
        lresult_clear(reply);
        free(reply);
    };
    log_reply(32, "x");
    EXPECT_EQ(32, ldap_error(&h));
    EXPECT_STREQ("No Such Object - x", ldap_error_str(&h));
    EXPECT_EQ("LDAP: Search {No Such Object - x}", captured_errors().back());
    log_reply(9, "");
    EXPECT_STREQ("unknown - (NULL)", ldap_error_str(&h));
    log_reply(0, "fine");
    EXPECT_EQ(0, ldap_error(&h));
    EXPECT_EQ(nullptr, ldap_error_str(&h));
    EXPECT_EQ(2u, captured_errors().size());

    ldap_log(nullptr, "x", nullptr);
    EXPECT_EQ(-1, ldap_error(nullptr));
    EXPECT_EQ(nullptr, ldap_error_str(nullptr));
}
