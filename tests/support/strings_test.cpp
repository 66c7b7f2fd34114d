#include "support/nlib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Strings, CharmapFoldsOnlyAsciiCapitals)
{
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(charmap[i], (i >= 'A' && i <= 'Z') ? i + 32 : i) << i;
}

TEST(Strings, BoundedCopyAndConcatenation)
{
    char buf[16];
    strcpy(buf, "keep");
    EXPECT_EQ(lcpy(buf, "new", 0), buf);
    lcpy(buf, "new", -3);
    EXPECT_STREQ(buf, "keep");
    lcpy(buf, "new", 1);
    EXPECT_STREQ(buf, "");
    lcpy(buf, "abcdef", 4);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(lcpy(nullptr, "x", 4), nullptr);
    EXPECT_EQ(lcpy(buf, nullptr, 4), buf);
    EXPECT_STREQ(buf, "abc");

    strcpy(buf, "abc");
    lcat(buf, "def", 5);
    EXPECT_STREQ(buf, "abcd");
    for (int size : {4, 3, 1, 0, -10}) {
        strcpy(buf, "abc");
        lcat(buf, "def", size);
        EXPECT_STREQ(buf, "abc") << size;
    }
    lcat(buf, nullptr, 16);
    EXPECT_EQ(lcat(nullptr, "x", 16), nullptr);
    lcat(buf, "defghijklmnopqrstuvwxyz", 16);
    EXPECT_STREQ(buf, "abcdefghijklmno");
}

TEST(Strings, CaseInsensitiveComparisons)
{
    EXPECT_EQ(s_stricmp("Search", "SEARCH"), 0);
    EXPECT_EQ(s_stricmp("ab", "abc"), -1);
    EXPECT_EQ(s_stricmp("abc", "ab"), 'c');
    EXPECT_LT(s_stricmp("Apple", "banana"), 0);
    EXPECT_GT(s_stricmp("zeta", "ALPHA"), 0);
    EXPECT_EQ(s_stricmp("", ""), 0);
    EXPECT_EQ(s_stricmp(nullptr, nullptr), 1);
    EXPECT_EQ(s_stricmp("a", nullptr), 1);
    EXPECT_EQ(s_stricmp("\xe9", "\xc9"), 0xe9 - 0xc9);

    EXPECT_EQ(s_strnicmp(":DN:x", ":dn:", 4), 0);
    EXPECT_EQ(s_strnicmp(":d", ":dn:", 4), 1);
    EXPECT_EQ(s_strnicmp(":dn:", ":d", 4), -1);
    EXPECT_EQ(s_strnicmp("x", "y", 5), -1);
    EXPECT_EQ(s_strnicmp("x", "y", 0), 0);
    EXPECT_EQ(s_strnicmp("abX", "ABy", 2), 0);
    EXPECT_EQ(s_strnicmp("abc", "ABC", -1), 0);
    EXPECT_EQ(s_strnicmp("abc", "ABD", -1), 'c' - 'd');
    EXPECT_EQ(s_strnicmp(nullptr, "a", 1), 1);
}

TEST(Strings, LowerSearchLength)
{
    char text[] = "\xc4" "BC";
    EXPECT_STREQ(s_strlwr(text), "\xc4" "bc");
    EXPECT_EQ(s_strlwr(nullptr), nullptr);
    const char *s = "a=b=c";
    EXPECT_EQ(s_strchr(s, '='), s + 1);
    EXPECT_EQ(s_strchr(s, 0), s + 5);
    EXPECT_EQ(s_strchr(s, 'z'), nullptr);
    EXPECT_EQ(s_strchr(nullptr, 'a'), nullptr);
    EXPECT_EQ(s_strlen(s), 5u);
    EXPECT_EQ(s_strlen(nullptr), 0u);
}

TEST(Strings, ValidFile)
{
    EXPECT_STREQ(valid_file("a\tb\r\n"), "a_b__");
    EXPECT_STREQ(valid_file(nullptr), "");
    std::string big(600, 'n');
    EXPECT_EQ(std::string(valid_file(big.c_str())), big.substr(0, 511));
    // Its own result as input is cleaned in place.
    EXPECT_STREQ(valid_file(valid_file("x\ty")), "x_y");
}

TEST(Strings, AttachPath)
{
    EXPECT_STREQ(attach_path("/var/log", "x.log"), "/var/log/x.log");
    EXPECT_STREQ(attach_path("/var/log/", "/x.log"), "/var/log/x.log");
    EXPECT_STREQ(attach_path("/var/log", "/x.log"), "/var/log/x.log");
    EXPECT_STREQ(attach_path("/var/log/", "x.log"), "/var/log/x.log");
    EXPECT_STREQ(attach_path("", "x.log"), "x.log");
    EXPECT_STREQ(attach_path(nullptr, "a\tb"), "a_b");
    EXPECT_STREQ(attach_path("/tmp", nullptr), "/tmp/");
    EXPECT_STREQ(attach_path("/tmp/", ""), "/tmp/");
    EXPECT_STREQ(attach_path("/tmp", "C:x"), "/tmpC:x");
    EXPECT_STREQ(attach_path("/tmp/", "C:x"), "/tmpC:x");
    EXPECT_STREQ(attach_path("/", "/x"), "/x");
    EXPECT_STREQ(attach_path(nullptr, ""), "");
    EXPECT_STREQ(attach_path(attach_path("/a", "b"), "c"), "/a/b/c");

    // Long inputs: the result is the first 511 characters of the join.
    std::string dir511(511, 'd');
    EXPECT_EQ(std::string(attach_path(dir511.c_str(), "f")), dir511);
    EXPECT_EQ(std::string(attach_path(dir511.c_str(), nullptr)), dir511);
    std::string dir510(510, 'd');
    EXPECT_EQ(std::string(attach_path(dir510.c_str(), "file")), dir510 + "/");
    EXPECT_EQ(std::string(attach_path("/d", std::string(700, 'f').c_str())),
              "/d/" + std::string(508, 'f'));
}

}  // namespace
