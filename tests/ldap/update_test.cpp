// Modify, add, delete, rename, compare and abandon against the private
// slapd, each effect checked with OpenLDAP's ldapsearch.
#include <gtest/gtest.h>

#include "common/fake_server.h"
#include "common/slapd.h"
#include "ldap_testing.h"

namespace {

const char PEOPLE[] = "ou=People,dc=example,dc=com";

struct ModList : ldap_mod {
    ModList() { ldap_mod_init(this); }
    ~ModList() { ldap_mod_clear(this); }
};

}  // namespace

class Update : public SlapdSuite {
protected:
    void SetUp() override
    {
        SlapdSuite::SetUp();
        bind_root(&h);
    }
    // The values of one attribute of one entry, as ldapsearch prints them.
    std::string attribute(const std::string &dn, const std::string &type)
    {
        std::string out;
        server->ldapsearch(dn, "base", "(objectClass=*)", {type}, &out);
        std::string values;
        size_t pos = 0;
        std::string prefix = type + ": ";
        while ((pos = out.find("\n" + prefix, pos)) != std::string::npos) {
            pos += prefix.size() + 1;
            values += out.substr(pos, out.find('\n', pos) - pos) + ";";
        }
        return values;
    }
    TestHandle h;
};

TEST_F(Update, AddModifyRenameDelete)
{
    const std::string dn = "cn=Dan Dover,ou=People,dc=example,dc=com";
    ModList entry;
    ldap_mod_add_value(&entry, "objectClass", "inetOrgPerson");
    ldap_mod_add_value(&entry, "cn", "Dan Dover");
    ldap_mod_add_value(&entry, "sn", "Dover");
    ldap_mod_add_value(&entry, "mail", "dan@example.com");
    ldap_mod_add_value(&entry, "mail", "d.dover@example.com");
    EXPECT_EQ(0, ldap_add(&h, dn.c_str(), &entry));
    EXPECT_EQ("dan@example.com;d.dover@example.com;", attribute(dn, "mail"));
    EXPECT_EQ(68, ldap_add(&h, dn.c_str(), &entry));
    EXPECT_EQ(0, std::string(ldap_error_str(&h)).rfind("Entry Already Exists - ", 0));
    EXPECT_EQ("LDAP: Add {" + std::string(ldap_error_str(&h)) + "}", logged_messages.back());

    ModList change;
    ldap_mod_add(&change, 2, "mail", "dan.dover@example.com");  // replace
    ldap_mod_add(&change, 0, "title", "Driver");                // add
    ldap_mod_add(&change, 0, "telephoneNumber", "+1 555 0199");
    ldap_mod_add_value(&change, "telephoneNumber", "+1 555 0198");
    EXPECT_EQ(0, ldap_modify(&h, dn.c_str(), &change));
    EXPECT_EQ(0, ldap_error(&h));
    EXPECT_EQ("dan.dover@example.com;", attribute(dn, "mail"));
    EXPECT_EQ("Driver;", attribute(dn, "title"));
    EXPECT_EQ("+1 555 0199;+1 555 0198;", attribute(dn, "telephoneNumber"));

    ldap_mod_clear(&change);
    ldap_mod_add(&change, 1, "telephoneNumber", "+1 555 0199");  // delete one value
    ldap_mod_add(&change, 1, "title", nullptr);                  // delete the attribute
    EXPECT_EQ(0, ldap_modify(&h, dn.c_str(), &change));
    EXPECT_EQ("+1 555 0198;", attribute(dn, "telephoneNumber"));
    EXPECT_EQ("", attribute(dn, "title"));
    ldap_mod_clear(&change);
    ldap_mod_add(&change, 1, "title", nullptr);
    EXPECT_EQ(16, ldap_modify(&h, dn.c_str(), &change));

    // Rename keeping the old RDN value, then move under another parent.
    EXPECT_EQ(0, ldap_rdn(&h, dn.c_str(), "cn=Daniel Dover", 0, nullptr));
    const std::string renamed = "cn=Daniel Dover,ou=People,dc=example,dc=com";
    EXPECT_EQ("Dan Dover;Daniel Dover;", attribute(renamed, "cn"));
    EXPECT_EQ(0, ldap_rdn(&h, renamed.c_str(), "cn=Dan Dover", 1, "ou=Groups,dc=example,dc=com"));
    const std::string moved = "cn=Dan Dover,ou=Groups,dc=example,dc=com";
    EXPECT_EQ("Dan Dover;", attribute(moved, "cn"));
    EXPECT_TRUE(server->search_dns(renamed, "base", "(objectClass=*)").empty());

    // A value larger than one read and than the short length forms.
    std::string large(70000, 'x');
    ldap_mod_clear(&change);
    ldap_mod_add(&change, 2, "description", large.c_str());
    EXPECT_EQ(0, ldap_modify(&h, moved.c_str(), &change));
    ResultList results;
    ASSERT_EQ(0, ldap_search(&h, moved.c_str(), 0, 0, 0, 0, 0, nullptr, "description", &results));
    char **description = ldap_get_values(ldap_first_entry(&results), "description");
    ASSERT_NE(nullptr, description);
    EXPECT_EQ(large, description[0]);

    EXPECT_EQ(0, ldap_del(&h, moved.c_str()));
    EXPECT_TRUE(server->search_dns(moved, "base", "(objectClass=*)").empty());
    EXPECT_EQ(32, ldap_del(&h, moved.c_str()));
    EXPECT_EQ(32, ldap_error(&h));
    EXPECT_EQ(66, ldap_del(&h, PEOPLE));  // not a leaf
}

