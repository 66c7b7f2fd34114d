// extern_book end to end against a private slapd.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addressbook/extern_book.h"
#include "book_testing.h"

namespace {

const std::string FIELDS = "field fullname STRING cn true\nfield surname STRING sn true\n"
                           "field email STRING mail true\nfield phone PHONE TELEPHONENUMBER false\n"
                           "field title STRING title false\nfield mail2 STRING mail false\n";

const std::string PEOPLE = "!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom";
const std::string TWO = "cn!3DTester!20Two" + PEOPLE;
const std::string ALICE = "cn!3DAlice!20Archer" + PEOPLE;
const std::string SMITH = "cn!3DSmith!5C2C!20Jo" + PEOPLE;  // slapd sends "\," as \2C
const std::string LINE_FEED = "cn!3DLine!0AFeed" + PEOPLE;
const std::string JUERGEN = "cn!3DJ!C3!BCrgen!20M!C3!BCller" + PEOPLE;

std::string listing(const std::vector<std::string> &coded, size_t from = 1, size_t to = 0)
{
    std::string text;
    for (size_t i = from - 1; i < (to ? to : coded.size()); i++)
        text += (text.empty() ? "" : ",\n") + coded[i];
    return text;
}

// The coded DNs slapd finds below ou=People, in the order it sends them
// page by page.
std::vector<std::string> found(const Slapd &server, const std::string &filter)
{
    std::vector<std::string> coded;
    for (const std::string &dn : server.search_dns("ou=People,dc=example,dc=com", "sub", filter, 500))
        coded.push_back(code_dn(dn.c_str()));
    return coded;
}

}  // namespace

class Service : public BookTest {};

TEST_F(Service, Conversation)
{
    std::vector<std::string> testers = found(*slapd, "(sn=Tester)");
    ASSERT_EQ(testers.size(), 5u);
    auto matches = [](const std::string &filter) {
        std::vector<std::string> dns = found(*slapd, filter);
        return listing(dns) + located(static_cast<int>(dns.size()));
    };
    std::string odd = "cn!3DOdd!20!28Name!29" + PEOPLE, missing = "cn!3DNobody" + PEOPLE;
    std::string no_object = "No Such Object - ou=People,dc=example,dc=com";
    // A term over 511 characters, or a filter over 10,249, is refused. Each
    // "(" + 400 + "=)" term takes 403: 25 of them in "(|...)" make 10,078.
    std::string terms = "long=";
    for (int i = 1; i < 25; i++)
        terms += ",long=";
    Book &book = greeted(FIELDS + "field long STRING " + std::string(400, 'a') + " true\n");
    book.converse({
        {"SEARCH and 0-0 SURNAME=tester", listing(testers) + located(5)},
        {"SEARCH AND 2-3 surname=Tester", listing(testers, 2, 3) + located(5)},
        {"SEARCH AND 6-9 surname=Tester", located(5)},
        {"SEARCH AND 3--2 surname=Tester", listing(testers, 3) + located(5)},
        {"SEARCH xyz 1-0 fullname=Alice Archer,surname=Smith",
         matches("(|(cn=Alice Archer)(sn=Smith))")},
        {"SEARCH AND 1-0 surname=Tester,email=tester2@example.com", TWO + located(1)},
        {"SEARCH AND 1-0 ,fullname=Tester*,,title=QA,no equals sign,",
         matches("(&(cn=Tester*)(title=QA))")},
        {"SEARCH AND 1-0 fullname=*er Tw*", TWO + located(1)},
        {"SEARCH AND 1-0 fullname=Nobody", NONE},
        {"SEARCH AND 1-0 no equals sign,,", NONE},
        {"SEARCH AND 1-0 surname=Tester,nosuch=x", "-failure unknown field type?? {nosuch}\n"},
        // Coded DNs, back to GET.
        {"SEARCH AND 1-0 surname=Smith", SMITH + located(1)},
        {"SEARCH AND 1-0 surname=Feed", LINE_FEED + located(1)},
        {"SEARCH AND 1-0 surname=M\xC3\xBCller", JUERGEN + located(1)},
        {"GET " + SMITH, "fullname=Smith, Jo\nsurname=Smith\nemail=jo.smith@example.com\n"
                         "title=Clerk\n+success '" + SMITH + "' located.\n"},
        // An empty value is shown like any other.
        {"GET " + LINE_FEED + " and ignored words",
         "fullname=Line Feed\nsurname=Feed\ntitle=Odd\nemail=\nemail=line@example.com\n"
         "email=feed@example.org\n+success '" + LINE_FEED + "' located.\n"},
        {"GET uid=reader,ou=People,dc=example,dc=com",
         "fullname=Reader Account\nsurname=Account\n"
         "+success 'uid=reader,ou=People,dc=example,dc=com' located.\n"},
        // Every value, in the directory's order; mail under its first field only.
        {"GET " + ALICE, "fullname=Alice Archer\nsurname=Archer\n"
                         "email=alice@example.com\nemail=a.archer@example.org\n"
                         "phone=+1 555 0101\nphone=+1 555 0102\ntitle=Engineer\n"
                         "+success '" + ALICE + "' located.\n"},
        {"get ou!3DGroups!2Cdc!3Dexample!2Cdc!3Dcom",
         "+success 'ou!3DGroups!2Cdc!3Dexample!2Cdc!3Dcom' located.\n"},
        {"GET " + missing, "Error: LDAP: Search {" + no_object + "}\n-failure '" + missing +
                               "' Failed {" + no_object + "}.\n"},
        // Values cannot add filter terms, and match their characters literally.
        {"SEARCH AND 1-0 fullname=x)(userPassword=*", NONE},
        {"SEARCH AND 1-0 fullname=*))(|(objectClass=*", NONE},
        {"SEARCH AND 1-0 fullname=Odd (Name)", odd + located(1)},
        {"SEARCH AND 1-0 title=back\\slash", odd + located(1)},
        {"SEARCH AND 1-0 title=back\\5cslash", NONE},
        {"SEARCH AND 1-0 fullname=" + std::string(506, 'v'), NONE},
        {"SEARCH AND 1-0 fullname=" + std::string(507, 'v'), NO_RESULT},
        {"SEARCH AND 1-0 fullname=" + std::string(169, '('), NO_RESULT},  // escaped: 507
        {"SEARCH OR 1-0 " + terms, NONE},
        {"SEARCH OR 1-0 " + terms + ",long=", NO_RESULT},
    });
}

