// extern_book end to end against a private slapd: the line protocol as the
// host sees it, searches and entries, limits and paging, the configuration
// files it reads, and which field each returned attribute maps to.
#include "addressbook/extern_book.h"
#include "book_testing.h"

namespace {

const std::string FIELDS = "field fullname STRING cn true\nfield surname STRING sn true\n"
                           "field email STRING mail true\nfield phone PHONE TELEPHONENUMBER false\n"
                           "field title STRING title false\nfield mail2 STRING mail false\n";

const std::string TESTER_TWO = "cn!3DTester!20Two" + PEOPLE;
const std::string ALICE = "cn!3DAlice!20Archer" + PEOPLE;
const std::string SMITH = "cn!3DSmith!5C2C!20Jo" + PEOPLE;  // slapd sends "\," as \2C
const std::string LINE_FEED = "cn!3DLine!0AFeed" + PEOPLE;

std::string listing(const std::vector<std::string> &coded, size_t from = 1, size_t to = 0)
{
    std::string text;
    for (size_t i = from - 1; i < (to ? to : coded.size()); i++) text += (text.empty() ? "" : ",\n") + coded[i];
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

const std::string NOT_VALID = "-failure not a valid command.\n", BYE = "+success bye.\n";

// A field table of these lines ("name type attribute searchable") after
// record_id, whose attribute is "dn".
void load_fields(std::vector<std::string> lines)
{
    ASSERT_TRUE(ini_init(ini, &display_data_length));
    for (std::string &line : lines) ASSERT_TRUE(ini_get_field(&line[0], &display_data_length)) << line;
}

// The field of each returned name, as "name:index" joined by blanks.
std::string fields_of(const std::vector<const char *> &names)
{
    const book_field_map *map = book_map_fields();
    std::string text;
    for (const char *name : names)
        text += std::string(name ? name : "(null)") + ":" + std::to_string(book_field_of(map, name)) + " ";
    return text;
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
    std::string terms = repeated("long=,", 24) + "long=";
    Book book(config(FIELDS + "field long STRING " + std::string(400, 'a') + " true\n"));
    const std::pair<std::string, std::string> steps[] = {
        {"SEARCH and 0-0 SURNAME=tester", listing(testers) + located(5)},
        {"SEARCH AND 2-3 surname=Tester", listing(testers, 2, 3) + located(5)},
        {"SEARCH AND 0-1 surname=Tester", listing(testers, 1, 1) + located(5)},
        {"SEARCH AND 6-9 surname=Tester", located(5)},
        {"SEARCH AND 3--2 surname=Tester", listing(testers, 3) + located(5)},
        {"SEARCH xyz 1-0 fullname=Alice Archer,surname=Smith", matches("(|(cn=Alice Archer)(sn=Smith))")},
        {"SEARCH AND 1-0 surname=Tester,email=tester2@example.com", TESTER_TWO + located(1)},
        {"SEARCH AND 1-0 ,fullname=Tester*,,title=QA,no equals sign,", matches("(&(cn=Tester*)(title=QA))")},
        {"SEARCH AND 1-0 fullname=Nobody", NONE},
        {"SEARCH AND 1-0 no equals sign,,", NONE},
        {"SEARCH AND 1-0 surname=Tester,nosuch=x", "-failure unknown field type?? {nosuch}\n"},
        // Coded DNs, back to GET.
        {"SEARCH AND 1-0 surname=Smith", SMITH + located(1)},
        {"SEARCH AND 1-0 surname=Feed", LINE_FEED + located(1)},
        {"SEARCH AND 1-0 surname=M\xC3\xBCller", "cn!3DJ!C3!BCrgen!20M!C3!BCller" + PEOPLE + located(1)},
        // The second sn the directory returns shows its own value.
        {"GET " + SMITH,
         "fullname=Smith, Jo\nsurname=Smith\nemail=jo.smith@example.com\ntitle=Clerk\nsurname=Smythe\n" +
             entry_located(SMITH)},
        // An empty value is shown like any other; a NUL as a blank.
        {"GET " + LINE_FEED + " and ignored words",
         "fullname=Line Feed\nsurname=Feed\ntitle=Od d\nemail=\nemail=line@example.com\nemail=feed@example.org\n" +
             entry_located(LINE_FEED)},
        // Every value, in the directory's order; mail under its first field only.
        {"GET " + ALICE, "fullname=Alice Archer\nsurname=Archer\nemail=alice@example.com\nemail=a.archer@example.org\n"
                         "phone=+1 555 0101\nphone=+1 555 0102\ntitle=Engineer\n" +
                             entry_located(ALICE)},
        {"get ou!3DGroups!2Cdc!3Dexample!2Cdc!3Dcom", "+success 'ou!3DGroups!2Cdc!3Dexample!2Cdc!3Dcom' located.\n"},
        {"GET " + missing,
         "Error: LDAP: Search {" + no_object + "}\n-failure '" + missing + "' Failed {" + no_object + "}.\n"},
        // Values cannot add filter terms, and match their characters literally.
        {"SEARCH AND 1-0 fullname=x)(userPassword=*", NONE},
        {"SEARCH AND 1-0 surname= ", NONE},  // blanks alone: no presence test
        {"SEARCH AND 1-0 title= \t ", NONE},
        {"SEARCH AND 1-0 title=**", matches("(title=*)")},  // wildcards alone: any value
        {"SEARCH AND 1-0 title=** ", matches("(title=*)")},
        {"SEARCH AND 1-0 fullname=Odd (Name)", odd + located(1)},
        {"SEARCH AND 1-0 title=back\\slash", odd + located(1)},
        {"SEARCH AND 1-0 fullname=" + std::string(506, 'v'), NONE},
        {"SEARCH AND 1-0 fullname=" + std::string(507, 'v'), NO_RESULT},
        {"SEARCH AND 1-0 fullname=" + std::string(169, '('), NO_RESULT},  // escaped: 507
        {"SEARCH OR 1-0 " + terms, NONE},
        {"SEARCH OR 1-0 " + terms + ",long=", NO_RESULT},
    };
    for (const auto &[command, reply] : steps) EXPECT_EQ(book.ask(command), reply) << command;
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
    std::string smith = "cn!3DSmith!5C2C!20John" + PEOPLE;
    ProcessResult r = run_book(ini, "SEARCH AND 50-0 fullname=*\n"
                                    "SEARCH AND 1-0 surname=Smith,email=*example.org\n"
                                    "GET " +
                                        smith + "\n");
    std::vector<std::string> smiths = found(slapd, "(&(sn=Smith)(mail=*example.org))");
    EXPECT_EQ(r.out, GREETING + found(slapd, "(cn=*)").at(49) + located(50) + listing(smiths) + located(2) +
                         "fullname=Smith, John\nsurname=Smith\ngivenname=John\n"
                         "email=john.smith@example.com\nemail=j.smith@example.org\n"
                         "phone=+1 555 0148\ntitle=Engineer\ndepartment=Research\n"
                         "company=Example Corp\nmobile=+1 555 0248\n" +
                         entry_located(smith));
    EXPECT_EQ(r.status, 1);
}

// Each row a session of its own.
TEST_F(Service, Sessions)
{
    std::vector<std::string> testers = found(*slapd, "(sn=Tester)");
    ASSERT_EQ(testers.size(), 5u);
    std::string changed;
    ASSERT_EQ(slapd->ldapsearch("cn=Alice Archer,ou=People,dc=example,dc=com", "base", "(cn=*)", {"modifyTimestamp"},
                                &changed),
              0);
    changed = changed.substr(changed.find("modifyTimestamp: ") + 17);
    changed.resize(changed.find('\n') + 1);
    const std::string reader = FIELDS + "manager_dn " SLAPD_READER_DN "\nmanager_pass " SLAPD_READER_PW "\n";
    const std::string size_limit = "Error: LDAP: Search {Size Limit Exceeded - (NULL)}\n";
    const std::string suffix = FIELDS + "base_dn " + slapd->options().suffix + "\n";
    const std::string get_alice = "GET " + ALICE + "\n";
    std::string six_fields;
    for (char c = 'a'; c <= 'f'; c++) six_fields += std::string("field ") + c + " T " + c + " true\n";
    const std::string nuls("COMMANDS\0junk after a NUL\n\0COMMANDS\n", 36);
    // A line of more than 1,023 characters is answered once, and nothing in
    // it runs (a command past the 1,023rd character included); one of 1,023
    // and its line end is read whole.
    const std::string too_long = "Error: a command line of more than 1023 characters: none of it is run\n" + NOT_VALID;
    std::string long_line = std::string(1023, 'x') + "COMMANDS and more";
    long_line += std::string(1500 - long_line.size(), 'y') + "\n" + std::string(1023, 'z') + "\r\r\n";
    const struct {
        std::string more, input, out;
    } sessions[] = {
        {"", "COMMANDS\ncommands\nCommands and words\nCOMMANDS\r\nCOMMANDS\r\r\n\r\nBYE\n",
         repeated(LIST, 5) + NOT_VALID + BYE},
        // Three name=type pairs to a line, commas between the pairs.
        {"field a A x false\nfield b B y false\n", "AVAILABLE\nSEARCH_FIELDS\n",
         "record_id=STRING,a=A,b=B\n+success 3 available.\n+success 0 available.\n"},
        {six_fields, "AVAILABLE\nsearch_fields x\n",
         "record_id=STRING,a=T,b=T,\nc=T,d=T,e=T,\nf=T\n+success 7 available.\n"
         "a=T,b=T,c=T,\nd=T,e=T,f=T\n+success 6 available.\n"},
        {"",
         "\n   \n COMMANDS\nCOMMANDS\tAVAILABLE\n\t\n\r\nHELLO world\nSEARCHX AND 1-0 a=b\n"
         "EXITS\n" +
             nuls + std::string(5000, 'x') + "\nCOMMANDS\n",
         repeated(NOT_VALID, 9) + LIST + NOT_VALID + too_long + LIST},
        {"", long_line + std::string(1024, 'x') + "EXIT\nQUIT\n", too_long + NOT_VALID + too_long + BYE},
        {"field fullname STRING cn true\n",
         "SEARCH\nSEARCH \nSEARCH AND\nSEARCH AND \nSEARCH AND 1-10\n"
         "SEARCH AND 5 cn=x\nSEARCH AND\t1-0 cn=x\nGET\nget\nSEARCH AND 1 fullname=a-b fullname=*\n"
         "SEARCH  AND 1-0 fullname=*\n",
         repeated(NO_RESULT, 11)},
        {"", "quit extra\nCOMMANDS\n", BYE},
        {"", "COMMANDS", LIST},  // a last line without line feed
        {"", "", ""},
        // Debug lines only for "true" exactly.
        {"debug TRUE\n", "COMMANDS\n", LIST},
        {"debug  true\n", "COMMANDS\n", LIST},
        // Limits, paging, the base filter, attributes found by any name.
        // Unpaged, the reader gets three entries (result 4), reached through
        // the second host; paged, all of them, in ranges across pages.
        {reader + "page_size 0\nhost 127.0.0.2\nhost2 127.0.0.1\n", "SEARCH AND 2-0 surname=Tester\n",
         size_limit + listing(testers, 2, 3) + located(3)},
        {reader + "page_size 0\n", "SEARCH AND 6-0 surname=Tester\n", size_limit + located(3)},
        {reader, "SEARCH AND 1-0 surname=Tester\n", listing(testers) + located(5)},
        {reader + "page_size 2\n", "SEARCH AND 2-4 surname=Tester\n", listing(testers, 2, 4) + located(5)},
        {reader + "page_size 1\n", "SEARCH AND 5-9 surname=Tester\n", listing(testers, 5) + located(5)},
        {reader + "page_size 100000\n", "SEARCH AND 1-0 fullname=*\n",
         "Error: LDAP: Search {Admin Limit Exceeded - (NULL)}\n" + NONE},
        // From the suffix, the referral object ends the search with result 10.
        {suffix, "SEARCH AND 1-2 surname=Tester\n", listing(testers, 1, 2) + located(5)},
        {suffix, "SEARCH AND 1-0 surname=Nobody\n", NONE},
        {FIELDS + "search_filter (!(title=QA))\n", "SEARCH OR 1-0 surname=Tester,fullname=*Archer\n",
         listing(found(*slapd, "(&(!(title=QA))(|(sn=Tester)(cn=*Archer)))")) + located(1)},
        {FIELDS + "search_filter (objectClass=person)\n", "SEARCH AND 1-0 no conditions\n", NONE},
        // Any name of a type, the schema's alias or OID; operational types
        // when named; options only as named.
        {"field common STRING commonName false\nfield last STRING surname false\n"
         "field mailbox STRING rfc822Mailbox false\nfield cell STRING mobileTelephoneNumber false\n"
         "field changed STRING modifyTimestamp false\nfield id STRING dn false\n",
         get_alice,
         "common=Alice Archer\nlast=Archer\nmailbox=alice@example.com\n"
         "mailbox=a.archer@example.org\ncell=+1 555 0201\nchanged=" +
             changed + entry_located(ALICE)},
        {"field oid STRING 2.5.4.3 false\nfield german STRING CommonName;Lang-DE false\nfield cn STRING cn false\n",
         get_alice, "oid=Alice Archer\ngerman=Alice Bogen\n" + entry_located(ALICE)},
        // Options in any order: slapd sends them sorted.
        {"field both STRING cn;lang-en;lang-de false\n", get_alice, "both=Alice Bow\n" + entry_located(ALICE)},
    };
    for (const auto &s : sessions) {
        ProcessResult r = run_book(config(s.more), s.input);
        EXPECT_EQ(r.out, GREETING + s.out) << s.more << s.input;
        EXPECT_EQ(r.status, 1) << s.more << s.input;
    }
    ProcessResult r = run_book(config("debug true\n"), "COMMANDS\n");
    EXPECT_EQ(r.out.rfind("Debug: ", 0), 0u) << r.out;
    EXPECT_TRUE(ends_with(r.out, GREETING + LIST)) << r.out;
}

// A configuration that cannot be read ends the service with status 0, a
// directory it cannot reach with 1 (one line naming the first host, the
// port as written); a path that cannot be opened falls back to
// extern_book.ini, silently.
TEST_F(Service, StartupFailures)
{
    TempDir dir;
    ProcessResult r = run_process({EXTERN_BOOK_BIN, "missing.ini"}, dir.path(), "COMMANDS\n");
    EXPECT_EQ(r.out, "-failure Cannot open file missing.ini, No such file or directory\n");
    EXPECT_EQ(r.status, 0);
    std::string port = std::to_string(slapd->port()) + "x";
    r = run_book("host ::1 127.0.0.2\nhost2 127.0.0.3\nport " + port + "\n", "COMMANDS\n");
    EXPECT_EQ(r.out, startup_failure("[::1]:" + port, "Connection to Socket Failed."));
    EXPECT_EQ(r.status, 1);
    dir.write("extern_book.ini", config("field fallback STRING cn true\n"));
    dir.write("other.ini", config("field other STRING cn true\n"));
    EXPECT_EQ(run_process({EXTERN_BOOK_BIN, "missing.ini"}, dir.path(), "SEARCH_FIELDS\n").out,
              GREETING + "fallback=STRING\n+success 1 available.\n");
    EXPECT_EQ(run_process({EXTERN_BOOK_BIN, "other.ini", "more"}, dir.path(), "SEARCH_FIELDS\n").out,
              GREETING + "other=STRING\n+success 1 available.\n");
}

// Worked out once per field table and connection against slapd's own
// schema, with the attribute list GET asks for.
TEST_F(Service, ReturnedNamesFindTheFirstFieldOfTheirTypeAndOptions)
{
    ldap_handle handle;
    ldap_init(&handle, nullptr, nullptr);
    ldap_setup(&handle, slapd->host(), slapd->port());
    ASSERT_EQ(0, ldap_connect(&handle, slapd->options().rootdn.c_str(), slapd->options().rootpw.c_str()));
    book_read_schema(&handle);
    load_fields({"common STRING commonName false", "cn STRING cn false", "again STRING CN false",
                 "german STRING cn;lang-de false", "box STRING 0.9.2342.19200300.100.1.3 false",
                 "mail STRING MAIL false", "own STRING x-own false", "both STRING cn;lang-en;lang-de false"});
    EXPECT_STREQ("commonName,cn,cn;lang-de,0.9.2342.19200300.100.1.3,MAIL,x-own,cn;lang-en;lang-de",
                 book_requested_attributes(book_map_fields()));
    // By name the first field of the type wins even where a later one has
    // that very name; options must match too, in any order.
    EXPECT_EQ("cn:1 CN:1 2.5.4.3:1 commonName:1 cn;LANG-DE:4 cn;lang-en:-1 mail:5 "
              "rfc822Mailbox:5 X-OWN:7 sn:-1 :-1 ;x:-1 dn:0 (null):-1 cn;lang-de;lang-en:8 "
              "commonName;lang-de;lang-en:8 cn;lang-de;lang-en;lang-fr:-1 ",
              fields_of({"cn", "CN", "2.5.4.3", "commonName", "cn;LANG-DE", "cn;lang-en", "mail", "rfc822Mailbox",
                         "X-OWN", "sn", "", ";x", "dn", nullptr, "cn;lang-de;lang-en", "commonName;lang-de;lang-en",
                         "cn;lang-de;lang-en;lang-fr"}));

    // Without a schema, names only; a table that changed is mapped afresh.
    book_forget_schema();
    std::string more = "surname STRING sn false";
    ASSERT_TRUE(ini_get_field(&more[0], &display_data_length));
    EXPECT_EQ("cn:2 commonName:1 mail:6 rfc822Mailbox:-1 2.5.4.3:-1 sn:9 ",
              fields_of({"cn", "commonName", "mail", "rfc822Mailbox", "2.5.4.3", "sn"}));
    book_read_schema(&handle);  // a new connection's schema: mapped afresh
    EXPECT_EQ("2.5.4.3:1 ", fields_of({"2.5.4.3"}));
    EXPECT_STREQ("commonName,cn,cn;lang-de,0.9.2342.19200300.100.1.3,MAIL,x-own,cn;lang-en;lang-de,sn",
                 book_requested_attributes(book_map_fields()));
    load_fields({"id STRING dn false"});
    EXPECT_STREQ("1.1", book_requested_attributes(book_map_fields()));
    EXPECT_EQ(nullptr, book_requested_attributes(nullptr));
    ldap_clear(&handle);
}
