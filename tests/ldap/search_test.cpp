// Searches against the private slapd (scopes, filters, attribute lists, size
// limit, referrals), checked against OpenLDAP's own ldapsearch; and against
// the fake server for what slapd will not do.
#include <algorithm>
#include <gtest/gtest.h>

#include <chrono>

#include "common/fake_server.h"
#include "common/slapd.h"
#include "ldap_testing.h"

namespace {

const char BASE[] = "dc=example,dc=com";
const char PEOPLE[] = "ou=People,dc=example,dc=com";

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

class Search : public SlapdSuite {
protected:
    static void SetUpTestSuite()
    {
        SlapdOptions options;
        options.ldif.push_back("tests/data/referral.ldif");
        options.sizelimit = 3;
        start(options);
    }
    void SetUp() override
    {
        SlapdSuite::SetUp();
        bind_root(&h);
    }
    TestHandle h;
};

TEST_F(Search, ScopesAndDefaultFilter)
{
    ResultList results;
    EXPECT_EQ(0, ldap_search(&h, "cn=Smith\\, John,ou=People,dc=example,dc=com", 0, 0, 0, 0, 0,
                             nullptr, nullptr, &results));
    ASSERT_EQ(1, results.size());
    EXPECT_EQ("cn=Smith\\2C John,ou=People,dc=example,dc=com", results.dns()[0]);
    ldap_clear_result_list(&results);

    EXPECT_EQ(0, ldap_search(&h, PEOPLE, 1, 0, 0, 0, 0, "(objectClass=*)", nullptr, &results));
    EXPECT_EQ(sorted(server->search_dns(PEOPLE, "one", "(objectClass=*)")), sorted(results.dns()));
    EXPECT_EQ(6, results.size());
    ldap_clear_result_list(&results);

    EXPECT_EQ(0, ldap_search(&h, PEOPLE, 2, 0, 0, 0, 0, "(objectClass=*)", nullptr, &results));
    EXPECT_EQ(7, results.size());  // the base itself too

    ldap_clear_result_list(&results);
    EXPECT_EQ(0, ldap_search(&h, PEOPLE, 2, 0, 0, 30, 0, "(cn=Nobody)", nullptr, &results));
    EXPECT_EQ(0, results.size());
    EXPECT_EQ(nullptr, ldap_first_entry(&results));

    EXPECT_EQ(0, ldap_search(&h, PEOPLE, 2, 0, 0, 0, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(32, ldap_search(&h, "ou=Missing,dc=example,dc=com", 0, 0, 0, 0, 0, nullptr, nullptr,
                              &results));
    EXPECT_EQ(32, ldap_error(&h));
    EXPECT_EQ("LDAP: Search {" + std::string(ldap_error_str(&h)) + "}", logged_messages.back());
}

// Entries handed one by one: those the callback does not keep are freed
// (LeakSanitizer watches), a kept one is the callback's.
TEST_F(Search, EachEntryIsHandedAsItArrives)
{
    std::vector<std::string> dns;
    auto collect = [](void *context, lresult *entry) {
        static_cast<std::vector<std::string> *>(context)->push_back(ldap_get_dn(entry));
        return 0;
    };
    EXPECT_EQ(0, ldap_search_each(&h, PEOPLE, 1, 0, 0, 0, 0, "(objectClass=*)", "1.1", collect,
                                  &dns));
    EXPECT_EQ(sorted(server->search_dns(PEOPLE, "one", "(objectClass=*)")), sorted(dns));

    lresult *kept = nullptr;
    auto keep_first = [](void *context, lresult *entry) {
        auto **slot = static_cast<lresult **>(context);
        if (*slot)
            return 0;
        *slot = entry;
        return 1;
    };
    EXPECT_EQ(0, ldap_search_each(&h, PEOPLE, 1, 0, 0, 0, 0, "(cn=*)", nullptr, keep_first, &kept));
    ASSERT_NE(nullptr, kept);
    EXPECT_NE(nullptr, ldap_first_attribute(kept));
    lresult_clear(kept);
    free(kept);

    EXPECT_EQ(-1, ldap_search_each(&h, PEOPLE, 1, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(-1, ldap_search_each(nullptr, PEOPLE, 1, 0, 0, 0, 0, nullptr, nullptr, collect, &dns));
}

// Every filter form returns what ldapsearch returns for the same text.
TEST_F(Search, FiltersMatchLdapsearch)
{
    // Each filter with the number of entries it finds below ou=People.
    const struct {
        const char *text;
        int count;
    } filters[] = {
        {"(cn=Alice Archer)", 1},
        {"(cn=alice archer)", 1},
        {"(mail=*)", 5},
        {"(cn=*)", 6},
        {"(mail=alice*)", 1},
        {"(mail=*@example.com)", 5},
        {"(cn=*ar*)", 2},
        {"(cn=Al*Ar*er)", 1},
        {"(cn=A*e A*r)", 1},
        {"(&(title=Engineer)(mail=*example.com))", 3},
        {"(|(sn=Baker)(sn=Carter))", 2},
        {"(!(title=Engineer))", 4},
        {"(&(objectClass=inetOrgPerson)(!(|(sn=Archer)(sn=Baker))))", 4},
        {"(&(cn=Alice Archer))", 1},
        {"(|(sn=Baker))", 1},
        {"(!(sn=Baker))", 6},
        {"(dnQualifier>=b2)", 2},
        {"(dnQualifier<=b2)", 2},
        {"(sn~=Archer)", 1},
        {"(cn:caseExactMatch:=Alice Archer)", 1},
        {"(cn:caseExactMatch:=alice archer)", 0},
        {"(ou:dn:=People)", 7},
        {"(cn=Smith\\2C John)", 1},
        {"(description=5 \\2a 3 is fifteen)", 1},
        {"(description=\\28parenthesised\\29 text)", 1},
        {"(description=path C:\\5ctemp)", 1},
        {"(description=*\\2a*)", 1},
        {"(:caseIgnoreMatch:=Engineer)", 3},
        {"(title:dn:caseIgnoreMatch:=clerk)", 1},
        {"(sn=M\xc3\xbcller)", 1},
        {"(cn=J\xc3\xbc*)", 1},
        {"(cn=Nobody)", 0},
        {"(objectClass=person)", 6},
    };
    for (const auto &filter : filters) {
        ResultList results;
        EXPECT_EQ(0, ldap_search(&h, PEOPLE, 2, 0, 0, 0, 0, filter.text, nullptr, &results))
            << filter.text;
        EXPECT_EQ(filter.count, results.size()) << filter.text;
        EXPECT_EQ(sorted(server->search_dns(PEOPLE, "sub", filter.text)), sorted(results.dns()))
            << filter.text;
    }
    // A filter longer than the short length forms.
    std::string big = "(|";
    for (int i = 0; big.size() < 40000; i++)
        big += "(cn=Nobody" + std::to_string(i) + ")";
    big += "(cn=Alice Archer))";
    ResultList results;
    EXPECT_EQ(0, ldap_search(&h, PEOPLE, 2, 0, 0, 0, 0, big.c_str(), "cn", &results));
    EXPECT_EQ(std::vector<std::string>{"cn=Alice Archer,ou=People,dc=example,dc=com"}, results.dns());
}

TEST_F(Search, AttributesAndValues)
{
    ResultList results;
    ASSERT_EQ(0, ldap_search(&h, PEOPLE, 1, 0, 0, 0, 0, "(cn=Alice Archer)", "cn, mail", &results));
    lresult *entry = ldap_first_entry(&results);
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(nullptr, ldap_next_entry(&results));
    EXPECT_STREQ("cn", ldap_first_attribute(entry));
    EXPECT_STREQ("mail", ldap_next_attribute(entry));
    EXPECT_EQ(nullptr, ldap_next_attribute(entry));
    EXPECT_EQ(nullptr, ldap_next_attribute(entry));
    char **mail = ldap_get_values(entry, "MAIL");
    ASSERT_NE(nullptr, mail);
    std::vector<std::string> values;
    for (char **v = mail; *v; v++)
        values.push_back(*v);
    EXPECT_EQ(3u, values.size());
    EXPECT_EQ("alice@example.com", values[0]);
    EXPECT_EQ(mail, ldap_get_values(entry, "mail"));
    EXPECT_EQ(nullptr, ldap_get_values(entry, "sn"));
    EXPECT_EQ(nullptr, ldap_get_values(nullptr, "sn"));
    ldap_clear_result_list(&results);

    // UTF-8 travels unchanged; types only gives names without values.
    ASSERT_EQ(0, ldap_search(&h, PEOPLE, 1, 0, 0, 0, 1, "(mail=juergen@example.com)", "sn",
                             &results));
    entry = ldap_first_entry(&results);
    ASSERT_NE(nullptr, entry);
    EXPECT_STREQ("cn=J\xc3\xbcrgen M\xc3\xbcller,ou=People,dc=example,dc=com", ldap_get_dn(entry));
    char **sn = ldap_get_values(entry, "sn");
    ASSERT_NE(nullptr, sn);
    EXPECT_EQ(nullptr, sn[0]);
    ldap_clear_result_list(&results);

    ASSERT_EQ(0, ldap_search(&h, PEOPLE, 1, 0, 0, 0, 0, "(mail=juergen@example.com)", "sn",
                             &results));
    sn = ldap_get_values(ldap_first_entry(&results), "sn");
    ASSERT_NE(nullptr, sn);
    EXPECT_STREQ("M\xc3\xbcller", sn[0]);
}

TEST_F(Search, SizeLimitKeepsEntries)
{
    ASSERT_EQ(0, ldap_connect(&h, SLAPD_READER_DN, SLAPD_READER_PW));
    ResultList results;
    EXPECT_EQ(4, ldap_search(&h, PEOPLE, 2, 0, 0, 0, 0, "(objectClass=*)", nullptr, &results));
    EXPECT_EQ(3, results.size());
    EXPECT_EQ(4, ldap_error(&h));
    EXPECT_EQ(0, std::string(ldap_error_str(&h)).rfind("Size Limit Exceeded - ", 0));
    ldap_clear_result_list(&results);
    // A limit asked by the client works the same way.
    EXPECT_EQ(4, ldap_search(&h, PEOPLE, 2, 0, 2, 0, 0, "(mail=*)", nullptr, &results));
    EXPECT_EQ(2, results.size());
}

TEST_F(Search, Referrals)
{
    ResultList results;
    // A reference during the search: 10, with the entries found.
    EXPECT_EQ(10, ldap_search(&h, BASE, 1, 0, 0, 0, 0, "(objectClass=*)", nullptr, &results));
    EXPECT_EQ(2, results.size());
    ASSERT_NE(nullptr, ldap_first_referral(&h));
    EXPECT_EQ(0, std::string(ldap_first_referral(&h)).rfind("ldap://127.0.0.1:1/ou=Remote,", 0));
    EXPECT_EQ(nullptr, ldap_next_referral(&h));
    ldap_clear_result_list(&results);

    // The base itself is a referral: result 10 with its URL.
    EXPECT_EQ(10, ldap_search(&h, "cn=x,ou=Remote,dc=example,dc=com", 0, 0, 0, 0, 0, nullptr,
                              nullptr, &results));
    EXPECT_EQ(0, results.size());
    ASSERT_NE(nullptr, ldap_first_referral(&h));
    EXPECT_EQ(0, std::string(ldap_first_referral(&h)).rfind("ldap://127.0.0.1:1/", 0));

    // The next operation starts with no referrals.
    EXPECT_EQ(0, ldap_search(&h, PEOPLE, 0, 0, 0, 0, 0, nullptr, nullptr, &results));
    EXPECT_EQ(nullptr, ldap_first_referral(&h));
}

// Searches against a fake server that accepts any bind first.
class SearchFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.read_request().reply([](const std::string &req) {
            return ldap_result_bytes(0x61, ber_message_id(req), 0);
        });
    }
    // Starts the script and connects to it.
    void connect()
    {
        fake.start();
        ldap_setup(&h, fake.host(), fake.port());
        ASSERT_EQ(0, ldap_connect(&h, "", ""));
    }
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
};

TEST_F(SearchFake, ConnectionClosedMidSearch)
{
    fake.read_request()
        .reply([](const std::string &req) {
            int id = ber_message_id(req);
            return ldap_entry_bytes(id, "cn=a", "cn", "a") + ldap_entry_bytes(id, "cn=b", "cn", "b");
        })
        .close();
    connect();
    ResultList results;
    EXPECT_EQ(-1, ldap_search(&h, "o=x", 2, 0, 0, 0, 0, "(cn=*)", nullptr, &results));
    EXPECT_EQ(0, results.size());
    EXPECT_STREQ("Error - Connection Closed by LDAP server", ldap_error_str(&h));
}

TEST_F(SearchFake, SilenceThenLateReplyIsNotTaken)
{
    // The first search gets no answer in time; its late answer arrives in
    // front of the second search's own.
    fake.read_request()
        .read_request()
        .reply([](const std::string &second) {
            int id = ber_message_id(second);
            return ldap_entry_bytes(id - 1, "cn=late", "cn", "late") +
                   ldap_result_bytes(0x65, id - 1, 0) +
                   ldap_entry_bytes(id, "cn=mine", "cn", "mine") +
                   ldap_result_bytes(0x65, id, 0);
        });
    connect();
    ldap_timeout(&h, 0, 200000);
    ResultList results;
    EXPECT_EQ(-1, ldap_search(&h, "o=x", 2, 0, 0, 0, 0, "(cn=*)", nullptr, &results));
    EXPECT_STREQ("LDAP server failed to return back 'LDAP_SEARCH_RESPONCE' {NULL}",
                 ldap_error_str(&h));
    EXPECT_EQ(0, ldap_search(&h, "o=x", 2, 0, 0, 0, 0, "(cn=*)", nullptr, &results));
    ASSERT_EQ(1, results.size());
    EXPECT_EQ("cn=mine", results.dns()[0]);
}

TEST_F(SearchFake, UnsolicitedNotificationEndsTheSearch)
{
    // Notice of Disconnection: ExtendedResponse with message ID 0.
    fake.read_request().send(hex_bytes("30 28 02 01 00 78 23 0a 01 34 04 00 04 04 62 79 65 21 "
                                       "8a 16 31 2e 33 2e 36 2e 31 2e 34 2e 31 2e 31 34 36 36 2e 32 "
                                       "30 30 33 36"));
    connect();
    ResultList results;
    EXPECT_EQ(-1, ldap_search(&h, "o=x", 2, 0, 0, 0, 0, "(cn=*)", nullptr, &results));
    EXPECT_EQ(52, ldap_error(&h));
    EXPECT_STREQ("Unavailable - bye!", ldap_error_str(&h));
    EXPECT_EQ("LDAP: Search {Unavailable - bye!}", logged_messages.back());
}

TEST_F(SearchFake, TimeLimitBoundsADrippingServer)
{
    // One byte every 200 ms: each comes well within the read time-out, but
    // the whole entry would take far longer than the search may.
    int search_id = xmsg_id + 2;  // after the bind's
    fake.read_request().send(ldap_entry_bytes(search_id, "cn=slow", "cn", std::string(40, 's')), 1,
                             200);
    connect();
    ldap_timeout(&h, 1, 0);
    ResultList results;
    auto start = std::chrono::steady_clock::now();
    // Time limit 1 s plus one read time-out of 1 s.
    EXPECT_EQ(-1, ldap_search(&h, "o=x", 2, 0, 0, 1, 0, "(cn=*)", nullptr, &results));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(0, results.size());
}
