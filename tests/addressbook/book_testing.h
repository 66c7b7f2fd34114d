// Shared by the address-book tests: the built extern_book driven over its
// standard input and output, one private slapd per test suite, and a
// scripted directory (the fake server) with answers built per message ID.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/fake_server.h"
#include "common/process.h"
#include "common/slapd.h"
#include "common/tempdir.h"

inline const std::string GREETING = "+success LDAP External Address Book\n";
inline const std::string NONE = "-failure none located.\n";
inline const std::string NO_RESULT = "-failure no result available.\n";
inline const std::string LIST = "COMMANDS,AVAILABLE,SEARCH_FIELDS,SEARCH,GET,EXIT\n+success 6 commands available.\n";

inline std::string located(int count) { return "\n+success " + std::to_string(count) + " located.\n"; }
// GET's last line for an entry found, by its coded DN.
inline std::string entry_located(const std::string &coded) { return "+success '" + coded + "' located.\n"; }
// The coded DNs of the test data end so.
inline const std::string PEOPLE = "!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom";

inline std::string startup_failure(const std::string &host_port, const std::string &reason)
{
    return "-failure Failed to connect to host {" + host_port + "}(" + reason + ")\n";
}

inline bool ends_with(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Runs extern_book with input in a fresh directory holding extern_book.ini
// (unless ini is empty).
inline ProcessResult run_book(const std::string &ini, const std::string &input)
{
    TempDir dir;
    if (!ini.empty()) dir.write("extern_book.ini", ini);
    return run_process({EXTERN_BOOK_BIN}, dir.path(), input, 30000);
}

inline std::string repeated(const std::string &piece, int count)
{
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(count));
    while (count-- > 0) out += piece;
    return out;
}

using Clock = std::chrono::steady_clock;
inline double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// extern_book started on ini in a directory of its own, greeted. At the end
// it is told to EXIT and must end with status 1.
class Book {
  public:
    explicit Book(const std::string &ini)
    {
        dir_.write("extern_book.ini", ini);
        child_ = std::make_unique<ChildProcess>(std::vector<std::string>{EXTERN_BOOK_BIN}, dir_.path());
        std::string greeting = child_->read_reply();  // debug lines may come first
        EXPECT_TRUE(ends_with(greeting, GREETING)) << greeting;
    }
    ~Book()
    {
        EXPECT_TRUE(ends_with(ask("EXIT"), "+success bye.\n"));
        EXPECT_EQ(child_->wait(), 1);
    }
    // The reply to line; how long it took in *seconds unless null.
    std::string ask(const std::string &line, int timeout_ms = 5000, double *seconds = nullptr)
    {
        auto start = Clock::now();
        child_->write(line + "\n");
        std::string reply = child_->read_reply(timeout_ms);
        if (seconds) *seconds = seconds_since(start);
        return reply;
    }
    ChildProcess &process() { return *child_; }
    // Asks each command in turn: its reply must be the one given, or where
    // debug lines may come first (tail), end with it.
    void expect(const std::vector<std::pair<std::string, std::string>> &steps, bool tail = false)
    {
        for (const auto &[command, reply] : steps) {
            std::string got = ask(command);
            EXPECT_EQ(tail && ends_with(got, reply) ? reply : got, reply) << command;
        }
    }

  private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> child_;
};

// Settings that reach server at its port on hosts (as its rootdn, subtree
// below ou=People), then more.
inline std::string book_config(const Slapd &server, const std::string &more, const std::string &hosts = "127.0.0.1")
{
    const SlapdOptions &o = server.options();
    return "host " + hosts + "\nport " + std::to_string(server.port()) + "\nmanager_dn " + o.rootdn +
           "\nmanager_pass " + o.rootpw + "\nbase_dn ou=People," + o.suffix + "\nscope LDAP_SCOPE_SUBTREE\n" + more;
}

// The suite's slapd serves tests/data/book.ldif and a referral object beside
// ou=People. It gives ordinary users three entries per search at most; the
// reader as many as it asks for page by page, and result 11 to a search that
// no index narrows to six entries or fewer (sn and objectClass are indexed).
class BookTest : public ::testing::Test {
  protected:
    static SlapdOptions options()
    {
        SlapdOptions book;
        book.ldif = {"tests/data/book.ldif", "tests/data/referral.ldif"};
        book.sizelimit = 3;
        book.database_lines = {"index sn,objectClass eq",
                               "limits dn.exact=\"" SLAPD_READER_DN "\" size.soft=3 size.hard=3 "
                               "size.pr=unlimited size.prtotal=unlimited size.unchecked=6"};
        return book;
    }
    static void start(const SlapdOptions &options)
    {
        slapd = new Slapd(options);
        slapd->start();
    }
    static void SetUpTestSuite() { start(options()); }
    static void TearDownTestSuite() { delete slapd; }
    void SetUp() override { ASSERT_TRUE(slapd->running()) << slapd->error(); }

    static std::string config(const std::string &more) { return book_config(*slapd, more); }

    static inline Slapd *slapd;
};

// The scripted directory: what make builds for a request's message ID.
using Make = std::function<std::string(int id)>;
using Script = std::function<void(FakeServer &)>;

// The next request, answered by make.
inline void answer(FakeServer &fake, Make make)
{
    fake.read_request().reply([make](const std::string &request) { return make(ber_message_id(request)); });
}

// Entries cn=a, cn=b, ... (from cn=first on) of a search.
inline std::string entries(int id, int count, char first = 'a')
{
    std::string out;
    for (char c = first; c < first + count; c++)
        out += ldap_entry_bytes(id, std::string("cn=") + c, "cn", std::string(1, c));
    return out;
}

inline const Make BIND_OK = [](int id) { return ldap_result_bytes(0x61, id, 0); };
inline const Make TWO = [](int id) { return entries(id, 2) + ldap_result_bytes(0x65, id, 0); };
inline const std::string ALL = "SEARCH AND 1-0 name=*";
inline const std::string TWO_FOUND = "cn!3Da,\ncn!3Db" + located(2);
// Short waits: one second each, so a whole command may take three.
inline const std::string QUICK = "connect_timeout 1\ntimeout 1\ntime_limit 1\n";

// The bind answered by bind, and the reading of the schema after a
// successful one refused.
inline void bind_ok(FakeServer &fake, Make bind = BIND_OK)
{
    answer(fake, bind);
    answer(fake, [](int id) { return ldap_result_bytes(0x65, id, 50, "no schema for you"); });
}

inline std::string fake_config(const FakeServer &fake, const std::string &more = "")
{
    return "host 127.0.0.1\nport " + std::to_string(fake.port()) + "\nfield name STRING cn true\n" + more;
}
