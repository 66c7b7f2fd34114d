// extern_book fed random host input: every line, whatever it holds, gets
// exactly one status line per piece the service reads it in, and the
// service neither crashes nor stops serving.
#include <gtest/gtest.h>

#include <algorithm>
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

const char *const TEMPLATES[] = {
    "COMMANDS", "available extra words", "SEARCH_FIELDS", "SEARCH AND 1-0 fullname=Tester*",
    "SEARCH or 2-3 fullname=*,surname=Tester", "SEARCH AND -5--3 surname=*,,phone=+1*", "GET !zz!3d",
    "GET cn!3DTester!20One!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom trailing", ""};

// The status lines a line makes (one per piece), or 0 when a piece would
// end the session: up to a NUL and a blank, CR and LF cut, an exit word.
size_t pieces(const std::string &line)
{
    std::string whole = line + "\n";
    for (size_t at = 0; at < whole.size(); at += PIECE) {
        std::string text = whole.substr(at, PIECE);
        text = text.substr(0, text.find('\0'));
        text = text.substr(0, std::min(text.find(' '), text.find_last_not_of("\r\n") + 1));
        for (char &c : text)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if (text == "EXIT" || text == "QUIT" || text == "BYE")
            return 0;
    }
    return (whole.size() + PIECE - 1) / PIECE;
}

// A known command, random octets (NULs and CRs among them, now and then
// several pieces long), then a few octets changed or the end cut.
std::string random_line(std::mt19937 &random)
{
    auto below = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    std::string line = TEMPLATES[below(std::size(TEMPLATES))];
    for (size_t n = below(4) ? below(60) : 1000 + below(4000); n > 0; n--)
        line += static_cast<char>(random());
    for (int n = 0; n < 3 && !line.empty(); n++)
        if (below(2))
            line[below(line.size())] = static_cast<char>(below(3) ? random() : 0);
        else if (below(2))
            line.resize(below(line.size() + 1));
    line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
    return line;
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
            input += line + "\nCOMMANDS\n";
        }
    }
    ProcessResult r = run_book(config("field fullname STRING cn true\nfield surname STRING sn true\n"
                                      "field phone PHONE telephoneNumber no\n"),
                               input + "QUIT\n", {}, 300000);
    ASSERT_EQ(r.status, 1) << "the service died";

    // Each random line's status lines, then the reply to COMMANDS at once.
    std::istringstream out(r.out);
    std::string text;
    ASSERT_TRUE(std::getline(out, text) && text + "\n" == GREETING);
    for (size_t i = 0; i < expected.size(); i++) {
        size_t statuses = 0;
        while (statuses < expected[i] && std::getline(out, text))
            statuses += text.rfind("+success", 0) == 0 || text.rfind("-failure", 0) == 0;
        ASSERT_EQ(statuses, expected[i]) << "line " << i;
        ASSERT_TRUE(std::getline(out, text) && std::getline(out, text));
        ASSERT_EQ(text, "+success 6 commands available.") << "after line " << i;
    }
    ASSERT_TRUE(std::getline(out, text));
    EXPECT_EQ(text, "+success bye.");
}
