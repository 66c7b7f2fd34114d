// Searches against the private slapd, checked against OpenLDAP's own
// ldapsearch; and against the fake server for what slapd will not do.
#include <algorithm>
#include <filesystem>

#include "common/tempdir.h"
#include "ldap_testing.h"

namespace {

const char PEOPLE[] = "ou=People,dc=example,dc=com";

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

std::string starting(const char *text, size_t length) { return std::string(text ? text : "(null)").substr(0, length); }

}  // namespace

class Search : public SlapdSuite {
  protected:
    // Searches below ou=People unless told: "code count" (the result code,
    // the entries received), the DNs in dns.
    std::string search(int scope, const char *filter, const char *base = PEOPLE, int size_limit = 0, int time_limit = 0)
    {
        ResultList results;
        int code = ldap_search(&h, base, scope, 0, size_limit, time_limit, 0, filter, nullptr, &results);
        dns = results.dns();
        return std::to_string(code) + " " + std::to_string(dns.size());
    }
    std::vector<std::string> dns;
};

TEST_F(Search, ScopesLimitsAndReferrals)
{
    EXPECT_EQ("0 6", search(1, "(objectClass=*)"));
    EXPECT_EQ(sorted(server->search_dns(PEOPLE, "one", "(objectClass=*)")), sorted(dns));
    EXPECT_EQ("0 7", search(2, "(objectClass=*)"));  // the base itself too
    EXPECT_EQ("32 0", search(0, nullptr, "ou=Missing,dc=example,dc=com"));
    EXPECT_EQ("LDAP: Search {" + std::string(ldap_error_str(&h)) + "}", logged_messages.back());

    // A reference during the search: 10 with the entries found; a base
    // below a referral: 10 with its URL; the next operation starts without.
    EXPECT_EQ("10 2", search(1, "(objectClass=*)", "dc=example,dc=com"));
    EXPECT_EQ("ldap://127.0.0.1:1/ou=Remote,", starting(ldap_first_referral(&h), 29));
    EXPECT_EQ("10 0", search(0, nullptr, "cn=x,ou=Remote,dc=example,dc=com"));
    EXPECT_EQ("ldap://127.0.0.1:1/", starting(ldap_first_referral(&h), 19));
    EXPECT_EQ("0 1", search(0, nullptr));
    EXPECT_EQ(nullptr, ldap_first_referral(&h));

    // The client's size limit: 4, with the entries kept.
    EXPECT_EQ("4 2", search(2, "(mail=*)", PEOPLE, 2));
    EXPECT_EQ("Size Limit Exceeded - ", starting(ldap_error_str(&h), 22));

    // A limit below 0 has no encoding (slapd drops the connection over the
    // one it would make): refused unsent, and the connection serves on.
    EXPECT_EQ("-1 0", search(2, "(mail=*)", PEOPLE, -1));
    EXPECT_EQ("-1 0", search(2, "(mail=*)", PEOPLE, 0, -1));
    EXPECT_EQ("0 1", search(0, nullptr));
}

// Entries handed one by one as they arrive: those the callback does not
// keep are freed (LeakSanitizer watches), a kept one is the callback's.
TEST_F(Search, EachEntryIsHandedAsItArrives)
{
    std::pair<lresult *, size_t> got = {nullptr, 0};  // the first entry, and how many came
    auto keep_first = [](void *context, lresult *entry) {
        auto *got = static_cast<std::pair<lresult *, size_t> *>(context);
        return got->second++ ? 0 : (got->first = entry, 1);
    };
    EXPECT_EQ(0, ldap_search_each(&h, PEOPLE, 1, 0, 0, 0, 0, "(cn=*)", nullptr, keep_first, &got));
    EXPECT_EQ(server->search_dns(PEOPLE, "one", "(cn=*)").size(), got.second);
    ASSERT_NE(nullptr, got.first);
    EXPECT_STREQ("objectClass", ldap_first_attribute(got.first));
    EXPECT_NE(nullptr, ldap_get_values(got.first, "CN"));  // any case
    lresult_clear(got.first);
    free(got.first);
    // A traced search writes a file for every message it receives: entries
    // that would be read in place are decoded and traced too.
    TempDir dir;
    ldap_set_log(&h, dir.path().c_str());
    auto count_dn = [](void *context, const char *, int) { ++*static_cast<size_t *>(context); };
    size_t dns = 0;
    EXPECT_EQ(0, ldap_search_dns(&h, PEOPLE, 1, 0, 0, 0, "(cn=*)", 0, count_dn, &dns));
    size_t received = 0;
    for (const auto &file : std::filesystem::directory_iterator(dir.path()))
        received += file.path().filename().string().find("-IN_") != std::string::npos;
    EXPECT_EQ(got.second, dns);
    EXPECT_EQ(dns + 1, received);  // and the search's result
    ldap_set_log(&h, nullptr);
}

