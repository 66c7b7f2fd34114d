// The server side: exact response octets, and a small directory server
// built from the channel's listening side and the response functions,
// queried by OpenLDAP's ldapsearch.
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

#include "common/fake_server.h"
#include "common/slapd.h"
#include "ldap_testing.h"

namespace {

// One entry's fields: the DN, then each attribute with its values.
void encode_entry(data_buf *entry, const char *dn,
                  const std::vector<std::pair<const char *, std::vector<const char *>>> &attributes)
{
    data_add_string(entry, dn);
    data_buf all;
    data_init(&all);
    for (const auto &attribute : attributes) {
        data_buf one, values;
        data_init(&one);
        data_init(&values);
        data_add_string(&one, attribute.first);
        for (const char *value : attribute.second)
            data_add_string(&values, value);
        data_data(&one, &values, 0x31);
        data_data(&all, &one, 0x30);
        data_clear(&values);
        data_clear(&one);
    }
    data_data(entry, &all, 0x30);
    data_clear(&all);
}

// Serves one connection: binds succeed; a search below o=test returns two
// entries, a reference and success; any other base gets result 32.
void serve_one(chan_rec *listener, std::string *seen_base, int *seen_scope)
{
    chan_rec *conn = chan_accept(listener);
    if (!conn)
        return;
    ldap_handle h;
    ldap_init(&h, nullptr, nullptr);
    ldap_server(&h, conn);
    for (;;) {
        lresult *request = ldap_receive(&h, nullptr);
        if (!request)
            break;
        int op = request->application;
        int id = request->id;
        if (op == LDAP_BIND_REQUEST) {
            ldap_response(&h, LDAP_BIND_RESPONSE, 0, nullptr, id, nullptr, nullptr);
        } else if (op == LDAP_SEARCH_REQUEST) {
            *seen_base = lresult_get_char(request, 0) ? lresult_get_char(request, 0) : "";
            *seen_scope = lresult_get_int(request, 1);
            if (*seen_base == "o=test") {
                data_buf entry;
                data_init(&entry);
                encode_entry(&entry, "cn=One,o=test", {{"cn", {"One"}}, {"mail", {"one@test", "uno@test"}}});
                ldap_search_response(&h, &entry, id);
                data_clear(&entry);
                encode_entry(&entry, "cn=Two,o=test", {{"cn", {"Two"}}});
                ldap_search_response(&h, &entry, id);
                data_clear(&entry);
                static_list urls;
                static_init(&urls, nullptr);
                static_add(&urls, const_cast<char *>("ldap://127.0.0.1:1/o=elsewhere"));
                ldap_search_reference(&h, &urls, id);
                static_clear(&urls);
                ldap_response(&h, LDAP_SEARCH_DONE, 0, nullptr, id, nullptr, nullptr);
            } else {
                ldap_response(&h, LDAP_SEARCH_DONE, 32, "o=test", id, "no such base", nullptr);
            }
        }
        lresult_clear(request);
        free(request);
        if (op == LDAP_UNBIND_REQUEST || op == -1)
            break;
    }
    ldap_clear(&h);
    chan_clear(conn);
    free(conn);
}

std::string run_ldapsearch(int port, const std::string &base)
{
    std::string out;
    run_program({"ldapsearch", "-x", "-H", "ldap://127.0.0.1:" + std::to_string(port), "-b", base,
                 "-o", "ldif-wrap=no", "(objectClass=*)"},
                "", &out);
    return out;
}

}  // namespace

