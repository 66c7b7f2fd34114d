// The server side: exact response octets, and a small directory server made
// of the channel's listening side and the responses, queried by ldapsearch.
#include <thread>

#include "ldap_testing.h"

namespace {

// An entry's encoded fields: the DN, then one attribute with its values.
void add_entry(Buf *entry, const std::string &dn, const std::string &type,
               const std::vector<std::string> &values)
{
    std::string set;
    for (const std::string &value : values)
        set += ber_element(0x04, value);
    std::string fields =
        ber_element(0x04, dn) +
        ber_element(0x30, ber_element(0x30, ber_element(0x04, type) + ber_element(0x31, set)));
    data_add(&entry->b, fields.data(), static_cast<int>(fields.size()));
}

// Serves one connection: binds succeed; a search returns two entries, a
// reference and success.
void serve_one(chan_rec *listener, std::string *seen_base)
{
    chan_rec *conn = chan_accept(listener);
    if (!conn)
        return;
    ldap_handle h;
    ldap_init(&h, nullptr, nullptr);
    ldap_server(&h, conn);
    for (List request; (request = List(ldap_receive(&h, nullptr)));) {
        int op = request->application, id = request->id;
        if (op == LDAP_BIND_REQUEST)
            ldap_response(&h, LDAP_BIND_RESPONSE, 0, nullptr, id, nullptr, nullptr);
        if (op == LDAP_SEARCH_REQUEST) {
            *seen_base =
                lresult_get_char(request.get(), 0) ? lresult_get_char(request.get(), 0) : "";
            Buf one, two;
            add_entry(&one, "cn=One,o=test", "mail", {"one@test", "uno@test"});
            add_entry(&two, "cn=Two,o=test", "cn", {"Two"});
            ldap_search_response(&h, &one.b, id);
            ldap_search_response(&h, &two.b, id);
            static_list urls;
            static_init(&urls, nullptr);
            static_add(&urls, const_cast<char *>("ldap://127.0.0.1:1/o=elsewhere"));
            ldap_search_reference(&h, &urls, id);
            static_clear(&urls);
            ldap_response(&h, LDAP_SEARCH_DONE, 0, nullptr, id, nullptr, nullptr);
        }
        if (op == LDAP_UNBIND_REQUEST || op == -1)
            break;
    }
    ldap_clear(&h);
    chan_clear(conn);
    free(conn);
}

}  // namespace

TEST(Server, AnswersLdapsearch)
{
    chan_rec listener;
    chan_init(&listener);
    int port = free_port();
    ASSERT_EQ(1, chan_bind(&listener, "127.0.0.1", port, 5)) << chan_error_string(&listener);
    std::string base, found;
    std::thread server([&] { serve_one(&listener, &base); });
    run_program({"ldapsearch", "-x", "-H", "ldap://127.0.0.1:" + std::to_string(port), "-b",
                 "o=test", "-o", "ldif-wrap=no", "(objectClass=*)"},
                "", &found);
    server.join();
    chan_clear(&listener);
    for (const char *part :
         {"dn: cn=One,o=test\nmail: one@test\nmail: uno@test\n", "dn: cn=Two,o=test\ncn: Two\n",
          "ref: ldap://127.0.0.1:1/o=elsewhere", "result: 0 Success", "# numEntries: 2"})
        EXPECT_NE(std::string::npos, found.find(part)) << found;
    EXPECT_EQ("o=test", base);
}

TEST(Server, ResponsesByteForByteAndFailures)
{
    TestHandle h;
    EXPECT_EQ(-1, ldap_response(&h, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_EQ(-1, ldap_error(&h));
    EXPECT_STREQ("Failed to send 'LDAP_RESPONSE'", ldap_error_str(&h));
    Buf entry;
    EXPECT_EQ(-1, ldap_search_response(&h, &entry.b, 1));
    EXPECT_STREQ("Failed to send 'LDAP_SEARCH_RESPONCE_B'", ldap_error_str(&h));
    EXPECT_EQ(-1, ldap_search_reference(&h, nullptr, 1));
    EXPECT_EQ(0, ldap_server(nullptr, nullptr));
    EXPECT_EQ(-1, ldap_response(nullptr, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_TRUE(logged_messages.empty());

    FakeServer peer;
    for (int i = 0; i < 5; i++)
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
    EXPECT_EQ(0, ldap_response(&h, LDAP_MODIFY_RESPONSE, 32, "o=t", 4, "no", nullptr));
    EXPECT_EQ(0, ldap_response(&h, LDAP_SEARCH_DONE, 0, nullptr, 5, nullptr, &urls));  // sent as 10
    static_clear(&urls);
    EXPECT_EQ(0, ldap_search_reference(&h, &urls, 6));
    EXPECT_EQ(0, ldap_ext_response(&h, LDAP_EXTENDED_RESPONSE, 0, nullptr, 7, nullptr, nullptr,
                                   "1.2", "v"));
    EXPECT_EQ(0, ldap_control_response(&h, LDAP_MODIFY_RESPONSE, 0, nullptr, 8, nullptr, nullptr,
                                       &controls));
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
                      "01 01 00 04 00")}),
        peer.requests());
}
