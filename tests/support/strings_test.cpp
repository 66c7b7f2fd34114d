// Copies, comparisons, searches, tokenizers, file names and path parts.
#include "support/nlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string text(const char *s) { return s ? s : "(none)"; }

// lcpy and lcat leave a terminated prefix and touch no byte past their
// bound: the guard bytes after it keep their 'z'.
TEST(Strings, CopiesNeverPassTheirBound)
{
    struct {
        const char *dst, *src;
        int size;
        const char *after_lcpy, *after_lcat;
    } cases[] = {
        {"keep", "abcdef", 0, "keep", "keep"}, {"keep", "abcdef", -3, "keep", "keep"},
        {"keep", "abcdef", 1, "", "keep"},     {"abc", "abcdef", 4, "abc", "abc"},
        {"abc", "def", 5, "def", "abcd"},
    };
    for (const auto &c : cases) {
        for (bool cat : {false, true}) {
            char buf[32];
            memset(buf, 'z', sizeof buf);
            strcpy(buf, c.dst);
            EXPECT_EQ(cat ? lcat(buf, c.src, c.size) : lcpy(buf, c.src, c.size), buf);
            EXPECT_STREQ(buf, cat ? c.after_lcat : c.after_lcpy) << c.dst << " " << c.size;
            for (size_t k = std::max(size_t(std::max(c.size, 0)), strlen(c.dst) + 1); k < sizeof buf; k++)
                ASSERT_EQ(buf[k], 'z') << k;
        }
    }
    char buf[8] = "abc";
    EXPECT_EQ(lcpy(nullptr, "x", 4), nullptr);
    EXPECT_STREQ(lcat(lcpy(buf, nullptr, 4), nullptr, 4), "abc");

    // ncpy and ncat count characters: the caller gives n + 1 bytes.
    memset(buf, 'z', sizeof buf);
    EXPECT_EQ(ncpy(buf, "abcdef", 3), buf + 3);
    EXPECT_EQ(std::string(buf, 5), std::string("abc\0z", 5));
    EXPECT_EQ(ncpy(buf, "ab", 5), buf + 2);
    EXPECT_EQ(std::string(buf + 5, 2), std::string("\0z", 2));
    EXPECT_STREQ(ncpy(buf, "xyz", -3), "");  // negative counts copy nothing
    strcpy(buf, "ab");
    EXPECT_STREQ(ncat(buf, "xyz", -3), "ab");
    EXPECT_STREQ(ncat(buf, "def", 3), "abd");
    strcpy(buf, "abcdef");
    EXPECT_STREQ(ncat(buf, "x", 2), "ab");  // the zero at dst[n] cuts a longer text
    EXPECT_EQ(ncpy(nullptr, "x", 1), ncat(nullptr, "x", 5));
    EXPECT_STREQ(s_strcat(s_strcpy(buf, "ab"), nullptr), "ab");

    char *grown = s_stradd(s_stradd(nullptr, "x"), "y");
    EXPECT_EQ(s_stradd(grown, nullptr), grown);
    for (int k = 0; k < 200; k++)
        grown = s_stradd(grown, "0123456789");
    grown = s_stradd(grown, grown + 2000);  // a text appended to itself, the block moving
    EXPECT_EQ(std::string(grown + 1998), "678989");
    grown = s_stradd(grown, grown);
    EXPECT_EQ(strlen(grown), 4008u);
    EXPECT_EQ(std::string(grown + 2004, 4), "xy01");
    free(grown);
}

