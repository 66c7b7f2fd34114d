// Copies, comparisons, searches, tokenizers, file names, path parts, the
// "!" token coding, the percent coding of links and the keyed scrambler.
#include "support/nlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

namespace {

std::string text(const char *s) { return s ? s : "(none)"; }

// lcpy and lcat leave a terminated prefix and touch no byte past their
// bound (the guard bytes keep their 'z'). Rows: dst, src, size, and what
// lcpy and lcat leave.
TEST(Strings, CopiesNeverPassTheirBound)
{
    const std::tuple<const char *, const char *, int, const char *, const char *> cases[] = {
        {"keep", "abcdef", -3, "keep", "keep"},
        {"keep", "abcdef", 1, "", "keep"},
        {"abc", "abcdef", 4, "abc", "abc"},
        {"abc", "def", 5, "def", "abcd"},
    };
    for (const auto &[dst, src, size, after_lcpy, after_lcat] : cases) {
        for (bool cat : {false, true}) {
            char buf[32];
            memset(buf, 'z', sizeof buf);
            strcpy(buf, dst);
            EXPECT_STREQ(cat ? lcat(buf, src, size) : lcpy(buf, src, size), cat ? after_lcat : after_lcpy);
            for (size_t k = std::max(size_t(std::max(size, 0)), strlen(dst) + 1); k < sizeof buf; k++)
                ASSERT_EQ(buf[k], 'z') << k;
        }
    }
    // ncpy and ncat count characters: the caller gives n + 1 bytes.
    char buf[8] = "zzzzzzz";
    EXPECT_EQ(ncpy(buf, "abcdef", 3), buf + 3);
    EXPECT_EQ(std::string(buf, 5), std::string("abc\0z", 5));
    EXPECT_STREQ(ncat(ncpy(buf, "xyz", -3), "xyz", -3), "");    // negative counts copy nothing
    EXPECT_STREQ(ncat(s_strcpy(buf, "abcdef"), "x", 2), "ab");  // the zero at dst[n] cuts a longer text

    char *grown = s_stradd(s_stradd(nullptr, "x"), "y");
    for (int k = 0; k < 200; k++) grown = s_stradd(grown, "0123456789");
    grown = s_stradd(grown, grown);  // a text appended to itself, the block moving
    EXPECT_EQ(std::string(grown + 2000, 6), "89xy01");
    free(grown);
}

// All tokens of s, "(none)" marking the null that ends them.
template <class Next>
std::string split(std::string s, Next next)
{
    std::string out;
    char *cursor = nullptr;
    for (char *token = next(&s[0], &cursor); out.size() < 500; token = next(nullptr, &cursor)) {
        out += text(token) + "|";
        if (!token) break;
    }
    return out;
}

// {result, expected}. The signs matter: the list's text comparators hand
// these results to a sort.
TEST(Strings, ComparisonsSearchesAndTokens)
{
    const char *hay = "xAAB", *escaped = "a\x1b"
                                         "b\x1b"
                                         "b";
    char word[] = "\xc4"
                  "BCabc",
         padded[] = "  ab\t ";
    const long cases[][2] = {
        {s_stricmp("Search", "SEARCH"), 0},
        {s_stricmp("ab", "abc"), -1},
        {s_stricmp("\xe9", "\xc9"), 0xe9 - 0xc9},  // no folding above 127
        {s_strnicmp(":DN:x", ":dn:", 4), 0},
        {s_strnicmp("abc", "ABD", -1), -1},
        {s_strnicmp("abc", "AB", 5) > 0 && s_strncmp("abc", "ab", 5) > 0, 1},  // the longer sorts after
        {s_strcmp("\xe9", "a") < 0, 1},
        {s_strcmp("a\xe9", "aa") > 0, 1},  // signed, then unsigned
        {s_atoi("99999999999"), INT_MAX},
        {s_atol("-99999999999"), INT_MIN},  // saturate
        {s_stristr(hay, "ab") - hay, 2},
        {s_strchr_japan(escaped, 'b') - escaped, 4},
        {s_stristr(hay, "aabb") || s_stristr(hay, "") || s_strchr_japan(escaped, 27) || s_strchr(nullptr, 'a'), 0},
        {s_strtrm(padded) - padded, 2},  // blanks trimmed in place, never moved
    };
    for (size_t k = 0; k < sizeof cases / sizeof cases[0]; k++) EXPECT_EQ(cases[k][0], cases[k][1]) << "case " << k;
    EXPECT_STREQ(s_strupr(s_strlwr(word)), "\xc4"
                                           "BCABC");
    EXPECT_STREQ(padded + 2, "ab\t");

    auto kept = [](char *s, char **) { return s_strtoken(s, ",;"); };
    auto plain = [](char *s, char **cursor) { return mystrtok(s, ",", cursor); };
    auto quoted = [](char *s, char **cursor) { return myquotetok(s, " ", cursor); };
    auto one = [](char *s, char **cursor) { return myquotetok_one(s, ';', cursor); };
    const std::string tokens[][2] = {
        {split("a;b,,", kept), "a|b|||(none)|"},
        {split(",,a,,b,", plain), "a|b|(none)|"},
        {split("  \"\"  q\"r s\"t \"open", quoted), "|q\"r s\"t|open|(none)|"},
        {split(";a;;\"x;y\"", one), "|a||x;y|(none)|"},
        {remove_quote("open \"ended"), "ended"},
        {remove_quote(("\"" + std::string(512, 'q') + "\"").c_str()), std::string(511, 'q')},
    };
    for (const auto &t : tokens) EXPECT_EQ(t[0], t[1]);
    // s_strtoken splits its own copy of the caller's text, at most 1,023 characters of it.
    EXPECT_EQ(s_strlen(s_strtoken(std::string(3000, 'h').c_str(), ",")), 1023u);
}

TEST(Paths, FileNamesJoinsAndParts)
{
    // Long inputs: the result is the first 511 characters.
    std::string d510(510, 'd'), d511(511, 'd'), n510(510, 'n');
    std::string long_path = "/" + std::string(700, 'd') + "/" + std::string(700, 'f') + ".e";
    auto ext = [](const char *name) { return text(strip_ext(name)) + "|" + text(get_ext(name)); };
    const std::string cases[][2] = {
        {valid_file(valid_file("a\tb\r\n")), "a_b__"},  // a result may be handed back
        {attach_path("/var/log/", "/x.log"), "/var/log/x.log"},
        {attach_path("/tmp/", "C:x"), "/tmpC:x"},
        {attach_path(d511.c_str(), "f"), d511},
        {attach_path(d510.c_str(), "file"), d510 + "/"},
        {text(attach_ext(n510.c_str(), "txt")), n510 + "."},
        {text(strip_path(strip_path("/x/y/z.t", 0), 1)), "z"},
        {text(remove_path("/home/u/notes.txt", 1)), "u"},
        {text(strip_filename(strip_filename("a/b/c"))), "a/b/"},
        {std::to_string(s_strlen(update_path(long_path.c_str())) + s_strlen(strip_ext(long_path.c_str()))), "1022"},
        {ext("archive.tar.gz") + ext("dir.d/file") + ext(".profile"), "archive.tar|gzdir|d/file|profile"},
        // Only backslash references fold, each fold searching on from the cut.
        {update_path(update_path("/u/l/..\\x")), "/u\\x"},
        {update_path("/a/b/c/..\\..\\x"), "/a/b\\..\\x"},
    };
    for (const auto &c : cases) EXPECT_EQ(c[0], c[1]);
    for (const void *none : {(const void *)attach_ext(".hidden", "t"), (const void *)point_ext("d.d/f"),
                             (const void *)strip_filename("notes.txt"), (const void *)remove_path("/n.t", 0)})
        EXPECT_EQ(none, nullptr);
}

std::string xhref(const std::string &in)
{
    char *out = encode_xhref(in.c_str());
    std::string result = text(out);
    free(out);
    return result;
}

TEST(Encoders, CodingsAndScrambler)
{
    const std::string cases[][2] = {
        {not_encode(not_encode("a=b")), "a!213Db"},  // it may code its own result
        {utoken_encode("a b=!\x7f\x80\xff\x01+<>():;\"&%#?\\/`'@~AZaz09-_.,[]{}|^$*"),
         "a!20b=!!7F!80!FF!01!2B!3C!3E!28!29!3A!3B!22!26!25!23!3F!5C!2F!60!27!40!7EAZaz09-_.,[]{}|^$*"},
        {not_encode((std::string(1019, 'a') + "  ").c_str()), std::string(1019, 'a') + "!20"},
        {utoken_decode("a!20b!4a!4A"), "a bJJ"},
        {utoken_decode("a!2!zz!!!41"), "a!2!zz!!A"},
        {xhref("a b.c/?=+<>():;\"&%,'#\n\r\\"), "a%20b%2Ec/?=%2B%3C%3E%28%29%3A%3B%22%26%25%2C%27%23%0A%0D%5C"},
        // After an escape byte the text passes in groups of three; a group
        // that starts with an escape byte returns to encoding.
        {xhref("a\x1b$Babcd\x1b(B ."), "a\x1b$Babcd\x1b(B%20%2E"},
        {pass_user_encrypt("AAA", "\x01\x02"), "BCB"},
        {pass_user_decrypt("BCB", "\x01\x02"), "AAA"},
        {pass_user_encrypt("ab", "\x9f"), ""},  // a byte that wraps to zero ends the text
    };
    for (const auto &c : cases) EXPECT_EQ(c[0], c[1]);
    // The limits: 1,020 characters out, 5,119 decoded, 511 scrambled; a link
    // grows to exactly three times its length.
    EXPECT_EQ(s_strlen(utoken_encode(std::string(2000, ' ').c_str())), 1020u);
    EXPECT_EQ(s_strlen(utoken_decode(std::string(8000, 'x').c_str())), 5119u);
    EXPECT_EQ(s_strlen(pass_user_encrypt(std::string(800, 'x').c_str(), "k")), 511u);
    EXPECT_EQ(xhref(std::string(1000, ' ')).size(), 3000u);
}

}  // namespace
