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

class Connection : public SlapdSuite {};

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
    ASSERT_EQ(1u, logged_messages.size());
    EXPECT_EQ("LDAP: Connect {Invalid Credentials - (NULL)}", logged_messages[0]);
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
    const struct {
        int application;  // of the reply; 0: the server hangs up instead
        int code;
        const char *text;
        int result;
        int recorded;  // ldap_error afterwards
        const char *error;
    } cases[] = {
        {0x61, 49, "m", 49, 49, "Invalid Credentials - m"},
        {0, 0, "", -1, -1, "Error - Connection Closed by LDAP server"},
        {0x65, 2, "odd", -1, 2, "Protocol Error - odd"},  // a reply of another kind
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        TestHandle h;  // outlives the server: ldap_clear sees it hang up
        FakeServer fake;
        if (c.application) {
            fake.read_request().reply([c](const std::string &req) {
                return ldap_result_bytes(c.application, ber_message_id(req), c.code, c.text);
            });
        } else {
            fake.read_request().close();
        }
        fake.start();
        ldap_setup(&h, fake.host(), fake.port());
        EXPECT_EQ(c.result, ldap_connect(&h, "cn=x", "y"));
        EXPECT_EQ(c.recorded, ldap_error(&h));
        EXPECT_STREQ(c.error, ldap_error_str(&h));
        EXPECT_EQ(std::vector<std::string>{"LDAP: Connect {" + std::string(c.error) + "}"},
                  logged_messages);
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
    EXPECT_TRUE(logged_messages.empty());

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
    EXPECT_EQ("LDAP: Search {No Such Object - x}", logged_messages.back());
    log_reply(9, "");
    EXPECT_STREQ("unknown - (NULL)", ldap_error_str(&h));
    log_reply(0, "fine");
    EXPECT_EQ(0, ldap_error(&h));
    EXPECT_EQ(nullptr, ldap_error_str(&h));
    EXPECT_EQ(2u, logged_messages.size());

    ldap_log(nullptr, "x", nullptr);
    EXPECT_EQ(-1, ldap_error(nullptr));
    EXPECT_EQ(nullptr, ldap_error_str(nullptr));
}