TEST_F(Search, FiltersMatchLdapsearch)
{
    // Each filter with the number of entries it finds below ou=People: one
    // of each kind (the octets of every form are pinned by the filter tests).
    const std::pair<const char *, size_t> filters[] = {{"(cn=Al*Ar*er)", 1},
                                                       {"(&(objectClass=inetOrgPerson)(!(|(sn=Archer)(sn=Baker))))", 4},
                                                       {"(dnQualifier<=b2)", 2},
                                                       {"(sn~=Archer)", 1},
                                                       {"(ou:dn:=People)", 7},
                                                       {"(:caseIgnoreMatch:=Engineer)", 3},
                                                       {"(description=5 \\2a 3 is fifteen)", 1},
                                                       {"(sn=M\xc3\xbcller)", 1}};
    for (const auto &filter : filters) {
        EXPECT_EQ("0 " + std::to_string(filter.second), search(2, filter.first)) << filter.first;
        EXPECT_EQ(sorted(server->search_dns(PEOPLE, "sub", filter.first)), sorted(dns)) << filter.first;
    }
    // A filter that compiles to nothing or to more than one is not sent (a server
    // drops the connection, or reads a second as the attribute list): the
    // connection serves on.
    std::string deep = "(cn=*)";
    for (int i = 0; i <= LDAP_FILTER_MAX_DEPTH; i++) deep = "(!" + deep + ")";
    for (const char *not_one : {deep.c_str(), "(!)", "cn=Alice Archer", "(cn=a)(sn=b)"}) {
        EXPECT_EQ("-1 0", search(2, not_one)) << not_one;
        EXPECT_EQ("0 1", search(0, nullptr)) << not_one;
    }
    // A filter longer than the short length forms.
    std::string big = "(|";
    for (int i = 0; big.size() < 40000; i++) big += "(cn=Nobody" + std::to_string(i) + ")";
    EXPECT_EQ("0 1", search(2, (big + "(cn=Alice Archer))").c_str()));
    EXPECT_EQ(std::vector<std::string>{"cn=Alice Archer,ou=People,dc=example,dc=com"}, dns);
}

class SearchFake : public FakeTest {
  protected:
    void SetUp() override { fake.read_request().reply(bind_ok); }
    int search()
    {
        ldap_clear_result_list(&results);  // ldap_search starts the list afresh
        return ldap_search(&h, "o=x", 2, 0, 0, 0, 0, "(cn=*)", nullptr, &results);
    }
    ResultList results;
};

TEST_F(SearchFake, RepliesAreMatchedToTheirSearch)
{
    // The first search gets no answer in time; its late answer arrives in
    // front of the second search's own. A Notice of Disconnection (message
    // ID 0) ends the third. On a new connection, the fourth is cut short.
    fake.read_request().read_request().reply([](const std::string &second) {
        int id = ber_message_id(second);
        return ldap_entry_bytes(id - 1, "cn=late", "cn", "late") + ldap_result_bytes(0x65, id - 1, 0) +
               ldap_entry_bytes(id, "cn=mine", "cn", "mine") + ldap_result_bytes(0x65, id, 0);
    });
    fake.read_request().send(hex_bytes("30 28 02 01 00 78 23 0a 01 34 04 00 04 04 62 79 65 21 8a 16 31 2e 33 2e 36 "
                                       "2e 31 2e 34 2e 31 2e 31 34 36 36 2e 32 30 30 33 36"));
    fake.next_connection().read_request().reply(bind_ok).read_request();
    fake.reply([](const std::string &req) { return ldap_entry_bytes(ber_message_id(req), "cn=a", "cn", "a"); }).close();
    start(true);
    ldap_timeout(&h, 0, 200000);
    EXPECT_EQ(-1, search());
    EXPECT_STREQ("LDAP server failed to return back 'LDAP_SEARCH_RESPONCE' {NULL}", ldap_error_str(&h));
    EXPECT_EQ(0, search());
    EXPECT_EQ(std::vector<std::string>{"cn=mine"}, results.dns());
    EXPECT_EQ(-1, search());
    EXPECT_EQ("LDAP: Search {Unavailable - bye!}", logged_messages.back());
    ASSERT_EQ(0, ldap_connect(&h, "", ""));
    EXPECT_EQ(-1, search());
    EXPECT_TRUE(results.dns().empty());
    EXPECT_STREQ("Error - Connection Closed by LDAP server", ldap_error_str(&h));
}

TEST_F(SearchFake, AnIntermediateResponseEndsItAsAFailure)
{
    fake.read_request().reply([](const std::string &req) {
        return ldap_message(ber_message_id(req), ber_element(0x79, ber_element(0x80, "1.2")));
    });
    start(true);
    EXPECT_EQ(-1, search());
    EXPECT_EQ(-1, ldap_error(&h));  // not the success its missing code reads as
}