TEST_F(Update, CompareAndArguments)
{
    const char *alice = "cn=Alice Archer,ou=People,dc=example,dc=com";
    EXPECT_EQ(6, ldap_compare(&h, alice, "mail", "a.archer@example.com"));
    EXPECT_EQ(0, std::string(ldap_error_str(&h)).rfind("Compare True - ", 0));
    EXPECT_EQ("LDAP: Compare {" + std::string(ldap_error_str(&h)) + "}", logged_messages.back());
    EXPECT_EQ(5, ldap_compare(&h, alice, "mail", "bob@example.com"));
    EXPECT_EQ(16, ldap_compare(&h, alice, "uid", "x"));
    EXPECT_EQ(32, ldap_compare(&h, "cn=Nobody,ou=People,dc=example,dc=com", "cn", "Nobody"));

    // Missing arguments fail before anything is sent; the last error stays.
    EXPECT_EQ(-1, ldap_modify(&h, alice, nullptr));
    EXPECT_EQ(-1, ldap_add(&h, nullptr, nullptr));
    EXPECT_EQ(-1, ldap_del(&h, nullptr));
    EXPECT_EQ(-1, ldap_rdn(&h, nullptr, "cn=x", 1, nullptr));
    EXPECT_EQ(-1, ldap_compare(&h, nullptr, "cn", "x"));
    EXPECT_EQ(32, ldap_error(&h));
    EXPECT_EQ(-1, ldap_modify(nullptr, alice, nullptr));
    EXPECT_EQ(-1, ldap_abandon(nullptr, 1));
}

TEST_F(Update, AbandonedSearchDoesNotConfuseTheNext)
{
    // Abandon a message that does not exist, and one just sent: the server
    // says nothing, and later operations get their own replies.
    EXPECT_EQ(0, ldap_abandon(&h, 99999));
    ldap_request search = {};
    search.op = LDAP_SEARCH_REQUEST;
    search.base = PEOPLE;
    search.scope = 2;
    search.filter = "(objectClass=*)";
    ASSERT_EQ(1, ldap_send(&h, &search, 0, nullptr));
    EXPECT_EQ(0, ldap_abandon(&h, xmsg_id));
    ResultList results;
    EXPECT_EQ(0, ldap_search(&h, PEOPLE, 1, 0, 0, 0, 0, "(cn=Bob Baker)", nullptr, &results));
    EXPECT_EQ(std::vector<std::string>{"cn=Bob Baker,ou=People,dc=example,dc=com"}, results.dns());
    EXPECT_EQ(6, ldap_compare(&h, "cn=Bob Baker,ou=People,dc=example,dc=com", "sn", "Baker"));
    EXPECT_EQ(1, ldap_disconnect(&h));
    EXPECT_EQ(-1, ldap_abandon(&h, 1));  // no channel any more
}

TEST(UpdateFake, ReferralWrongReplyAndNoReply)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.read_request()
        .reply([](const std::string &req) { return ldap_result_bytes(0x61, ber_message_id(req), 0); })
        // ModifyResponse, code 10, with a referral to two URLs.
        .read_request()
        .reply([](const std::string &req) {
            std::string urls = ber_element(0xA3, ber_element(0x04, "ldap1") + ber_element(0x04, "ldap2"));
            std::string result = ber_integer(0x0A, 10) + ber_element(0x04, "") + ber_element(0x04, "");
            return ber_element(0x30, ber_integer(0x02, ber_message_id(req)) +
                                         ber_element(0x67, result + urls));
        })
        // An AddResponse to a delete, then a hang-up instead of a reply.
        .read_request()
        .reply([](const std::string &req) { return ldap_result_bytes(0x69, ber_message_id(req), 0); })
        .read_request()
        .close();
    fake.start();
    ldap_setup(&h, fake.host(), fake.port());
    ASSERT_EQ(0, ldap_connect(&h, "", ""));
    ModList change;
    ldap_mod_add(&change, 2, "mail", "x");
    EXPECT_EQ(10, ldap_modify(&h, "cn=a", &change));
    EXPECT_STREQ("ldap1", ldap_first_referral(&h));
    EXPECT_STREQ("ldap2", ldap_next_referral(&h));
    EXPECT_EQ(nullptr, ldap_next_referral(&h));
    EXPECT_EQ(-1, ldap_del(&h, "cn=a"));
    EXPECT_EQ(nullptr, ldap_first_referral(&h));  // each operation starts without
    EXPECT_EQ(-1, ldap_del(&h, "cn=a"));
    EXPECT_STREQ("Error - Connection Closed by LDAP server", ldap_error_str(&h));
}
