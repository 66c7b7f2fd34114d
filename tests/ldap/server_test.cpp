// The server side: responses octet for octet, and their failures.
#include "ldap_testing.h"

TEST(Server, ResponsesByteForByteAndFailures)
{
    TestHandle h;
    Buf entry;
    EXPECT_EQ(-1, ldap_response(&h, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_EQ(-1, ldap_error(&h));
    EXPECT_STREQ("Failed to send 'LDAP_RESPONSE'", ldap_error_str(&h));
    EXPECT_EQ(-1, ldap_search_response(&h, &entry.b, 1));
    EXPECT_STREQ("Failed to send 'LDAP_SEARCH_RESPONCE_B'", ldap_error_str(&h));
    EXPECT_EQ(-1, ldap_search_reference(&h, nullptr, 1));
    EXPECT_EQ(0, ldap_server(nullptr, nullptr));
    EXPECT_EQ(-1, ldap_response(nullptr, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_TRUE(logged_messages.empty());

    FakeServer peer;
    for (int i = 0; i < 6; i++)
        peer.read_request();
    peer.start();
    chan_rec chan;
    chan_init(&chan);
    ASSERT_EQ(1, chan_open(&chan, peer.host(), peer.port(), 5));
    EXPECT_EQ(1, ldap_server(&h, &chan));  // attached, not owned
    static_list urls, controls;
    static_init(&urls, nullptr);
    static_init(&controls, nullptr);
    static_add(&urls, const_cast<char *>("ldap://a"));
    ldap_cr *cr = ldap_cr_init("1.2.3", 0);
    static_add(&controls, cr);
    data_add(&entry.b, "\x04\x01x\x30\x00", 5);  // the entry's fields: DN "x", no attributes
    EXPECT_EQ(0, ldap_response(&h, LDAP_MODIFY_RESPONSE, 32, "o=t", 4, "no", nullptr));
    EXPECT_EQ(0, ldap_response(&h, LDAP_SEARCH_DONE, 0, nullptr, 5, nullptr, &urls));  // sent as 10
    static_clear(&urls);
    EXPECT_EQ(0, ldap_search_reference(&h, &urls, 6));
    EXPECT_EQ(0, ldap_ext_response(&h, LDAP_EXTENDED_RESPONSE, 0, nullptr, 7, nullptr, nullptr,
                                   "1.2", "v"));
    EXPECT_EQ(0, ldap_control_response(&h, LDAP_MODIFY_RESPONSE, 0, nullptr, 8, nullptr, nullptr,
                                       &controls));
    EXPECT_EQ(0, ldap_search_response(&h, &entry.b, 9));
    ldap_cr_clear(cr);
    static_clear(&controls);
    peer.wait();
    EXPECT_EQ(0, ldap_server(&h, nullptr));
    EXPECT_EQ(nullptr, h.chan);
    chan_clear(&chan);
    EXPECT_EQ(
        (std::vector<std::string>{
            hex_bytes("30 11 02 01 04 67 0c 0a 01 20 04 03 6f 3d 74 04 02 6e 6f"),
            hex_bytes(
                "30 18 02 01 05 65 13 0a 01 0a 04 00 04 00 a3 0a 04 08 6c 64 61 70 3a 2f 2f 61"),
            hex_bytes("30 05 02 01 06 53 00"),
            hex_bytes("30 14 02 01 07 78 0f 0a 01 00 04 00 04 00 8a 03 31 2e 32 8b 01 76"),
            hex_bytes("30 1c 02 01 08 67 07 0a 01 00 04 00 04 00 a0 0e 30 0c 04 05 31 2e 32 2e 33 "
                      "01 01 00 04 00"),
            hex_bytes("30 0a 02 01 09 64 05 04 01 78 30 00")}),
        peer.requests());
}
