// Shared by the address-book tests: the built extern_book driven over its
// standard input and output, and one private slapd per test suite.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/process.h"
#include "common/slapd.h"
#include "common/tempdir.h"

extern const std::string GREETING, NONE, NO_RESULT;
std::string located(int count);  // "\n+success <count> located.\n"
bool ends_with(const std::string &text, const std::string &end);

// Runs extern_book with args and input in a fresh directory holding
// extern_book.ini (unless ini is empty).
ProcessResult run_book(const std::string &ini, const std::string &input,
                       const std::vector<std::string> &args = {});

// extern_book started on ini in a directory of its own, greeted. At the end
// it is told to EXIT and must end with status 1.
class Book {
public:
    explicit Book(const std::string &ini);
    ~Book();
    std::string ask(const std::string &line, int timeout_ms = 5000);
    // Asks each command in turn; each reply must be the one paired with it.
    void converse(const std::vector<std::pair<std::string, std::string>> &script);
    ChildProcess &process() { return *child_; }

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> child_;
};

// The suite's slapd serves tests/data/book.ldif and a referral object beside
// ou=People, and gives ordinary users three entries per search at most.
class BookTest : public ::testing::Test {
protected:
    static SlapdOptions options();
    static void start(const SlapdOptions &options) { slapd = new Slapd(options); slapd->start(); }
    static void SetUpTestSuite() { start(options()); }
    static void TearDownTestSuite() { delete slapd; }
    void SetUp() override { ASSERT_TRUE(slapd->running()) << slapd->error(); }
    void TearDown() override { book_.reset(); }

    // Settings that reach the slapd (as its rootdn, subtree below
    // ou=People), then more.
    static std::string config(const std::string &more);
    static ProcessResult run(const std::string &more, const std::string &input)
    {
        return run_book(config(more), input);
    }
    Book &greeted(const std::string &more) { return *(book_ = std::make_unique<Book>(config(more))); }

    static inline Slapd *slapd;

private:
    std::unique_ptr<Book> book_;
};
