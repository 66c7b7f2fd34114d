// Shared by the address-book tests: a private slapd serving
// tests/data/book.ldif for each test suite, and the built extern_book
// started in a temporary directory with a configuration pointing at it.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/process.h"
#include "common/slapd.h"
#include "common/tempdir.h"

extern const std::string GREETING;

class BookTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Settings that reach the suite's slapd (bound as its rootdn, subtree
    // below ou=People), followed by the given text.
    static std::string config(const std::string &more);
    // Runs extern_book on config(more) with input and returns all it wrote.
    static ProcessResult run(const std::string &more, const std::string &input);
    // Starts extern_book on config(more) for a conversation and reads its
    // greeting (and the debug lines before it). When the test ends, the
    // service is told to EXIT and must end with status 1.
    ChildProcess &greeted(const std::string &more);
    // Writes one command line and returns the reply, status line included.
    static std::string ask(ChildProcess &book, const std::string &line);

    static Slapd *slapd;
    static SlapdOptions options;  // what the next suite's slapd starts with
    TempDir dir;

private:
    std::unique_ptr<ChildProcess> book_;
};
