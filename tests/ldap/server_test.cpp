// The server side: responses octet for octet, and their failures.
#include "ldap_testing.h"

TEST(Server, ResponsesByteForByteAndFailures)
{
    TestHandle h;
    Buf entry;
    EXPECT_EQ(-1, ldap_response(&h, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_STREQ("Failed to send 'LDAP_RESPONSE'", ldap_error_str(&h));
    EXPECT_TRUE(logged_messages.empty());  // recorded, not reported

    FakeServer peer;
    peer.read_request().read_request().read_request();
    peer.start();
    chan_rec chan;
    chan_init(&chan);
    ASSERT_EQ(1, chan_open(&chan, peer.host(), peer.port(), 5));
    EXPECT_EQ(1, ldap_server(&h, &chan));  // attached, not owned
    static_list urls;
    static_init(&urls, nullptr);
    static_add(&urls, const_cast<char *>("ldap://a"));
    data_add(&entry.b, "\x04\x01x\x30\x00", 5);  // the entry's fields: DN "x", no attributes
    EXPECT_EQ(0, ldap_response(&h, LDAP_SEARCH_DONE, 0, nullptr, 5, nullptr, &urls));  // sent as 10
    EXPECT_EQ(0, ldap_search_response(&h, &entry.b, 9));
    static_clear(&urls);
    EXPECT_EQ(0, ldap_response(&h, LDAP_MODIFY_RESPONSE, 0, nullptr, 6, nullptr, &urls));  // no URL: no referral
    peer.wait();
    EXPECT_EQ(0, ldap_server(&h, nullptr));
    EXPECT_EQ(nullptr, h.chan);
    chan_clear(&chan);
    EXPECT_EQ((std::vector<std::string>{
                  hex_bytes("30 18 02 01 05 65 13 0a 01 0a 04 00 04 00 a3 0a 04 08 6c 64 61 70 3a 2f 2f 61"),
                  hex_bytes("30 0a 02 01 09 64 05 04 01 78 30 00"),
                  hex_bytes("30 0c 02 01 06 67 07 0a 01 00 04 00 04 00")}),
              peer.requests());
}
