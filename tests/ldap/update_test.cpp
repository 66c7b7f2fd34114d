// Modify, add, delete, rename, compare and abandon against the private
// slapd, each effect checked with OpenLDAP's ldapsearch.
#include "ldap_testing.h"

class Update : public SlapdSuite {
  protected:
    // The entry's values of the types, as ldapsearch prints them after the DN line.
    std::string values(const std::string &dn, const std::vector<std::string> &types)
    {
        std::string out;
        server->ldapsearch(dn, "base", "(objectClass=*)", types, &out);
        return out.substr(out.find('\n') + 1);
    }
};

TEST_F(Update, AddModifyRenameDelete)
{
    const char *dn = "cn=Dan Dover,ou=People,dc=example,dc=com";
    ModList entry;
    entry.more("objectClass", "inetOrgPerson").more("cn", "Dan Dover").more("sn", "Dover").more("title", "Driver");
    entry.more("mail", "dan@example.com").more("mail", "d@example.com").more("telephoneNumber", "+1 555 0199");
    EXPECT_EQ(0, ldap_add(&h, dn, &entry.more("telephoneNumber", "+1 555 0198")));
    EXPECT_EQ("mail: dan@example.com\nmail: d@example.com\n\n", values(dn, {"mail"}));

    // Replace, add, delete one value and a whole attribute.
    ModList change;
    change.add(2, "mail", "dan.dover@example.com").add(0, "description", "new");
    change.add(1, "telephoneNumber", "+1 555 0199").add(1, "title", nullptr);
    EXPECT_EQ(0, ldap_modify(&h, dn, &change));
    EXPECT_EQ("telephoneNumber: +1 555 0198\nmail: dan.dover@example.com\ndescription: new\n\n",
              values(dn, {"mail", "description", "telephoneNumber", "title"}));

    // Rename keeping the old RDN value, then move under another parent.
    const char *renamed = "cn=Daniel Dover,ou=People,dc=example,dc=com";
    const char *moved = "cn=Dan Dover,ou=Groups,dc=example,dc=com";
    EXPECT_EQ(0, ldap_rdn(&h, dn, "cn=Daniel Dover", 0, nullptr));
    EXPECT_EQ("cn: Dan Dover\ncn: Daniel Dover\n\n", values(renamed, {"cn"}));
    EXPECT_EQ(0, ldap_rdn(&h, renamed, "cn=Dan Dover", 1, "ou=Groups,dc=example,dc=com"));
    EXPECT_EQ("cn: Dan Dover\n\n", values(moved, {"cn"}));

    // A value larger than one read and than the short length forms.
    std::string large(70000, 'x');
    EXPECT_EQ(0, ldap_modify(&h, moved, &ModList().add(2, "description", large.c_str())));
    ResultList results;
    ASSERT_EQ(0, ldap_search(&h, moved, 0, 0, 0, 0, 0, nullptr, "description", &results));
    char **description = ldap_get_values(ldap_first_entry(&results), "description");
    EXPECT_EQ(large, description ? description[0] : "");

    EXPECT_EQ(0, ldap_del(&h, moved));
    EXPECT_EQ("", values(moved, {"cn"}));
}

TEST_F(Update, CompareAbandonAndArguments)
{
    const char *alice = "cn=Alice Archer,ou=People,dc=example,dc=com";
    EXPECT_EQ(0, ldap_abandon(&h, 99999));  // answered by nothing: the compare gets its own reply
    EXPECT_EQ(6, ldap_compare(&h, alice, "mail", "a.archer@example.com"));
    EXPECT_EQ("LDAP: Compare {Compare True - ", logged_messages.back().substr(0, 30));
    EXPECT_EQ(5, ldap_compare(&h, alice, "mail", "bob@example.com"));
    EXPECT_EQ(32, ldap_compare(&h, "cn=Nobody,ou=People,dc=example,dc=com", "cn", "Nobody"));

    // Missing arguments, and a message ID below 0 (no MessageID holds one),
    // fail before anything is sent; the last error stays.
    for (int result : {ldap_modify(&h, alice, nullptr), ldap_add(&h, nullptr, nullptr), ldap_del(&h, nullptr),
                       ldap_rdn(&h, nullptr, "cn=x", 1, nullptr), ldap_compare(&h, nullptr, "cn", "x"),
                       ldap_abandon(nullptr, 1), ldap_abandon(&h, -1)})
        EXPECT_EQ(-1, result);
    EXPECT_EQ(32, ldap_error(&h));
}

class UpdateFake : public FakeTest {};

TEST_F(UpdateFake, ReferralAndWrongReply)
{
    // A ModifyResponse, code 10, with a referral to two URLs; an AddResponse to a delete.
    fake.read_request().reply(bind_ok).read_request().reply([](const std::string &req) {
        std::string urls = ber_element(4, "ldap1") + ber_element(4, "ldap2");
        return ldap_result_bytes(0x67, ber_message_id(req), 10, "", "", ber_element(0xA3, urls));
    });
    fake.read_request().reply([](const std::string &req) { return ldap_result_bytes(0x69, ber_message_id(req), 0); });
    start(true);
    EXPECT_EQ(10, ldap_modify(&h, "cn=a", &ModList().add(2, "mail", "x")));
    EXPECT_STREQ("ldap1", ldap_first_referral(&h));
    EXPECT_STREQ("ldap2", ldap_next_referral(&h));
    ModList lost;  // a list short of what was asked is not sent
    lost.add(2, "mail", "x").incomplete = 1;
    EXPECT_EQ(-1, ldap_add(&h, "cn=a", &lost));
    EXPECT_STREQ("Out of Memory", ldap_error_str(&h));
    EXPECT_EQ(nullptr, ldap_first_referral(&h));
    EXPECT_EQ(-1, ldap_del(&h, "cn=a"));
    EXPECT_EQ(-1, ldap_error(&h));                // the wrong reply's code 0 is no success
    EXPECT_EQ(nullptr, ldap_first_referral(&h));  // each operation starts without
    // The incomplete add never went: the delete came after the modify.
    EXPECT_EQ(0x4a, static_cast<unsigned char>(fake.requests().at(2).at(5)));
}
