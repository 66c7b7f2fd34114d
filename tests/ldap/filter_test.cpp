#include <gtest/gtest.h>
#include <string>

#include "codec_util.h"

namespace {

// Standard filters and their octets from an independent encoder
// (regenerate with filter_reference.py beside this file).
const std::pair<const char *, const char *> REFERENCE[] = {
#include "filter_reference.inc"
};

}  // namespace

TEST(FilterCompile, StandardFormsMatchIndependentEncoder)
{
    for (const auto &r : REFERENCE) {
        int count = -1;
        EXPECT_EQ(r.second, filter_hex(r.first, 0, &count)) << r.first;
        EXPECT_EQ(1, count) << r.first;
    }
}

TEST(FilterCompile, WorkedExamplesAndLenientForms)
{
    const std::pair<const char *, const char *> cases[] = {
        {"(objectClass)", "870B6F626A656374436C617373"},
        {"(cn=**)", "A4080402636E30028100"},
        {"(cn= )", "8702636E"},
        {"(cn=)", "A3060402636E0400"},
        {"(cn=Fred  \t)", "A30A0402636E040446726564"},  // trailing blanks dropped
        {"junk(  cn= Fred)", "A30B0402636E04052046726564"},  // leading value blanks kept
        {"(cn =a)", "A3080403636E20040161"},            // blanks before the operator kept
        // One-character operators.
        {"(age>5)", "A5080403616765040135"},
        {"(age<5)", "A6080403616765040135"},
        {"(cn~Fred)", "A80A0402636E040446726564"},
        // A backslash without two hex digits stays as it is.
        {"(cn=a\\b)", "A3090402636E0403615C62"},
        {"(cn=a\\2)", "A3090402636E0403615C32"},
        {"(cn=\\5C5c)", "A3090402636E04035C3563"},
        // Starred values after any operator make a substrings filter.
        {"(cn>=a*)", "A4090402636E3003800161"},
        {"(cn=***)", "A4080402636E30028100"},  // stars only: one empty any, as (cn=**)
        // An unbalanced item runs to the end of the text.
        {"(&(cn=a)(sn=b", "A012A3070402636E040161A3070402736E040162"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.second, filter_hex(c.first)) << c.first;
}

TEST(FilterCompile, CountsDefaultsAndNesting)
{
    int count = -1;
    EXPECT_EQ(filter_hex("(objectClass)"), filter_hex(nullptr, 1, &count));
    EXPECT_EQ(1, count);
    for (const char *empty : {static_cast<const char *>(nullptr), "", "no parenthesis"}) {
        EXPECT_EQ("", filter_hex(empty, empty != nullptr, &count));
        EXPECT_EQ(0, count);
    }
    EXPECT_EQ("A306040161040131A306040162040132", filter_hex("(a=1) (b=2)", 0, &count));
    EXPECT_EQ(2, count);
    // Anything but ( after an item ends the list.
    EXPECT_EQ("A306040161040131", filter_hex("(a=1)x(b=2)", 0, &count));
    EXPECT_EQ(1, count);
    // An empty and/or/not appends nothing but still counts.
    EXPECT_EQ("", filter_hex("(&)", 0, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ("A009A3070402636E040161", filter_hex("(&(cn=a)(|))", 0, &count));

    // The caller's text is never modified.
    char text[] = "(&(cn=a*b)(!(sn~=x)))";
    Buf out;
    EXPECT_EQ(1, data_cvt_search(&out.b, text, 0));
    EXPECT_STREQ("(&(cn=a*b)(!(sn~=x)))", text);

    // 48 levels of and/or/not compile; deeper filters are refused whole.
    for (int levels : {48, 49, 100000}) {
        std::string filter;
        for (int i = 0; i < levels; i++)
            filter += "(!";
        filter += "(cn=a)" + std::string(levels, ')');
        std::string octets = filter_hex(filter.c_str(), 0, &count);
        EXPECT_EQ(levels == 48 ? 1 : 0, count) << levels;
        if (levels == 48)
            EXPECT_EQ("A2", octets.substr(0, 2));
        else
            EXPECT_EQ("", octets);
    }
}

TEST(FilterCompile, AttributeLists)
{
    struct Case {
        const char *text;
        int count;
        const char *octets;
    };
    const Case cases[] = {{"cn, mail", 2, "0402636E04046D61696C"},
                          {"cn,", 2, "0402636E0400"},
                          {"", 1, "0400"},
                          {"cn ", 1, "0403636E20"},
                          {nullptr, 0, ""}};
    for (const Case &c : cases) {
        Buf out;
        EXPECT_EQ(c.count, data_cvt_attrib(&out.b, c.text)) << c.text;
        EXPECT_EQ(c.octets, out.hex()) << c.text;
    }
}