TEST(Server, AnswersLdapsearch)
{
    chan_rec listener;
    chan_init(&listener);
    int port = free_port();
    ASSERT_EQ(1, chan_bind(&listener, "127.0.0.1", port, 5)) << chan_error_string(&listener);
    std::string base;
    int scope = -1;
    std::thread server([&] {
        serve_one(&listener, &base, &scope);
        serve_one(&listener, &base, &scope);
    });
    std::string found = run_ldapsearch(port, "o=test");
    std::string missing = run_ldapsearch(port, "o=other");
    server.join();
    chan_clear(&listener);

    EXPECT_NE(std::string::npos, found.find("dn: cn=One,o=test\ncn: One\nmail: one@test\nmail: uno@test\n"))
        << found;
    EXPECT_NE(std::string::npos, found.find("dn: cn=Two,o=test\ncn: Two\n")) << found;
    EXPECT_NE(std::string::npos, found.find("ref: ldap://127.0.0.1:1/o=elsewhere")) << found;
    EXPECT_NE(std::string::npos, found.find("result: 0 Success")) << found;
    EXPECT_NE(std::string::npos, found.find("# numEntries: 2")) << found;
    EXPECT_NE(std::string::npos, missing.find("result: 32 No such object")) << missing;
    EXPECT_NE(std::string::npos, missing.find("text: no such base")) << missing;
    EXPECT_EQ("o=other", base);
    EXPECT_EQ(2, scope);
}

TEST(Server, ResponsesByteForByte)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer peer;
    for (int i = 0; i < 5; i++)
        peer.read_request();
    peer.start();
    attach(&h, peer.host(), peer.port());

    EXPECT_EQ(0, ldap_response(&h, LDAP_MODIFY_RESPONSE, 0, nullptr, 4, nullptr, nullptr));
    static_list urls;
    static_init(&urls, nullptr);
    static_add(&urls, const_cast<char *>("ldap://a"));
    EXPECT_EQ(0, ldap_response(&h, LDAP_SEARCH_DONE, 0, nullptr, 5, nullptr, &urls));
    static_clear(&urls);
    EXPECT_EQ(0, ldap_search_reference(&h, &urls, 6));
    EXPECT_EQ(0, ldap_ext_response(&h, LDAP_EXTENDED_RESPONSE, 0, nullptr, 7, nullptr, nullptr,
                                   "1.2", "v"));
    static_list controls;
    static_init(&controls, nullptr);
    ldap_cr *cr = ldap_cr_init("1.2.3", 0);
    static_add(&controls, cr);
    EXPECT_EQ(0, ldap_control_response(&h, LDAP_MODIFY_RESPONSE, 0, nullptr, 8, nullptr, nullptr,
                                       &controls));
    ldap_cr_clear(cr);
    static_clear(&controls);

    peer.wait();
    std::vector<std::string> got = peer.requests();
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ(hex_bytes("30 0C 02 01 04 67 07 0A 01 00 04 00 04 00"), got[0]);
    EXPECT_EQ(hex_bytes("30 18 02 01 05 65 13 0a 01 0a 04 00 04 00 a3 0a 04 08 6c 64 61 70 3a 2f 2f 61"),
              got[1]);
    EXPECT_EQ(hex_bytes("30 05 02 01 06 53 00"), got[2]);
    EXPECT_EQ(hex_bytes("30 14 02 01 07 78 0f 0a 01 00 04 00 04 00 8a 03 31 2e 32 8b 01 76"), got[3]);
    EXPECT_EQ(hex_bytes("30 1c 02 01 08 67 07 0a 01 00 04 00 04 00 a0 0e 30 0c 04 05 31 2e 32 2e 33 "
                        "01 01 00 04 00"),
              got[4]);
}

TEST(Server, AttachAndFailures)
{
    TestHandle h;
    EXPECT_EQ(-1, ldap_response(&h, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_EQ(-1, ldap_error(&h));
    EXPECT_STREQ("Failed to send 'LDAP_RESPONSE'", ldap_error_str(&h));
    data_buf entry;
    data_init(&entry);
    EXPECT_EQ(-1, ldap_search_response(&h, &entry, 1));
    EXPECT_STREQ("Failed to send 'LDAP_SEARCH_RESPONCE_B'", ldap_error_str(&h));
    EXPECT_EQ(-1, ldap_search_reference(&h, nullptr, 1));
    EXPECT_EQ(-1, ldap_response(nullptr, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_TRUE(logged_messages.empty());

    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(1, ldap_server(&h, &chan));
    EXPECT_EQ(&chan, h.chan);
    EXPECT_EQ(0, h.own_chan);
    EXPECT_EQ(0, ldap_server(&h, nullptr));
    EXPECT_EQ(nullptr, h.chan);
    EXPECT_EQ(0, ldap_server(nullptr, &chan));
    chan_clear(&chan);
}
