// extern_book end to end against a private slapd: start-up and fallback,
// SEARCH with its filters, ranges and coded DNs, GET, limits, and surviving
// a directory restart.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "book_testing.h"

namespace {

const std::string FIELDS = "field fullname STRING cn true\n"
                           "field surname STRING sn true\n"
                           "field email STRING mail true\n"
                           "field phone PHONE TELEPHONENUMBER false\n"
                           "field title STRING title false\n"
                           "field mail2 STRING mail false\n";

// Coded DNs of tests/data/book.ldif, below ou=People,dc=example,dc=com.
const std::string PEOPLE = "!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom";
const std::string ONE = "cn!3DTester!20One" + PEOPLE;
const std::string TWO = "cn!3DTester!20Two" + PEOPLE;
const std::string THREE = "cn!3DTester!20Three" + PEOPLE;
const std::string FOUR = "cn!3DTester!20Four" + PEOPLE;
const std::string FIVE = "cn!3DTester!20Five" + PEOPLE;
const std::string ALICE = "cn!3DAlice!20Archer" + PEOPLE;
// slapd spells the escaped comma of "cn=Smith\, Jo" as \2C.
const std::string SMITH = "cn!3DSmith!5C2C!20Jo" + PEOPLE;
const std::string LINE_FEED = "cn!3DLine!0AFeed" + PEOPLE;
const std::string JUERGEN = "cn!3DJ!C3!BCrgen!20M!C3!BCller" + PEOPLE;

const std::string NONE = "-failure none located.\n";
const std::string NO_RESULT = "-failure no result available.\n";

std::string located(int count)
{
    return "\n+success " + std::to_string(count) + " located.\n";
}

// The listing of the given coded DNs.
std::string listing(const std::vector<std::string> &coded)
{
    std::string text;
    for (const std::string &dn : coded)
        text += (text.empty() ? "" : ",\n") + dn;
    return text;
}

// The coded DNs of the entries that slapd finds for filter below
// ou=People, in the order it sends them.
std::vector<std::string> found(const Slapd &server, const std::string &filter)
{
    const std::pair<std::string, std::string> known[] = {
        {"cn=Tester One", ONE}, {"cn=Tester Two", TWO}, {"cn=Tester Three", THREE},
        {"cn=Tester Four", FOUR}, {"cn=Tester Five", FIVE}, {"cn=Alice Archer", ALICE},
        {"cn=Smith\\2C Jo", SMITH}};
    std::vector<std::string> coded;
    for (const std::string &dn : server.search_dns("ou=People,dc=example,dc=com", "sub", filter))
        for (const auto &entry : known)
            if (dn == entry.first + ",ou=People,dc=example,dc=com")
                coded.push_back(entry.second);
    return coded;
}

// The reply without the "Debug: " and "Error: " lines among it.
std::string without_messages(const std::string &reply)
{
    std::string kept;
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find('\n', start);
        end = end == std::string::npos ? reply.size() : end + 1;
        std::string line = reply.substr(start, end - start);
        if (line.rfind("Debug: ", 0) != 0 && line.rfind("Error: ", 0) != 0)
            kept += line;
        start = end;
    }
    return kept;
}

}  // namespace

class Service : public BookTest {};

