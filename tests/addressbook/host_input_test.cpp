// extern_book fed random host input: every line, whatever it holds, gets
// exactly one status line per piece the service reads it in, and the
// service neither crashes nor stops serving.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "book_testing.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
const size_t LINES = 20000;  // the same paths, at sanitizer speed
#else
const size_t LINES = 100000;
#endif
const size_t PIECE = 1023;  // characters of a line read at once

const std::string SENTINEL = "COMMANDS";
const std::string SENTINEL_REPLY =
    "COMMANDS,AVAILABLE,SEARCH_FIELDS,SEARCH,GET,EXIT\n+success 6 commands available.\n";

const char *const TEMPLATES[] = {
    "COMMANDS", "available extra words", "SEARCH_FIELDS", "SEARCH AND 1-0 fullname=Tester*",
    "SEARCH or 2-3 email=*@example.com,surname=Tester", "SEARCH AND 1-0 fullname=x)(userPassword=*",
    "SEARCH AND 0-0 unknown=1", "SEARCH AND -5--3 surname=*,,phone=+1*",
    "GET cn!3DTester!20One!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom trailing", "GET !", "GET !4",
    "GET !zz!3d", "SEARCH ", "GET ", "SEARCH AND 1-", "SEARCH AND 1-0 fullname="};

// Status lines the line makes (its pieces), or 0 when a piece would end the
// session: its text up to a NUL and the first blank, CR and LF cut off, is
// an exit word.
size_t pieces(const std::string &line)
{
    std::string whole = line + "\n";
    for (size_t at = 0; at < whole.size(); at += PIECE) {
        std::string text = whole.substr(at, PIECE);
        text = text.substr(0, text.find('\0'));
        text = text.substr(0, text.find_last_not_of("\r\n") + 1);
        std::string word = text.substr(0, text.find(' '));
        for (char &c : word)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if (word == "EXIT" || word == "QUIT" || word == "BYE")
            return 0;
    }
    return (whole.size() + PIECE - 1) / PIECE;
}

std::string random_line(std::mt19937 &random)
{
    auto below = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    auto bytes = [&random, &below](size_t count) {
        std::string text;
        while (text.size() < count)
            if (char c = static_cast<char>(random()); c != '\n')
                text += c;
        return text;
    };
    std::string known = TEMPLATES[below(std::size(TEMPLATES))];
    switch (below(6)) {
    case 0:
        return bytes(below(120));  // NULs and CRs included
    case 1:
        return known + bytes(1000 + below(4000));  // read in several pieces
    case 2:
        for (int n = 0; n < 3; n++)
            known.insert(below(known.size() + 1), 1, '\0');
        return known;
    case 3:
        return known.substr(0, below(known.size() + 1));
    case 4:
        for (int n = 0; n < 3; n++)
            known[below(known.size())] = bytes(1)[0];
        return known;
    default:
        return known + bytes(below(60));
    }
}

}  // namespace

class HostInput : public BookTest {};

TEST_F(HostInput, EveryRandomLineGetsItsStatusLines)
{
    std::mt19937 random(424242);
    std::string input;
    std::vector<size_t> expected;  // status lines of each random line
    while (expected.size() < LINES) {
        std::string line = random_line(random);
        if (size_t count = pieces(line)) {
            expected.push_back(count);
            input += line + "\n" + SENTINEL + "\n";
        }
    }
    TempDir dir;
    dir.write("extern_book.ini", config("field fullname STRING cn true\nfield surname STRING sn true\n"
                                        "field email STRING mail true\n"
                                        "field phone PHONE telephoneNumber false\n"));
    ProcessResult r = run_process({EXTERN_BOOK_BIN}, dir.path(), input + "QUIT\n", 300000);
    ASSERT_EQ(r.status, 1) << "the service died";

    // Each random line's status lines, then the sentinel's reply at once.
    std::istringstream out(r.out);
    std::string text;
    ASSERT_TRUE(std::getline(out, text) && text + "\n" == GREETING);
    for (size_t i = 0; i < expected.size(); i++) {
        size_t statuses = 0;
        while (statuses < expected[i] && std::getline(out, text))
            statuses += text.rfind("+success", 0) == 0 || text.rfind("-failure", 0) == 0;
        ASSERT_EQ(statuses, expected[i]) << "line " << i;
        std::string reply, second;
        ASSERT_TRUE(std::getline(out, reply) && std::getline(out, second));
        ASSERT_EQ(reply + "\n" + second + "\n", SENTINEL_REPLY) << "after line " << i;
    }
    ASSERT_TRUE(std::getline(out, text));
    EXPECT_EQ(text, "+success bye.");
    EXPECT_FALSE(std::getline(out, text));
}
