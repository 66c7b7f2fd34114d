// The line protocol as the host sees it: command words, field listings, bad
// input, long lines, exit words and the configuration the service reads.
#include <gtest/gtest.h>

#include <string>

#include "book_testing.h"

namespace {

const std::string NOT_VALID = "-failure not a valid command.\n";
const std::string BYE = "+success bye.\n";
const std::string FIELD = "field fullname STRING cn true\n";

std::string times(int count, const std::string &text)
{
    std::string out;
    while (count-- > 0)
        out += text;
    return out;
}

}  // namespace

class Protocol : public BookTest {};

TEST_F(Protocol, Sessions)
{
    std::string six_fields;
    for (char c = 'a'; c <= 'f'; c++)
        six_fields += std::string("field ") + c + " T " + c + " true\n";
    const std::string nuls("COMMANDS\0junk after a NUL\n\0COMMANDS\n", 36);
    // 1,500 characters are read as 1,023 and the rest; a line of exactly
    // 1,023 leaves its line feed for an empty third piece.
    std::string long_line = std::string(1023, 'x') + "COMMANDS and more";
    long_line += std::string(1500 - long_line.size(), 'y') + "\n" + std::string(1023, 'z') + "\n";
    const struct {
        std::string more, input, out;
    } sessions[] = {
        {"", "COMMANDS\ncommands\nCommands and words\nCOMMANDS\r\nCOMMANDS\r\r\n\r\nBYE\n",
         times(5, LIST) + NOT_VALID + BYE},
        // Three name=type pairs to a line, commas between the pairs.
        {"field a A x false\nfield b B y false\n", "AVAILABLE\nSEARCH_FIELDS\n",
         "record_id=STRING,a=A,b=B\n+success 3 available.\n+success 0 available.\n"},
        {six_fields, "AVAILABLE\nsearch_fields x\n",
         "record_id=STRING,a=T,b=T,\nc=T,d=T,e=T,\nf=T\n+success 7 available.\n"
         "a=T,b=T,c=T,\nd=T,e=T,f=T\n+success 6 available.\n"},
        {"", "\n   \n COMMANDS\nCOMMANDS\tAVAILABLE\n\t\n\r\nHELLO world\nSEARCHX AND 1-0 a=b\n"
             "EXITS\n" + nuls + std::string(5000, 'x') + "\nCOMMANDS\n",
         times(9, NOT_VALID) + LIST + NOT_VALID + times(5, NOT_VALID) + LIST},
        {"", long_line + "QUIT\n", NOT_VALID + LIST + NOT_VALID + NOT_VALID + BYE},
        {FIELD, "SEARCH\nSEARCH \nSEARCH AND\nSEARCH AND \nSEARCH AND 1-10\n"
                      "SEARCH AND 5 cn=x\nSEARCH AND\t1-0 cn=x\nGET\nget\n",
         times(9, NO_RESULT)},
        {"", "quit extra\nCOMMANDS\n", BYE},
        {"", "Bye\nCOMMANDS\n", BYE},
        {"", "COMMANDS", LIST},  // a last line without line feed
        {"", "", ""},
        // Debug lines only for "true" exactly.
        {"debug TRUE\n", "COMMANDS\n", LIST},
        {"debug  true\n", "COMMANDS\n", LIST},
    };
    for (const auto &s : sessions) {
        ProcessResult r = run(s.more, s.input);
        EXPECT_EQ(r.out, GREETING + s.out) << s.more << s.input;
        EXPECT_EQ(r.status, 1) << s.more << s.input;
    }
    ProcessResult r = run("debug true\n", "COMMANDS\n");
    EXPECT_EQ(r.out.rfind("Debug: ", 0), 0u) << r.out;
    EXPECT_TRUE(ends_with(r.out, GREETING + LIST)) << r.out;
}

TEST_F(Protocol, ConfigurationFiles)
{
    const struct {
        std::string ini;
        std::vector<std::string> args;
        std::string out;
    } failures[] = {
        {"", {}, "-failure Cannot open file extern_book.ini, No such file or directory\n"},
        {"", {"missing.ini"}, "-failure Cannot open file missing.ini, No such file or directory\n"},
        {"scope subtree\n", {"extern_book.ini", "ignored"},
         "-failure unrecognised value for ini setting (scope subtree)\n"
         "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE"},
    };
    for (const auto &f : failures) {
        ProcessResult r = run_book(f.ini, "COMMANDS\n", f.args);
        EXPECT_EQ(r.out, f.out);
        EXPECT_EQ(r.status, 0);
    }
    // A path that cannot be opened falls back to extern_book.ini, silently.
    TempDir dir;
    dir.write("extern_book.ini", config("field fallback STRING cn true\n"));
    dir.write("other.ini", config("field other STRING cn true\n"));
    ProcessResult r = run_process({EXTERN_BOOK_BIN, "missing.ini"}, dir.path(), "SEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "fallback=STRING\n+success 1 available.\n");
    r = run_process({EXTERN_BOOK_BIN, "other.ini", "more"}, dir.path(), "SEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "other=STRING\n+success 1 available.\n");
}
