// Connect, bind, disconnect and the recording of outcomes.
#include <filesystem>

#include "ldap_testing.h"

class Connection : public SlapdSuite {};

TEST_F(Connection, BindOutcomesAndFallback)
{
    // h is bound as the root; a refusal leaves the channel open.
    EXPECT_EQ(49, ldap_connect(&h, SLAPD_READER_DN, "wrong"));
    EXPECT_TRUE(chan_isopen(h.chan));
    EXPECT_EQ(0, ldap_connect(&h, SLAPD_READER_DN, SLAPD_READER_PW));
    EXPECT_EQ(1, ldap_disconnect(&h));
    EXPECT_EQ(nullptr, h.chan);
    EXPECT_EQ(0, ldap_error(&h));  // the server closing after unbind is no error

    // Each connect releases the channel of the one before.
    auto open_descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    auto before = open_descriptors();
    for (int round = 0; round < 20; round++) {
        ldap_setup(&h, "127.0.0.2", server->port());  // refuses at once
        EXPECT_EQ(-1, ldap_connect(&h, "", ""));
        EXPECT_EQ(-1, ldap_error(&h));
        ldap_setup(&h, server->host(), server->port());
        EXPECT_EQ(0, ldap_connect(&h, "", ""));
    }
    EXPECT_EQ(before + 1, open_descriptors());  // the last connection's

    // Connecting waits whole seconds: with less than one left before the
    // handle's limit, none is begun that could end after it.
    ldap_set_limit(&h, 1999);
    EXPECT_EQ(1, ldap_seconds_left(&h, 20));
    ldap_set_limit(&h, 900);
    EXPECT_EQ(-1, ldap_connect(&h, "", ""));
    EXPECT_STREQ("No time left to connect", ldap_error_str(&h));
    ldap_set_limit(&h, 0);

    // The handle's own host and error text, handed back, are copied whole.
    ldap_setup(&h, h.host, h.port);
    EXPECT_EQ(0, ldap_connect(&h, "", ""));
    ldap_set_error(&h, "kept", 7);
    ldap_set_error(&h, h.error_text, 7);
    EXPECT_STREQ("kept", ldap_error_str(&h));
}

class ConnectionFake : public FakeTest {};

TEST_F(ConnectionFake, RefusalTextAndExchangeErrors)
{
    // Each reply comes with a stray success for the next request, which must
    // not outlive its connection.
    auto reply = [](int tag, int code) {
        return [=](const std::string &req) {
            int id = ber_message_id(req);
            return ldap_result_bytes(tag, id, code, "m") + ldap_result_bytes(0x61, id + 1, 0);
        };
    };
    // A refusal, a hang-up instead of a reply, a reply of another kind, a
    // success under message ID 0 (no answer to any request).
    fake.read_request().reply(reply(0x61, 49)).next_connection().read_request();
    fake.next_connection().read_request().reply(reply(0x65, 2));
    fake.next_connection().read_request().send(ldap_result_bytes(0x61, 0, 0));
    fake.start();
    ldap_setup(&h, fake.host(), fake.port());
    std::string outcomes;  // of each connect: its result, then the error recorded
    for (int i = 0; i < 4; i++) {
        int result = ldap_connect(&h, "cn=x", "y");
        outcomes += std::to_string(result) + "/" + std::to_string(ldap_error(&h)) + " ";
    }
    EXPECT_EQ("49/49 -1/-1 -1/2 -1/-1 ", outcomes);
    EXPECT_EQ((std::vector<std::string>{"LDAP: Connect {Invalid Credentials - m}",
                                        "LDAP: Connect {Error - Connection Closed by LDAP server}",
                                        "LDAP: Connect {Protocol Error - m}"}),
              logged_messages);
}

// The handle's messages: none without a debug sink; long texts cut at 1023
// characters, prefix included; long formats used whole. And the outcomes it
// records.
TEST(ConnectionLog, MessagesAndOutcomes)
{
    TestHandle h;
    EXPECT_EQ(1, ldap_dmsg(&h, "dropped"));
    ldap_emsg(&h, "%s", std::string(3000, 'a').c_str());
    ldap_emsg(&h, (std::string(900, 'f') + "%s").c_str(), "tail");
    ldap_log(&h, "text", nullptr);  // recorded, not reported
    EXPECT_EQ(-1, ldap_error(&h));
    EXPECT_STREQ("text", ldap_error_str(&h));
    ldap_log(&h, "Search", decode_message(ldap_result_bytes(0x65, 1, 9, "")).get());
    ldap_log(&h, "Connect", decode_message(ldap_result_bytes(0x61, 1, 123, "m")).get());
    EXPECT_EQ(123, ldap_error(&h));
    EXPECT_EQ((std::vector<std::string>{"LDAP: " + std::string(1017, 'a'), "LDAP: " + std::string(900, 'f') + "tail",
                                        "LDAP: Search {unknown - (NULL)}", "LDAP: Connect {Authorization Denied - m}"}),
              logged_messages);
    ldap_log(&h, "Search", decode_message(ldap_result_bytes(0x65, 1, 0, "fine")).get());
    EXPECT_EQ(0, ldap_error(&h));
    EXPECT_EQ(nullptr, ldap_error_str(&h));
}

TEST(ConnectionLog, ActiveDirectoryReasons)
{
    const char AD[] = "80090308: LdapErr: DSID-0C09044E, comment: AcceptSecurityContext error, ";
    const std::pair<std::string, const char *> reasons[] = {
        {std::string(AD) + "data 52e, v4563", "invalid credentials"},
        {std::string(AD) + "data 775, v2580\n", "account locked out"},
        {"data 0, DATA 773", "user must reset password"},  // the first known sub-code
        {"metadata 52e, v1", nullptr},                     // not the word "data"
        {"data 52e5, v1", nullptr},
        {"data 52ex, v1", nullptr},
        {"data 0000000052e,", nullptr}};  // digits run on, too many
    for (const auto &row : reasons) EXPECT_STREQ(row.second, ldap_ad_reason(row.first.c_str())) << row.first;
}