// Limits, paging, the base filter and attributes found by any name: each row
// a session of its own, as the reader unless it says otherwise.
TEST_F(Service, PagingLimitsBaseFilterAndNames)
{
    std::vector<std::string> testers = found(*slapd, "(sn=Tester)");
    ASSERT_EQ(testers.size(), 5u);
    std::string changed;
    ASSERT_EQ(slapd->ldapsearch("cn=Alice Archer,ou=People,dc=example,dc=com", "base", "(cn=*)",
                                {"modifyTimestamp"}, &changed), 0);
    changed = changed.substr(changed.find("modifyTimestamp: ") + 17);
    changed.resize(changed.find('\n') + 1);
    const std::string reader = FIELDS + "manager_dn " SLAPD_READER_DN "\nmanager_pass " SLAPD_READER_PW "\n";
    const std::string size_limit = "Error: LDAP: Search {Size Limit Exceeded - (NULL)}\n";
    const std::string suffix = FIELDS + "base_dn " + slapd->options().suffix + "\n";
    const struct {
        std::string more, command, reply;
    } rows[] = {
        // Unpaged, the reader gets three entries (result 4), reached through
        // the second host; paged, all of them, in ranges across pages.
        {reader + "page_size 0\nhost 127.0.0.2\nhost2 127.0.0.1\n", "SEARCH AND 2-0 surname=Tester",
         size_limit + listing(testers, 2, 3) + located(3)},
        {reader + "page_size 0\n", "SEARCH AND 6-0 surname=Tester", size_limit + located(3)},
        {reader, "SEARCH AND 1-0 surname=Tester", listing(testers) + located(5)},
        {reader + "page_size 2\n", "SEARCH AND 2-4 surname=Tester", listing(testers, 2, 4) + located(5)},
        {reader + "page_size 1\n", "SEARCH AND 5-9 surname=Tester", listing(testers, 5) + located(5)},
        {reader + "page_size 100000\n", "SEARCH AND 1-0 fullname=*",
         "Error: LDAP: Search {Admin Limit Exceeded - (NULL)}\n" + NONE},
        // From the suffix, the referral object ends the search with result 10.
        {suffix, "SEARCH AND 1-2 surname=Tester", listing(testers, 1, 2) + located(5)},
        {suffix, "SEARCH AND 1-0 surname=Nobody", NONE},
        {FIELDS + "search_filter (!(title=QA))\n", "SEARCH OR 1-0 surname=Tester,fullname=*Archer",
         listing(found(*slapd, "(&(!(title=QA))(|(sn=Tester)(cn=*Archer)))")) + located(1)},
        {FIELDS + "search_filter (objectClass=person)\n", "SEARCH AND 1-0 no conditions", NONE},
        // Any name of a type, the schema's alias or OID; operational types
        // when named; options only as named.
        {"field common STRING commonName false\nfield last STRING surname false\n"
         "field mailbox STRING rfc822Mailbox false\nfield cell STRING mobileTelephoneNumber false\n"
         "field changed STRING modifyTimestamp false\nfield id STRING dn false\n",
         "GET " + ALICE, "common=Alice Archer\nlast=Archer\nmailbox=alice@example.com\n"
         "mailbox=a.archer@example.org\ncell=+1 555 0201\nchanged=" + changed +
         "+success '" + ALICE + "' located.\n"},
        {"field oid STRING 2.5.4.3 false\nfield german STRING CommonName;Lang-DE false\nfield cn STRING cn false\n",
         "GET " + ALICE, "oid=Alice Archer\ngerman=Alice Bogen\n+success '" + ALICE + "' located.\n"},
    };
    for (const auto &row : rows) {
        ProcessResult r = run(row.more, row.command + "\n");
        EXPECT_EQ(r.out, GREETING + row.reply) << row.more << row.command;
    }
}

