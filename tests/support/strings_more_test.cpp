#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/nlib.h"

TEST(StringsMore, CopiesAndConcatenations)
{
    char buf[16] = "old";
    EXPECT_EQ(s_strcpy(buf, "new"), buf);
    EXPECT_STREQ(buf, "new");
    EXPECT_EQ(s_strcpy(buf, nullptr), buf);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(s_strcpy(nullptr, "x"), nullptr);

    std::strcpy(buf, "ab");
    EXPECT_EQ(s_strcat(buf, "cd"), buf);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(s_strcat(buf, nullptr), buf);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(s_strcat(nullptr, "x"), nullptr);
}

TEST(StringsMore, CountedCopyAndConcatenation)
{
    char buf[8];
    std::memset(buf, 'z', sizeof buf);
    char *end = ncpy(buf, "abcdef", 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(end, buf + 3);
    EXPECT_EQ(buf[4], 'z');  // n + 1 bytes at most

    std::memset(buf, 'z', sizeof buf);
    end = ncpy(buf, "ab", 5);
    EXPECT_EQ(end, buf + 2);
    EXPECT_EQ(buf[5], '\0');
    EXPECT_EQ(buf[6], 'z');
    EXPECT_EQ(ncpy(buf, nullptr, 5), buf);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ncpy(nullptr, "x", 1), nullptr);
    EXPECT_EQ(ncpy(buf, "xyz", -3), buf);
    EXPECT_STREQ(buf, "");

    std::strcpy(buf, "abc");
    EXPECT_EQ(ncat(buf, "def", 4), buf);
    EXPECT_STREQ(buf, "abcd");
    std::strcpy(buf, "abc");
    EXPECT_STREQ(ncat(buf, "def", 3), "abc");
    std::strcpy(buf, "abcdef");
    EXPECT_STREQ(ncat(buf, "x", 2), "ab");  // the zero at dst[n] cuts a longer text
    std::strcpy(buf, "ab");
    EXPECT_STREQ(ncat(buf, nullptr, 5), "ab");
    EXPECT_STREQ(ncat(buf, "cd", -1), "ab");
    EXPECT_EQ(ncat(nullptr, "cd", 5), nullptr);
}

TEST(StringsMore, GrowingConcatenation)
{
    char *text = s_stradd(nullptr, "x");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "x");
    text = s_stradd(text, "y");
    EXPECT_STREQ(text, "xy");
    EXPECT_EQ(s_stradd(text, nullptr), text);
    EXPECT_EQ(s_stradd(nullptr, nullptr), nullptr);
    std::string expected = "xy";
    for (int k = 0; k < 200; k++) {
        text = s_stradd(text, "0123456789");
        expected += "0123456789";
    }
    text = s_stradd(text, "");
    EXPECT_EQ(std::string(text), expected);
    std::free(text);
}

TEST(StringsMore, Comparisons)
{
    EXPECT_LT(s_strcmp("abc", "abd"), 0);
    EXPECT_EQ(s_strcmp("b", "a"), 1);
    EXPECT_EQ(s_strcmp("abc", "abc"), 0);
    EXPECT_EQ(s_strcmp("", ""), 0);
    EXPECT_EQ(s_strcmp(nullptr, nullptr), 1);
    EXPECT_EQ(s_strcmp("a", nullptr), 1);
    // First bytes compare as signed bytes, later ones as unsigned.
    EXPECT_LT(s_strcmp("\xe9", "a"), 0);
    EXPECT_GT(s_strcmp("a\xe9", "aa"), 0);
    EXPECT_EQ(s_strcmp("A", "a"), 'A' - 'a');

    EXPECT_EQ(s_strncmp("abc", "abd", 5), -1);
    EXPECT_EQ(s_strncmp("ab", "abc", 5), 1);
    EXPECT_EQ(s_strncmp("abc", "ab", 5), -1);
    EXPECT_EQ(s_strncmp("abc", "abd", 2), 0);
    EXPECT_EQ(s_strncmp("abc", "abc", 9), 0);
    EXPECT_EQ(s_strncmp("x", "y", 0), 0);
    EXPECT_EQ(s_strncmp("", "", 3), 0);
    EXPECT_EQ(s_strncmp(nullptr, "a", 1), 1);
}

