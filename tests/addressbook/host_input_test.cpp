// extern_book fed random host input: every line, whatever it holds, is
// answered with exactly one status line per command line it makes, and the
// service neither crashes nor stops serving.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "book_testing.h"

namespace {

// The sanitizer build runs a fifth of the lines: it is the same code path.
#if defined(__SANITIZE_ADDRESS__)
const int LINES = 20000;
#else
const int LINES = 100000;
#endif

const int PIECE = 1023;  // characters of a line the service reads at once

const std::string SENTINEL = "COMMANDS";
const std::string SENTINEL_REPLY[] = {"COMMANDS,AVAILABLE,SEARCH_FIELDS,SEARCH,GET,EXIT",
                                      "+success 6 commands available."};

const char *const TEMPLATES[] = {
    "COMMANDS",
    "available extra words",
    "SEARCH_FIELDS",
    "SEARCH AND 1-0 fullname=Tester*",
    "SEARCH or 2-3 email=*@example.com,surname=Tester",
    "SEARCH AND 1-0 fullname=x)(userPassword=*",
    "SEARCH AND 0-0 unknown=1",
    "SEARCH AND -5--3 surname=*,,phone=+1*",
    "GET cn!3DTester!20One!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom trailing",
    "GET !",
    "GET !4",
    "GET !zz!3d",
};

bool is_status(const std::string &line)
{
    return line.rfind("+success", 0) == 0 || line.rfind("-failure", 0) == 0;
}

// The command word of one piece as the service cuts it: the text up to a
// NUL, without trailing CR and LF, up to the first blank.
std::string command_word(const std::string &piece)
{
    std::string text = piece.substr(0, piece.find('\0'));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    std::string word = text.substr(0, text.find(' '));
    for (char &c : word)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return word;
}

// The pieces the service reads a line (with its line feed) in.
std::vector<std::string> pieces(const std::string &line)
{
    std::string whole = line + "\n";
    std::vector<std::string> out;
    for (size_t at = 0; at < whole.size(); at += PIECE)
        out.push_back(whole.substr(at, PIECE));
    return out;
}

bool ends_session(const std::string &line)
{
    for (const std::string &piece : pieces(line)) {
        std::string word = command_word(piece);
        if (word == "EXIT" || word == "QUIT" || word == "BYE")
            return true;
    }
    return false;
}

class RandomLines {
public:
    explicit RandomLines(unsigned seed) : random_(seed) {}

    std::string next()
    {
        std::string line;
        do
            line = make();
        while (ends_session(line));
        return line;
    }

private:
    int below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
    char any_byte()
    {
        char c;
        do
            c = static_cast<char>(random_());
        while (c == '\n');
        return c;
    }
    std::string bytes(int count)
    {
        std::string text;
        while (count-- > 0)
            text += any_byte();
        return text;
    }

    std::string make()
    {
        std::string known = TEMPLATES[below(static_cast<int>(std::size(TEMPLATES)))];
        switch (below(6)) {
        case 0:  // random octets, NULs and CRs included
            return bytes(below(120));
        case 1:  // long lines, read in several pieces
            return (below(2) ? known + " " : "") + bytes(1000 + below(4000));
        case 2: {  // a command with NULs in it
            for (int n = 1 + below(3); n > 0; n--)
                known.insert(static_cast<size_t>(below(static_cast<int>(known.size()) + 1)), 1, '\0');
            return known;
        }
        case 3:  // cut short
            return known.substr(0, static_cast<size_t>(below(static_cast<int>(known.size()) + 1)));
        case 4: {  // a few octets changed
            for (int n = 1 + below(3); n > 0; n--)
                known[static_cast<size_t>(below(static_cast<int>(known.size())))] = any_byte();
            return known;
        }
        default: {  // a command word with random arguments
            const char *const words[] = {"SEARCH ", "GET ", "SEARCH AND 1-", "SEARCH OR 1-0 ",
                                         "SEARCH AND 1-0 fullname=", "AVAILABLE "};
            return words[below(static_cast<int>(std::size(words)))] + bytes(below(60));
        }
        }
    }

    std::mt19937 random_;
};

}  // namespace

class HostInput : public BookTest {};

TEST_F(HostInput, EveryRandomLineGetsItsStatusLines)
{
    RandomLines random(424242);
    std::string input;
    std::vector<size_t> expected;  // status lines for each random line
    for (int i = 0; i < LINES; i++) {
        std::string line = random.next();
        expected.push_back(pieces(line).size());
        input += line + "\n" + SENTINEL + "\n";
    }
    dir.write("extern_book.ini", config("field fullname STRING cn true\n"
                                        "field surname STRING sn true\n"
                                        "field email STRING mail true\n"
                                        "field phone PHONE telephoneNumber false\n"));
    ProcessResult r = run_process({EXTERN_BOOK_BIN}, dir.path(), input + "QUIT\n", 300000);
    ASSERT_EQ(r.status, 1) << "the service died";

    // Walk the output: each random line's status lines, then the sentinel's
    // reply right after the last of them.
    std::istringstream out(r.out);
    std::string text;
    ASSERT_TRUE(std::getline(out, text));
    ASSERT_EQ(text + "\n", GREETING);
    for (size_t i = 0; i < expected.size(); i++) {
        size_t statuses = 0;
        while (statuses < expected[i] && std::getline(out, text))
            statuses += is_status(text);
        ASSERT_EQ(statuses, expected[i]) << "line " << i;
        for (const std::string &reply : SENTINEL_REPLY) {
            ASSERT_TRUE(std::getline(out, text));
            ASSERT_EQ(text, reply) << "after line " << i;
        }
    }
    ASSERT_TRUE(std::getline(out, text));
    EXPECT_EQ(text, "+success bye.");
    EXPECT_FALSE(std::getline(out, text));
}