TEST_F(Service, SearchConjunctionsAndRanges)
{
    auto &book = greeted(FIELDS);
    std::vector<std::string> testers = found(*slapd, "(sn=Tester)");
    ASSERT_EQ(testers.size(), 5u);
    auto range = [&testers](size_t from, size_t to) {
        return listing(std::vector<std::string>(testers.begin() + from - 1, testers.begin() + to));
    };
    std::string all = listing(testers);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=Tester"), all + located(5));
    EXPECT_EQ(ask(book, "SEARCH and 0-0 SURNAME=tester"), all + located(5));
    EXPECT_EQ(ask(book, "SEARCH AND 2-3 surname=Tester"), range(2, 3) + located(5));
    EXPECT_EQ(ask(book, "SEARCH AND 6-9 surname=Tester"), located(5));
    EXPECT_EQ(ask(book, "SEARCH AND 1-1 surname=Tester"), range(1, 1) + located(5));
    EXPECT_EQ(ask(book, "SEARCH AND 4-0 surname=Tester"), range(4, 5) + located(5));
    EXPECT_EQ(ask(book, "SEARCH AND 3--2 surname=Tester"), range(3, 5) + located(5));
    // Any word but AND means OR.
    EXPECT_EQ(ask(book, "SEARCH xyz 1-0 fullname=Alice Archer,surname=Smith"),
              listing(found(*slapd, "(|(cn=Alice Archer)(sn=Smith))")) + located(2));
    EXPECT_EQ(ask(book, "SEARCH OR 1-0 email=tester2@example.com,email=tester4@example.com"),
              listing(found(*slapd, "(|(mail=tester2@example.com)(mail=tester4@example.com))")) +
                  located(2));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=Tester,email=tester2@example.com"),
              TWO + located(1));
    // Empty items, a trailing comma and an item without "=" are passed over.
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 ,fullname=Tester*,,title=QA,no equals sign,"),
              listing(found(*slapd, "(&(cn=Tester*)(title=QA))")) + located(5));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=*er Tw*"), TWO + located(1));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 FullName=*ice*"), ALICE + located(1));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=Nobody"), NONE);
    // No condition at all: nothing to search for, and no message either.
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 no equals sign,,"), NONE);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 "), NONE);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=Tester,nosuch=x"),
              "-failure unknown field type?? {nosuch}\n");
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 =x"), "-failure unknown field type?? {}\n");
}

TEST_F(Service, CodedDnsGoBackToGet)
{
    auto &book = greeted(FIELDS);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=Smith"), SMITH + located(1));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=Feed"), LINE_FEED + located(1));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=M\xC3\xBCller"), JUERGEN + located(1));

    EXPECT_EQ(ask(book, "GET " + SMITH),
              "fullname=Smith, Jo\nsurname=Smith\nemail=jo.smith@example.com\ntitle=Clerk\n"
              "+success '" + SMITH + "' located.\n");
    EXPECT_EQ(ask(book, "GET " + LINE_FEED + " and ignored words"),
              "fullname=Line Feed\nsurname=Feed\ntitle=Odd\n+success '" + LINE_FEED +
                  "' located.\n");
    EXPECT_EQ(ask(book, "GET " + JUERGEN),
              "fullname=J\xC3\xBCrgen M\xC3\xBCller\nsurname=M\xC3\xBCller\n"
              "email=juergen@example.com\ntitle=Engineer\n+success '" + JUERGEN + "' located.\n");
    // A DN without any "!" is used as it stands.
    EXPECT_EQ(ask(book, "GET uid=reader,ou=People,dc=example,dc=com"),
              "fullname=Reader Account\nsurname=Account\n"
              "+success 'uid=reader,ou=People,dc=example,dc=com' located.\n");
}

TEST_F(Service, GetFields)
{
    auto &book = greeted(FIELDS);
    // Two mail values, two phone values under a field written in another
    // case; mail2 maps to mail too but only the first field shows; the
    // description has no field.
    EXPECT_EQ(ask(book, "GET " + ALICE),
              "fullname=Alice Archer\nsurname=Archer\n"
              "email=alice@example.com\nemail=a.archer@example.org\n"
              "phone=+1 555 0101\nphone=+1 555 0102\ntitle=Engineer\n"
              "+success '" + ALICE + "' located.\n");
    // An entry with no mapped attribute: the status line alone.
    std::string groups = "ou!3DGroups!2Cdc!3Dexample!2Cdc!3Dcom";
    EXPECT_EQ(ask(book, "get " + groups), "+success '" + groups + "' located.\n");

    std::string missing = "cn!3DNobody" + PEOPLE;
    std::string reason = "No Such Object - ou=People,dc=example,dc=com";
    EXPECT_EQ(ask(book, "GET " + missing), "Error: LDAP: Search {" + reason + "}\n-failure '" +
                                                missing + "' Failed {" + reason + "}.\n");
    // Lower-case digits decode to other bytes: !3d is not "=".
    std::string lower = "cn!3dTester!20One" + PEOPLE;
    std::string reply = ask(book, "GET " + lower);
    EXPECT_NE(reply.find("-failure '" + lower + "' Failed {Invalid DN Syntax"), std::string::npos)
        << reply;
    EXPECT_EQ(ask(book, "SEARCH AND 1-1 surname=Tester"), ONE + located(5));  // still serving
}