TEST(StringsMore, CaseAndTrimming)
{
    char word[] = "abc\xe9Z1";
    EXPECT_EQ(s_strupr(word), word);
    EXPECT_STREQ(word, "ABC\xe9Z1");
    EXPECT_EQ(s_strupr(nullptr), nullptr);

    char padded[] = "  ab  ";
    EXPECT_STREQ(s_strtrm(padded), "ab");
    EXPECT_EQ(s_strtrm(padded), padded + 2);  // trimmed in place, never moved
    char tabbed[] = "\tab\t";
    EXPECT_STREQ(s_strtrm(tabbed), "\tab\t");
    char blanks[] = "    ";
    EXPECT_STREQ(s_strtrm(blanks), "");
    char single[] = " ";
    EXPECT_STREQ(s_strtrm(single), "");
    char empty[] = "";
    EXPECT_STREQ(s_strtrm(empty), "");
    EXPECT_EQ(s_strtrm(nullptr), nullptr);
}

TEST(StringsMore, Searches)
{
    const char *hay = "xAAB";
    EXPECT_EQ(s_stristr(hay, "ab"), hay + 2);
    EXPECT_EQ(s_stristr(hay, "XAAB"), hay);
    EXPECT_EQ(s_stristr(hay, "aabb"), nullptr);
    EXPECT_EQ(s_stristr(hay, ""), nullptr);
    EXPECT_EQ(s_stristr(nullptr, "a"), nullptr);
    EXPECT_EQ(s_stristr(hay, nullptr), nullptr);
    const char *high = "\xc9\xe9";
    EXPECT_EQ(s_stristr(high, "\xe9"), high + 1);  // no folding above 127

    EXPECT_EQ(s_strstr(hay, "AB"), hay + 2);
    EXPECT_EQ(s_strstr(hay, "ab"), nullptr);
    EXPECT_EQ(s_strstr(nullptr, "a"), nullptr);
    EXPECT_EQ(s_strstr(hay, nullptr), nullptr);

    const char *escaped = "a\x1b" "b\x1b" "b";
    EXPECT_EQ(s_strchr_japan(escaped, 'b'), escaped + 4);
    EXPECT_EQ(s_strchr_japan(escaped, 'a'), escaped);
    EXPECT_EQ(s_strchr_japan("a\x1b" "b", 'b'), nullptr);
    EXPECT_EQ(s_strchr_japan(escaped, 27), nullptr);
    EXPECT_EQ(s_strchr_japan(escaped, 0), nullptr);
    EXPECT_EQ(s_strchr_japan(nullptr, 'a'), nullptr);
    const char *latin = "x\xe9";
    EXPECT_EQ(s_strchr_japan(latin, 0xe9), latin + 1);
}

TEST(StringsMore, NumberConversions)
{
    EXPECT_EQ(s_atoi("42"), 42);
    EXPECT_EQ(s_atoi("  -17xyz"), -17);
    EXPECT_EQ(s_atoi("0x10"), 0);
    EXPECT_EQ(s_atoi("abc"), 0);
    EXPECT_EQ(s_atoi(nullptr), 0);
    EXPECT_EQ(s_atoi("99999999999"), INT_MAX);  // saturates instead of wrapping
    EXPECT_EQ(s_atoi("-99999999999"), INT_MIN);
    EXPECT_EQ(s_atol("2147483647"), INT_MAX);
    EXPECT_EQ(s_atol(nullptr), 0);
    EXPECT_DOUBLE_EQ(s_atof("2.5e3x"), 2500.0);
    EXPECT_DOUBLE_EQ(s_atof(nullptr), 0.0);
}
