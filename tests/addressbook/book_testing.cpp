#include "book_testing.h"

const std::string GREETING = "+success LDAP External Address Book\n";

Slapd *BookTest::slapd;
SlapdOptions BookTest::options = [] {
    SlapdOptions book;
    book.ldif = {"tests/data/book.ldif"};
    return book;
}();

void BookTest::SetUpTestSuite()
{
    slapd = new Slapd(options);
    slapd->start();
}

void BookTest::TearDownTestSuite()
{
    delete slapd;
    slapd = nullptr;
}

void BookTest::SetUp()
{
    ASSERT_TRUE(slapd && slapd->running()) << (slapd ? slapd->error() : "no slapd");
}

std::string BookTest::config(const std::string &more)
{
    return "host 127.0.0.1\n"
           "port " + std::to_string(slapd->port()) + "\n" +
           "manager_dn " + slapd->options().rootdn + "\n" +
           "manager_pass " + slapd->options().rootpw + "\n" +
           "base_dn ou=People," + slapd->options().suffix + "\n" +
           "scope LDAP_SCOPE_SUBTREE\n" + more;
}

ProcessResult BookTest::run(const std::string &more, const std::string &input)
{
    TempDir dir;
    dir.write("extern_book.ini", config(more));
    return run_process({EXTERN_BOOK_BIN}, dir.path(), input);
}

std::unique_ptr<ChildProcess> BookTest::start(const std::string &configuration_text)
{
    dir.write("extern_book.ini", configuration_text);
    return std::make_unique<ChildProcess>(std::vector<std::string>{EXTERN_BOOK_BIN}, dir.path());
}

std::string BookTest::ask(ChildProcess &book, const std::string &line)
{
    book.write(line + "\n");
    return book.read_reply();
}
