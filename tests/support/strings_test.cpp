// Bounded and counted copies, comparisons, case, trimming, searches, file
// names and number conversions.
#include "support/nlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// lcpy and lcat leave a terminated prefix and touch no byte past their
// bound: the guard bytes after it keep their 'z'.
TEST(Strings, BoundedCopiesNeverPassTheirBound)
{
    struct {
        const char *dst, *src;
        int size;
        const char *after_lcpy, *after_lcat;
    } cases[] = {
        {"keep", "abcdef", 0, "keep", "keep"}, {"keep", "abcdef", -3, "keep", "keep"},
        {"keep", "abcdef", 1, "", "keep"},     {"abc", "abcdef", 4, "abc", "abc"},
        {"abc", "def", 5, "def", "abcd"},      {"abc", "defghijklmnopqr", 16, "defghijklmnopqr", "abcdefghijklmno"},
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
    EXPECT_EQ(lcat(nullptr, "x", 4), nullptr);
    EXPECT_STREQ(lcpy(buf, nullptr, 4), "abc");
    EXPECT_STREQ(lcat(buf, nullptr, 4), "abc");
}

// ncpy and ncat count characters: the caller gives n + 1 bytes.
TEST(Strings, CountedAndUnboundedCopies)
{
    char buf[8];
    memset(buf, 'z', sizeof buf);
    EXPECT_EQ(ncpy(buf, "abcdef", 3), buf + 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'z');
    EXPECT_EQ(ncpy(buf, "ab", 5), buf + 2);
    EXPECT_EQ(buf[5], '\0');
    EXPECT_EQ(buf[6], 'z');
    EXPECT_EQ(ncpy(buf, "xyz", -3), buf);
    EXPECT_EQ(ncpy(nullptr, "x", 1), nullptr);
    EXPECT_STREQ(ncpy(buf, nullptr, 5), "");
    strcpy(buf, "abc");
    EXPECT_STREQ(ncat(buf, "def", 4), "abcd");
    strcpy(buf, "abc");
    EXPECT_STREQ(ncat(buf, "def", 3), "abc");
    strcpy(buf, "abcdef");
    EXPECT_STREQ(ncat(buf, "x", 2), "ab");  // the zero at dst[n] cuts a longer text
    EXPECT_STREQ(ncat(buf, nullptr, 5), "ab");
    EXPECT_EQ(ncat(nullptr, "x", 5), nullptr);

    EXPECT_STREQ(s_strcat(s_strcpy(buf, "ab"), "cd"), "abcd");
    EXPECT_STREQ(s_strcat(buf, nullptr), "abcd");
    EXPECT_STREQ(s_strcpy(buf, nullptr), "");
    EXPECT_EQ(s_strcpy(nullptr, "x"), nullptr);
    EXPECT_EQ(s_strcat(nullptr, "x"), nullptr);

    char *grown = s_stradd(s_stradd(nullptr, "x"), "y");
    EXPECT_STREQ(grown, "xy");
    EXPECT_EQ(s_stradd(grown, nullptr), grown);
    EXPECT_EQ(s_stradd(nullptr, nullptr), nullptr);
    for (int k = 0; k < 200; k++)
        grown = s_stradd(grown, "0123456789");
    EXPECT_EQ(strlen(grown), 2002u);
    grown = s_stradd(grown, grown + 2000);  // a text appended to itself, the block moving
    EXPECT_EQ(std::string(grown + 1998), "678989");
    grown = s_stradd(grown, grown);
    EXPECT_EQ(strlen(grown), 4008u);
    EXPECT_EQ(std::string(grown + 2004, 4), "xy01");
    free(grown);
}

// {result, expected}. The signs matter: the list's text comparators hand
// these results to a sort.
TEST(Strings, Comparisons)
{
    const int cases[][2] = {
        {s_stricmp("Search", "SEARCH"), 0},   {s_stricmp("ab", "abc"), -1},
        {s_stricmp("abc", "ab"), 'c'},        {s_stricmp("\xe9", "\xc9"), 0xe9 - 0xc9},  // no folding above 127
        {s_stricmp(nullptr, nullptr), 1},     {s_strnicmp(":DN:x", ":dn:", 4), 0},
        {s_strnicmp(":d", ":dn:", 4), 1},     {s_strnicmp(":dn:", ":d", 4), -1},
        {s_strnicmp("x", "y", 5), -1},        {s_strnicmp("x", "y", 0), 0},
        {s_strnicmp("abc", "ABD", -1), -1},   {s_strnicmp(nullptr, "a", 1), 1},
        {s_strcmp("b", "a"), 1},              {s_strcmp("a", nullptr), 1},
        {s_strncmp("abc", "abd", 5), -1},     {s_strncmp("ab", "abc", 5), 1},
        {s_strncmp("abc", "abd", 2), 0},      {s_strncmp("", "", 3), 0},
        {s_strncmp(nullptr, "a", 1), 1},
    };
    for (size_t k = 0; k < sizeof cases / sizeof cases[0]; k++)
        EXPECT_EQ(cases[k][0], cases[k][1]) << "case " << k;
    EXPECT_LT(s_strcmp("abc", "abd"), 0);
    EXPECT_LT(s_strcmp("\xe9", "a"), 0);   // the first bytes compare signed,
    EXPECT_GT(s_strcmp("a\xe9", "aa"), 0);  // later ones unsigned
}

TEST(Strings, CaseTrimAndSearches)
{
    char word[] = "\xc4" "BCabc";
    EXPECT_STREQ(s_strlwr(word), "\xc4" "bcabc");
    EXPECT_STREQ(s_strupr(word), "\xc4" "BCABC");
    EXPECT_EQ(s_strlwr(nullptr), nullptr);
    EXPECT_EQ(s_strupr(nullptr), nullptr);

    char padded[] = "  ab  ", tabbed[] = "\tab\t", blanks[] = "   ";
    EXPECT_EQ(s_strtrm(padded), padded + 2);  // trimmed in place, never moved
    EXPECT_STREQ(padded + 2, "ab");
    EXPECT_STREQ(s_strtrm(tabbed), "\tab\t");
    EXPECT_STREQ(s_strtrm(blanks), "");
    EXPECT_EQ(s_strtrm(nullptr), nullptr);

    const char *hay = "xAAB";
    EXPECT_EQ(s_strchr(hay, 0), hay + 4);
    EXPECT_EQ(s_strchr(nullptr, 'a'), nullptr);
    EXPECT_EQ(s_strlen(nullptr), 0u);
    EXPECT_EQ(s_strstr(hay, nullptr), nullptr);
    EXPECT_EQ(s_stristr(hay, "ab"), hay + 2);
    EXPECT_EQ(s_stristr(hay, "aabb"), nullptr);
    EXPECT_EQ(s_stristr(hay, ""), nullptr);
    EXPECT_EQ(s_stristr(nullptr, "a"), nullptr);

    const char *escaped = "a\x1b" "b\x1b" "b", *latin = "x\xe9";
    EXPECT_EQ(s_strchr_japan(escaped, 'b'), escaped + 4);
    EXPECT_EQ(s_strchr_japan(escaped, 27), nullptr);
    EXPECT_EQ(s_strchr_japan(escaped, 0), nullptr);
    EXPECT_EQ(s_strchr_japan(latin, 0xe9), latin + 1);
    EXPECT_EQ(s_strchr_japan(nullptr, 'a'), nullptr);
}

TEST(Strings, FileNamesAndPaths)
{
    EXPECT_STREQ(valid_file("a\tb\r\n"), "a_b__");
    EXPECT_STREQ(valid_file(nullptr), "");
    EXPECT_STREQ(valid_file(valid_file("x\ty")), "x_y");
    EXPECT_EQ(std::string(valid_file(std::string(600, 'n').c_str())), std::string(511, 'n'));

    // Long inputs: the result is the first 511 characters of the join.
    std::string d510(510, 'd'), d511(511, 'd'), f700(700, 'f');
    struct {
        const char *dir, *file;
        std::string joined;
    } cases[] = {
        {"/var/log", "x.log", "/var/log/x.log"}, {"/var/log/", "/x.log", "/var/log/x.log"},
        {"/var/log", "/x.log", "/var/log/x.log"}, {"", "x.log", "x.log"},
        {nullptr, "a\tb", "a_b"},                {"/tmp", nullptr, "/tmp/"},
        {"/tmp/", "", "/tmp/"},                  {"/tmp", "C:x", "/tmpC:x"},
        {"/tmp/", "C:x", "/tmpC:x"},             {"/", "/x", "/x"},
        {nullptr, "", ""},                       {d511.c_str(), "f", d511},
        {d510.c_str(), "file", d510 + "/"},      {"/d", f700.c_str(), "/d/" + f700.substr(0, 508)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(std::string(attach_path(c.dir, c.file)), c.joined) << (c.dir ? c.dir : "(null)");
    EXPECT_STREQ(attach_path(attach_path("/a", "b"), "c"), "/a/b/c");
}

TEST(Strings, NumberConversions)
{
    EXPECT_EQ(s_atoi("  -17xyz"), -17);
    EXPECT_EQ(s_atoi("99999999999"), INT_MAX);  // saturates instead of wrapping
    EXPECT_EQ(s_atol("-99999999999"), INT_MIN);
    EXPECT_EQ(s_atoi(nullptr), 0);
    EXPECT_DOUBLE_EQ(s_atof(nullptr), 0.0);
    EXPECT_DOUBLE_EQ(s_atof("2.5e3x"), 2500.0);
}

}  // namespace