TEST_F(Service, FilterValuesCannotAddTerms)
{
    auto &book = greeted(FIELDS);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=x)(userPassword=*"), NONE);
    EXPECT_EQ(ask(book, "SEARCH OR 1-0 fullname=*)(uid=reader"), NONE);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=*))(|(objectClass=*"), NONE);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=Tester)(|(cn=*"), NONE);
    // The same characters are matched literally.
    std::string odd = "cn!3DOdd!20!28Name!29" + PEOPLE;
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=Odd (Name)"), odd + located(1));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=*(Name)"), odd + located(1));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 title=back\\slash"), odd + located(1));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 title=back\\5cslash"), NONE);
    // All eleven people have a cn.
    std::string reply = ask(book, "SEARCH AND 1-0 fullname=*");
    EXPECT_NE(reply.find(located(11)), std::string::npos) << reply;
}

TEST_F(Service, OverlongConditionsAndFiltersAreRefused)
{
    auto &book = greeted(FIELDS + "field long STRING " + std::string(400, 'a') + " true\n");
    // "(cn=" and ")" around the value: a value of 506 characters makes a
    // term of 511, which is searched; one more is refused.
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=" + std::string(506, 'v')), NONE);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=" + std::string(507, 'v')), NO_RESULT);
    // Escaping counts: 169 parentheses take 507 characters.
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 fullname=" + std::string(169, '(')), NO_RESULT);

    // A command line holds 1,023 characters at most: a long attribute name
    // makes the filter grow past 10,249 characters all the same. Each term
    // "(" + 400 + "=)" takes 403; with "(|" and ")" 25 terms take 10,078,
    // 26 take 10,481.
    std::string conditions = "long=";
    for (int i = 1; i < 25; i++)
        conditions += ",long=";
    EXPECT_EQ(ask(book, "SEARCH OR 1-0 " + conditions), NONE);
    EXPECT_EQ(ask(book, "SEARCH OR 1-0 " + conditions + ",long="), NO_RESULT);
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 email=alice@example.com"), ALICE + located(1));
}

TEST_F(Service, SecondHostServesWhenTheFirstRefuses)
{
    auto &book = greeted(FIELDS + "host 127.0.0.2\nhost2 127.0.0.1\n");
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 email=tester3@example.com"), THREE + located(1));
}