// {result, expected}. The signs matter: the list's text comparators hand
// these results to a sort.
TEST(Strings, ComparisonsCaseAndSearches)
{
    const int cases[][2] = {
        {s_stricmp("Search", "SEARCH"), 0},  {s_stricmp("ab", "abc"), -1},
        {s_stricmp("abc", "ab"), 'c'},       {s_stricmp("\xe9", "\xc9"), 0xe9 - 0xc9},  // no folding above 127
        {s_stricmp(nullptr, nullptr), 1},    {s_strnicmp(":DN:x", ":dn:", 4), 0},
        {s_strnicmp(":d", ":dn:", 4), 1},    {s_strnicmp(":dn:", ":d", 4), -1},
        {s_strnicmp("x", "y", 0), 0},        {s_strnicmp("abc", "ABD", -1), -1},
        {s_strcmp("a", nullptr), 1},         {s_strncmp("ab", "abc", 5), 1},
        {s_strncmp("abc", "abd", 2), 0},     {s_strncmp(nullptr, "a", 1), 1},
        {s_strcmp("\xe9", "a") < 0, 1},      {s_strcmp("a\xe9", "aa") > 0, 1},  // signed, then unsigned
        {s_atoi("  -17xyz"), -17},           {s_atoi("99999999999"), INT_MAX},  // saturates
        {s_atol("-99999999999"), INT_MIN},   {s_atoi(nullptr), 0},
    };
    for (size_t k = 0; k < sizeof cases / sizeof cases[0]; k++)
        EXPECT_EQ(cases[k][0], cases[k][1]) << "case " << k;
    EXPECT_DOUBLE_EQ(s_atof("2.5e3x") + s_atof(nullptr), 2500.0);

    char word[] = "\xc4" "BCabc", padded[] = "  ab  ", tabbed[] = "\tab\t";
    EXPECT_STREQ(s_strupr(s_strlwr(word)), "\xc4" "BCABC");
    EXPECT_EQ(s_strlwr(nullptr), s_strupr(nullptr));
    EXPECT_EQ(s_strtrm(padded), padded + 2);  // trimmed in place, never moved
    EXPECT_STREQ(padded + 2, "ab");
    EXPECT_STREQ(s_strtrm(tabbed), "\tab\t");
    EXPECT_EQ(s_strtrm(nullptr), nullptr);

    const char *hay = "xAAB";
    EXPECT_EQ(s_strchr(hay, 0), hay + 4);
    EXPECT_EQ(s_strlen(nullptr) + (s_strchr(nullptr, 'a') != nullptr) + (s_strstr(hay, nullptr) != nullptr), 0u);
    EXPECT_EQ(s_stristr(hay, "ab"), hay + 2);
    EXPECT_EQ(s_stristr(hay, "aabb"), nullptr);
    EXPECT_EQ(s_stristr(hay, ""), nullptr);
    const char *escaped = "a\x1b" "b\x1b" "b", *latin = "x\xe9";
    EXPECT_EQ(s_strchr_japan(escaped, 'b'), escaped + 4);
    EXPECT_EQ(s_strchr_japan(escaped, 27), nullptr);
    EXPECT_EQ(s_strchr_japan(latin, 0xe9), latin + 1);
}

// All tokens of s, "(none)" marking the null that ends them.
template <class Next>
std::vector<std::string> split(std::string s, Next next)
{
    std::vector<std::string> out;
    char *cursor = nullptr;
    for (char *token = next(&s[0], &cursor); out.size() < 50; token = next(nullptr, &cursor)) {
        out.push_back(text(token));
        if (!token)
            break;
    }
    return out;
}

TEST(Strings, Tokenizers)
{
    typedef std::vector<std::string> tokens;
    auto kept = [](char *s, char **) { return s_strtoken(s, ",;"); };
    EXPECT_EQ(split("a;b,,", kept), (tokens{"a", "b", "", "", "(none)"}));
    std::string caller = "x y";  // it splits its own copy, at most 1,023 characters of it
    EXPECT_STREQ(s_strtoken(caller.c_str(), " "), "x");
    EXPECT_EQ(caller, "x y");
    EXPECT_EQ(s_strtoken("a b", nullptr), nullptr);
    EXPECT_STREQ(s_strtoken(nullptr, " "), "a");
    EXPECT_EQ(s_strlen(s_strtoken(std::string(3000, 'h').c_str(), ",")), 1023u);

    auto plain = [](char *s, char **cursor) { return mystrtok(s, ",", cursor); };
    EXPECT_EQ(split(",,a,,b,", plain), (tokens{"a", "b", "(none)"}));
    auto quoted = [](char *s, char **cursor) { return myquotetok(s, " ", cursor); };
    EXPECT_EQ(split("x \"a b\" y", quoted), (tokens{"x", "a b", "y", "(none)"}));
    EXPECT_EQ(split("  \"\"  q\"r s\"t ", quoted), (tokens{"", "q\"r s\"t", "(none)"}));
    EXPECT_EQ(split("\"open ended", quoted), (tokens{"open ended", "(none)"}));
    EXPECT_EQ(split("\"", quoted), (tokens{"", "(none)"}));
    auto quote_delim = [](char *s, char **cursor) { return myquotetok(s, "\",", cursor); };
    EXPECT_EQ(split("\"a,b\",c", quote_delim), (tokens{"a,b", "c", "(none)"}));
    auto one = [](char *s, char **cursor) { return myquotetok_one(s, ';', cursor); };
    EXPECT_EQ(split(";a;;\"x;y\"", one), (tokens{"", "a", "", "x;y", "(none)"}));
    char line[] = "a b";
    EXPECT_STREQ(mystrtok(line, " ", nullptr), "a");  // a cursor is optional
    EXPECT_EQ(myquotetok(nullptr, nullptr, nullptr), myquotetok_one(line, 0, nullptr));

    EXPECT_STREQ(remove_quote("say \"hi\" now"), "hi");
    EXPECT_STREQ(remove_quote("open \"ended"), "ended");
    EXPECT_STREQ(remove_quote(nullptr), "");
    EXPECT_EQ(std::string(remove_quote(("\"" + std::string(900, 'q') + "\"").c_str())), std::string(511, 'q'));
}

