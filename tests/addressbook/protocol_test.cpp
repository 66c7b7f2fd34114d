// The line protocol as the host sees it: the built extern_book started on a
// configuration in a temporary directory, fed command lines on its standard
// input, judged by its standard output and exit status.
#include <gtest/gtest.h>

#include <string>

#include "book_testing.h"

namespace {

const std::string NOT_VALID = "-failure not a valid command.\n";
const std::string NO_RESULT = "-failure no result available.\n";
const std::string COMMAND_LIST =
    "COMMANDS,AVAILABLE,SEARCH_FIELDS,SEARCH,GET,EXIT\n+success 6 commands available.\n";

const std::string FOUR_FIELDS = "field fullname STRING cn true\n"
                                "field email STRING mail true\n"
                                "field phone PHONE telephoneNumber false\n"
                                "field surname STRING sn TRUE\n";

}  // namespace

class Protocol : public BookTest {};

TEST_F(Protocol, CommandWords)
{
    ProcessResult r = run(FOUR_FIELDS, "COMMANDS\n"
                                            "commands\n"
                                            "Commands and further words\n"
                                            "COMMANDS\r\n"
                                            "COMMANDS\r\r\n\r\n"
                                            "BYE\n");
    EXPECT_EQ(r.out, GREETING + COMMAND_LIST + COMMAND_LIST + COMMAND_LIST + COMMAND_LIST +
                         COMMAND_LIST + NOT_VALID + "+success bye.\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(Protocol, FieldListings)
{
    // Four fields and record_id: three pairs to a line, commas between pairs.
    ProcessResult r = run(FOUR_FIELDS, "AVAILABLE\nsearch_fields\nSEARCH_FIELDS x\n");
    std::string searchable = "fullname=STRING,email=STRING,surname=STRING\n+success 3 available.\n";
    EXPECT_EQ(r.out, GREETING +
                         "record_id=STRING,fullname=STRING,email=STRING,\n"
                         "phone=PHONE,surname=STRING\n+success 5 available.\n" +
                         searchable + searchable);
    EXPECT_EQ(r.status, 1);

    // Exactly three, six and seven pairs: no empty line is ever written.
    r = run("field a A x false\nfield b B y false\n", "AVAILABLE\nSEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "record_id=STRING,a=A,b=B\n+success 3 available.\n"
                                "+success 0 available.\n");
    std::string six;
    for (char c = 'a'; c < 'f'; c++)
        six += std::string("field ") + c + " T " + c + " true\n";
    r = run(six, "AVAILABLE\nSEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "record_id=STRING,a=T,b=T,\nc=T,d=T,e=T\n+success 6 available.\n"
                                "a=T,b=T,c=T,\nd=T,e=T\n+success 5 available.\n");
    r = run(six + "field f T f true\n", "SEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "a=T,b=T,c=T,\nd=T,e=T,f=T\n+success 6 available.\n");

    // Only the built-in field.
    r = run("", "AVAILABLE\nSEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "record_id=STRING\n+success 1 available.\n"
                                "+success 0 available.\n");
}

TEST_F(Protocol, BadInputKeepsTheLoopGoing)
{
    std::string input = "\n"
                        "   \n"
                        " COMMANDS\n"
                        "COMMANDS\tAVAILABLE\n"
                        "\t\n"
                        "\r\n"
                        "HELLO world\n"
                        "SEARCHX AND 1-0 a=b\n"
                        "EXITS\n";
    const char nul_inside[] = "COMMANDS\0junk after a NUL byte\n";
    const char nul_first[] = "\0COMMANDS\n";
    input += std::string(nul_inside, sizeof nul_inside - 1);
    input += std::string(nul_first, sizeof nul_first - 1);
    input += std::string(5000, 'x') + "\n";
    input += "COMMANDS\n";
    ProcessResult r = run(FOUR_FIELDS, input);
    std::string expected = GREETING;
    for (int i = 0; i < 9; i++)
        expected += NOT_VALID;
    expected += COMMAND_LIST + NOT_VALID;
    for (int i = 0; i < 5; i++)  // 5,001 bytes are read in five pieces
        expected += NOT_VALID;
    expected += COMMAND_LIST;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 1);
}

TEST_F(Protocol, LongLinesAreReadIn1023CharacterPieces)
{
    // 1,500 characters: the first 1,023, then the rest as a line of its own.
    std::string line = std::string(1023, 'x') + "COMMANDS and more words that pad the line";
    line += std::string(1500 - line.size(), 'y');
    ProcessResult r = run("", line + "\n" + std::string(1023, 'z') + "\nQUIT\n");
    // The second line of exactly 1,023 characters leaves its line feed for a
    // third, empty line.
    EXPECT_EQ(r.out, GREETING + NOT_VALID + COMMAND_LIST + NOT_VALID + NOT_VALID +
                         "+success bye.\n");
}

TEST_F(Protocol, SearchAndGetArguments)
{
    ProcessResult r = run(FOUR_FIELDS, "SEARCH\n"
                                            "SEARCH \n"
                                            "SEARCH AND\n"
                                            "SEARCH AND \n"
                                            "SEARCH AND 1-10\n"
                                            "SEARCH AND 5 cn=x\n"
                                            "SEARCH AND\t1-0 cn=x\n"
                                            "GET\n"
                                            "get\n");
    std::string expected = GREETING;
    for (int i = 0; i < 9; i++)
        expected += NO_RESULT;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 1);
}

TEST_F(Protocol, ExitWordsAndEndOfInput)
{
    for (const char *word : {"EXIT", "QUIT", "BYE", "Exit", "quit extra", "bye"}) {
        ProcessResult r = run("", std::string(word) + "\nCOMMANDS\n");
        EXPECT_EQ(r.out, GREETING + "+success bye.\n") << word;
        EXPECT_EQ(r.status, 1) << word;
    }
    ProcessResult r = run("", "COMMANDS");  // a last line without line feed
    EXPECT_EQ(r.out, GREETING + COMMAND_LIST);
    EXPECT_EQ(r.status, 1);
    r = run("", "");
    EXPECT_EQ(r.out, GREETING);
    EXPECT_EQ(r.status, 1);
}

TEST(Startup, ConfigurationFailuresEndWithStatusZero)
{
    TempDir dir;
    ProcessResult r = run_process({EXTERN_BOOK_BIN}, dir.path(), "COMMANDS\n");
    EXPECT_EQ(r.out, "-failure Cannot open file extern_book.ini, No such file or directory\n");
    EXPECT_EQ(r.status, 0);

    r = run_process({EXTERN_BOOK_BIN, "missing.ini"}, dir.path(), "COMMANDS\n");
    EXPECT_EQ(r.out, "-failure Cannot open file missing.ini, No such file or directory\n");
    EXPECT_EQ(r.status, 0);

    dir.write("bad.ini", "field name STRING cn\n");
    r = run_process({EXTERN_BOOK_BIN, "bad.ini"}, dir.path(), "COMMANDS\n");
    EXPECT_EQ(r.out, "-failure malformed ini setting (field name)");
    EXPECT_EQ(r.status, 0);

    dir.write("scope.ini", "scope subtree\n");
    r = run_process({EXTERN_BOOK_BIN, dir.file("scope.ini"), "ignored"}, "", "COMMANDS\n");
    EXPECT_EQ(r.out, "-failure unrecognised value for ini setting (scope subtree)\n"
                     "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Protocol, ConfigurationPathAndFallback)
{
    dir.write("extern_book.ini", config("field fallback STRING cn true\n"));
    dir.write("other.ini", config("field other STRING cn true\n"));
    // A path that cannot be opened falls back to extern_book.ini, silently.
    ProcessResult r = run_process({EXTERN_BOOK_BIN, "missing.ini"}, dir.path(), "SEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "fallback=STRING\n+success 1 available.\n");
    r = run_process({EXTERN_BOOK_BIN, "other.ini", "more", "args"}, dir.path(), "SEARCH_FIELDS\n");
    EXPECT_EQ(r.out, GREETING + "other=STRING\n+success 1 available.\n");
}

TEST_F(Protocol, DebugLinesOnlyWhenDebugIsExactlyTrue)
{
    for (const char *off : {"", "debug TRUE\n", "debug yes\n", "debug  true\n"}) {
        ProcessResult r = run(off, "COMMANDS\n");
        EXPECT_EQ(r.out, GREETING + COMMAND_LIST) << off;
    }
    ProcessResult r = run("debug true\n", "COMMANDS\n");
    EXPECT_EQ(r.out.rfind("Debug: ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - COMMAND_LIST.size()), COMMAND_LIST);
}