TEST_F(Service, StartupFailures)
{
    std::string port = std::to_string(slapd->port());
    // Both hosts refuse: the failure line names the first one.
    ProcessResult r = run(FIELDS + "host 127.0.0.2\nhost2 127.0.0.3\n", "COMMANDS\n");
    std::string head = "-failure Failed to connect to host {127.0.0.2:" + port + "}(";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 2), ")\n") << r.out;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    EXPECT_EQ(r.status, 1);

    // The port text is shown as written.
    TempDir dir;
    dir.write("extern_book.ini", "host 127.0.0.2\nport " + port + "x\n");
    r = run_process({EXTERN_BOOK_BIN}, dir.path(), "");
    EXPECT_EQ(r.out.rfind("-failure Failed to connect to host {127.0.0.2:" + port + "x}(", 0), 0u)
        << r.out;
    EXPECT_EQ(r.status, 1);

    // A refused bind.
    r = run(FIELDS + "manager_pass wrong\n", "COMMANDS\n");
    EXPECT_EQ(r.out, "Error: LDAP: Connect {Invalid Credentials - (NULL)}\n"
                     "-failure Failed to connect to host {127.0.0.1:" + port +
                         "}(Invalid Credentials - (NULL))\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(Service, ReconnectsAfterADirectoryRestart)
{
    auto &book = greeted(FIELDS + "debug true\n");
    std::string first = found(*slapd, "(sn=Tester)").at(0) + located(5);
    std::string reply = ask(book, "SEARCH AND 1-1 surname=Tester");
    // With debugging on, the client's own debug lines come through too.
    EXPECT_NE(reply.find("Debug: LDAP: decoded "), std::string::npos) << reply;
    EXPECT_EQ(without_messages(reply), first);

    ASSERT_TRUE(slapd->restart()) << slapd->error();
    reply = ask(book, "SEARCH AND 1-1 surname=Tester");
    EXPECT_NE(reply.find("Debug: directory connection lost"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Debug: reconnected to 127.0.0.1:"), std::string::npos) << reply;
    EXPECT_EQ(without_messages(reply), first);
    EXPECT_EQ(without_messages(ask(book, "GET " + TWO)),
              "fullname=Tester Two\nsurname=Tester\nemail=tester2@example.com\ntitle=QA\n"
              "+success '" + TWO + "' located.\n");

    // While the directory is down, commands fail; once it is back, they work.
    slapd->stop();
    reply = ask(book, "SEARCH AND 1-1 surname=Tester");
    EXPECT_NE(reply.find("Debug: reconnecting failed"), std::string::npos) << reply;
    EXPECT_EQ(without_messages(reply), NONE);
    reply = without_messages(ask(book, "GET " + TWO));
    EXPECT_EQ(reply.rfind("-failure '" + TWO + "' Failed {", 0), 0u) << reply;
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    EXPECT_EQ(without_messages(ask(book, "SEARCH AND 1-1 surname=Tester")), first);
}

class SizeLimit : public BookTest {
protected:
    static void SetUpTestSuite()
    {
        SlapdOptions limited = options;
        limited.sizelimit = 3;
        slapd = new Slapd(limited);
        slapd->start();
    }
};

TEST_F(SizeLimit, EntriesBeforeTheLimitAreListed)
{
    // The rootdn is not limited: bind as an ordinary user.
    auto &book = greeted(FIELDS + "manager_dn " SLAPD_READER_DN "\n"
                                  "manager_pass " SLAPD_READER_PW "\n");
    // The limit of three ends the search with result 4 after three entries.
    std::vector<std::string> testers = found(*slapd, "(sn=Tester)");
    ASSERT_EQ(testers.size(), 5u);
    std::string reply = ask(book, "SEARCH AND 2-0 surname=Tester");
    EXPECT_NE(reply.find("Error: LDAP: Search {Size Limit Exceeded"), std::string::npos) << reply;
    EXPECT_EQ(without_messages(reply), testers[1] + ",\n" + testers[2] + located(3));
    EXPECT_EQ(without_messages(ask(book, "SEARCH AND 6-0 surname=Tester")), located(3));
    EXPECT_EQ(ask(book, "SEARCH AND 1-0 surname=Alone"), NONE);
}

class Referrals : public BookTest {
protected:
    static void SetUpTestSuite()
    {
        SlapdOptions with_referral = options;
        with_referral.ldif.push_back("tests/data/referral.ldif");
        slapd = new Slapd(with_referral);
        slapd->start();
    }
};

TEST_F(Referrals, EntriesBesideAReferralAreListed)
{
    // From the suffix the referral object comes back as a reference and the
    // search ends with result 10: the entries found are still the answer.
    auto &book = greeted(FIELDS + "base_dn " + slapd->options().suffix + "\n");
    std::vector<std::string> testers = found(*slapd, "(sn=Tester)");
    ASSERT_EQ(testers.size(), 5u);
    EXPECT_EQ(without_messages(ask(book, "SEARCH AND 1-2 surname=Tester")),
              testers[0] + ",\n" + testers[1] + located(5));
    EXPECT_EQ(without_messages(ask(book, "SEARCH AND 1-0 surname=Nobody")), NONE);
}

TEST(SampleData, DemoConfigurationServesTheSampleBook)
{
    SlapdOptions sample;
    sample.rootdn = "cn=admin,dc=example,dc=com";
    sample.ldif = {"data/sample.ldif"};
    Slapd slapd(sample);
    ASSERT_TRUE(slapd.start()) << slapd.error();
    std::string config = read_file(std::string(SOURCE_DIR) + "/extern_book.ini.sample");
    size_t port = config.find("\nport ");
    ASSERT_NE(port, std::string::npos);
    config.replace(port + 6, config.find('\n', port + 1) - port - 6, std::to_string(slapd.port()));
    TempDir dir;
    dir.write("extern_book.ini", config);
    ProcessResult r = run_process({EXTERN_BOOK_BIN}, dir.path(),
                                  "SEARCH AND 50-0 fullname=*\n"
                                  "SEARCH AND 1-0 surname=Smith,email=*example.org\n"
                                  "GET cn!3DSmith!5C2C!20John!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom\n");
    EXPECT_NE(r.out.find(GREETING), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(located(50)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(located(2)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("email=john.smith@example.com\nemail=j.smith@example.org\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 1);
}