TEST(Paths, FileNamesAndJoins)
{
    EXPECT_STREQ(valid_file(valid_file("a\tb\r\n")), "a_b__");
    EXPECT_EQ(std::string(valid_file(std::string(600, 'n').c_str())), std::string(511, 'n'));
    // Long inputs: the result is the first 511 characters of the join.
    std::string d510(510, 'd'), d511(511, 'd'), f700(700, 'f');
    struct {
        const char *dir, *file;
        std::string joined;
    } cases[] = {
        {"/var/log", "x.log", "/var/log/x.log"}, {"/var/log/", "/x.log", "/var/log/x.log"},
        {"", "x.log", "x.log"},                  {nullptr, "a\tb", "a_b"},
        {"/tmp", nullptr, "/tmp/"},              {"/tmp/", "C:x", "/tmpC:x"},
        {d511.c_str(), "f", d511},               {d510.c_str(), "file", d510 + "/"},
        {"/d", f700.c_str(), "/d/" + f700.substr(0, 508)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(std::string(attach_path(c.dir, c.file)), c.joined) << text(c.dir);
    EXPECT_STREQ(attach_path(attach_path("/a", "b"), "c"), "/a/b/c");
}

TEST(Paths, ExtensionsAndComponents)
{
    struct {
        const char *name, *stripped, *ext;
    } cases[] = {
        {"archive.tar.gz", "archive.tar", "gz"}, {"README", "README", ""}, {"dir.d/file", "dir", "d/file"},
        {"abc.", "abc", ""}, {"abc..", "abc..", ""}, {"x.", "x.", ""}, {".profile", "", "profile"},
        {nullptr, "", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(text(strip_ext(c.name)), c.stripped) << text(c.name);
        EXPECT_EQ(text(get_ext(c.name)), c.ext) << text(c.name);
    }
    const char *tarball = "a.tar.gz";
    EXPECT_EQ(point_ext(tarball), tarball + 5);
    for (const char *none : {"dir.d/file", "dir.d\\file", "x", (const char *)nullptr})
        EXPECT_EQ(point_ext(none), nullptr) << text(none);
    EXPECT_EQ(text(attach_ext("report", ".txt")), "report.txt");
    EXPECT_EQ(text(attach_ext("report", nullptr)), "report");
    EXPECT_EQ(attach_ext(".hidden", "txt"), attach_ext(nullptr, "txt"));
    EXPECT_EQ(attach_ext("", "txt"), nullptr);
    EXPECT_EQ(text(attach_ext(std::string(510, 'n').c_str(), "txt")), std::string(510, 'n') + ".");

    EXPECT_EQ(text(strip_path("/home/u/notes.txt", 1)), "notes");
    EXPECT_EQ(text(strip_path("/home/u/", 0)), "");
    EXPECT_EQ(strip_path("a/b.c", 1), strip_ext("x"));  // strip_ext's own buffer
    EXPECT_EQ(text(strip_filename("/c")), "/");
    EXPECT_EQ(strip_filename("notes.txt"), nullptr);
    EXPECT_EQ(text(remove_path("/home/u/notes.txt", 1)), "u");
    for (const char *none : {"notes.txt", "/notes.txt", "a/notes.txt", (const char *)nullptr})
        EXPECT_EQ(remove_path(none, 0), nullptr) << text(none);

    // Only backslash references fold, each fold searching on from the cut.
    const char *folds[][2] = {
        {"/usr/lib/..\\x", "/usr\\x"}, {"/a/.\\b", "/a\\b"},   {"/usr/lib/../x", "/usr/lib/../x"},
        {"/a/b/c/..\\..\\x", "/a/b\\..\\x"}, {"/a/b/..\\c/..\\x", "\\x"}, {"/..\\x", "/..\\x"},
        {"lib/..\\x", "lib/..\\x"}, {"a..\\b.\\c", "a..\\b.\\c"}, {"/x/.\\.\\y", "/x\\.\\y"}, {nullptr, ""},
    };
    for (const auto &f : folds)
        EXPECT_EQ(text(update_path(f[0])), f[1]) << text(f[0]);

    // A result may be handed back; long inputs are cut at 511 characters.
    EXPECT_EQ(text(strip_ext(strip_ext("a.b.c"))), "a");
    EXPECT_EQ(text(strip_path(strip_path("/x/y/z", 0), 0)), "z");
    EXPECT_EQ(text(strip_filename(strip_filename("a/b/c"))), "a/b/");
    EXPECT_EQ(text(update_path(update_path("/usr/lib/..\\x"))), "/usr\\x");
    EXPECT_EQ(text(remove_path(remove_path("/a/b/c/d", 0), 0)), "/a/");
    EXPECT_EQ(text(attach_ext("a", attach_ext("b", "c"))), "a.b.c");
    std::string long_path = "/" + std::string(700, 'd') + "/" + std::string(700, 'f') + ".e";
    for (unsigned n : {s_strlen(update_path(long_path.c_str())), s_strlen(strip_ext(long_path.c_str())),
                       s_strlen(strip_path(long_path.c_str(), 0)), s_strlen(attach_ext(std::string(600, 'n').c_str(), "t"))})
        EXPECT_EQ(n, 511u);
    EXPECT_EQ(text(strip_filename(long_path.c_str())), "/");  // the cut drops the second '/'
}

}  // namespace