TEST_F(Service, StartupFailures)
{
    std::string port = std::to_string(slapd->port());
    // Both hosts refuse: one line naming the first, the port as written.
    ProcessResult r = run_book("host 127.0.0.2\nhost2 127.0.0.3\nport " + port + "x\n", "COMMANDS\n");
    std::string head = "-failure Failed to connect to host {127.0.0.2:" + port + "x}(";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
    EXPECT_TRUE(ends_with(r.out, ")\n") && r.out.find('\n') == r.out.size() - 1) << r.out;
    EXPECT_EQ(r.status, 1);

    r = run(FIELDS + "manager_pass wrong\n", "COMMANDS\n");
    EXPECT_EQ(r.out, "Error: LDAP: Connect {Invalid Credentials - (NULL)}\n"
                     "-failure Failed to connect to host {127.0.0.1:" + port +
                         "}(Invalid Credentials - (NULL))\n");
    EXPECT_EQ(r.status, 1);
}

TEST(SampleData, DemoConfigurationServesTheSampleBook)
{
    SlapdOptions sample;
    sample.rootdn = "cn=admin,dc=example,dc=com";
    sample.ldif = {"data/sample.ldif"};
    Slapd slapd(sample);
    ASSERT_TRUE(slapd.start()) << slapd.error();
    std::string ini = read_file(std::string(SOURCE_DIR) + "/extern_book.ini.sample");
    size_t port = ini.find("\nport ") + 6;
    ini.replace(port, ini.find('\n', port) - port, std::to_string(slapd.port()));
    std::string smith = "cn!3DSmith!5C2C!20John!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom";
    ProcessResult r = run_book(ini, "SEARCH AND 50-0 fullname=*\n"
                                    "SEARCH AND 1-0 surname=Smith,email=*example.org\n"
                                    "GET " + smith + "\n");
    std::vector<std::string> smiths = found(slapd, "(&(sn=Smith)(mail=*example.org))");
    EXPECT_EQ(r.out, GREETING + found(slapd, "(cn=*)").at(49) + located(50) + listing(smiths) +
                         located(2) + "fullname=Smith, John\nsurname=Smith\ngivenname=John\n"
                         "email=john.smith@example.com\nemail=j.smith@example.org\n"
                         "phone=+1 555 0148\ntitle=Engineer\ndepartment=Research\n"
                         "company=Example Corp\nmobile=+1 555 0248\n+success '" + smith + "' located.\n");
    EXPECT_EQ(r.status, 1);
}
