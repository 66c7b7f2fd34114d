#include "book_testing.h"

const std::string GREETING = "+success LDAP External Address Book\n";
const std::string NONE = "-failure none located.\n";
const std::string NO_RESULT = "-failure no result available.\n";

std::string located(int count) { return "\n+success " + std::to_string(count) + " located.\n"; }

bool ends_with(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

ProcessResult run_book(const std::string &ini, const std::string &input,
                       const std::vector<std::string> &args)
{
    TempDir dir;
    if (!ini.empty())
        dir.write("extern_book.ini", ini);
    std::vector<std::string> argv = {EXTERN_BOOK_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, dir.path(), input, 30000);
}

Book::Book(const std::string &ini)
{
    dir_.write("extern_book.ini", ini);
    child_ = std::make_unique<ChildProcess>(std::vector<std::string>{EXTERN_BOOK_BIN}, dir_.path());
    std::string greeting = child_->read_reply();  // debug lines may come first
    EXPECT_TRUE(ends_with(greeting, GREETING)) << greeting;
}

Book::~Book()
{
    EXPECT_TRUE(ends_with(ask("EXIT"), "+success bye.\n"));
    EXPECT_EQ(child_->wait(), 1);
}

std::string Book::ask(const std::string &line, int timeout_ms)
{
    child_->write(line + "\n");
    return child_->read_reply(timeout_ms);
}

void Book::converse(const std::vector<std::pair<std::string, std::string>> &script)
{
    for (const auto &step : script)
        EXPECT_EQ(ask(step.first), step.second) << step.first;
}

SlapdOptions BookTest::options()
{
    SlapdOptions book;
    book.ldif = {"tests/data/book.ldif", "tests/data/referral.ldif"};
    book.sizelimit = 3;
    return book;
}

std::string BookTest::config(const std::string &more)
{
    const SlapdOptions &o = slapd->options();
    return "host 127.0.0.1\nport " + std::to_string(slapd->port()) + "\nmanager_dn " + o.rootdn +
           "\nmanager_pass " + o.rootpw + "\nbase_dn ou=People," + o.suffix +
           "\nscope LDAP_SCOPE_SUBTREE\n" + more;
}
