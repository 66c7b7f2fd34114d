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

ChildProcess &BookTest::greeted(const std::string &more)
{
    dir.write("extern_book.ini", config(more));
    book_ = std::make_unique<ChildProcess>(std::vector<std::string>{EXTERN_BOOK_BIN}, dir.path());
    std::string line;
    while (book_->read_line(line) && line.rfind("Debug: ", 0) == 0) {
    }
    EXPECT_EQ(line + "\n", GREETING);
    return *book_;
}

void BookTest::TearDown()
{
    if (book_) {
        book_->write("EXIT\n");
        book_->close_input();
        EXPECT_EQ(book_->wait(), 1);
    }
}

std::string BookTest::ask(ChildProcess &book, const std::string &line)
{
    book.write(line + "\n");
    return book.read_reply();
}
