#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "support/nlib.h"

namespace {

std::string text(const char *s)
{
    return s ? s : "(none)";
}

std::string xhref(const std::string &in)
{
    char *out = encode_xhref(in.c_str());
    std::string result = text(out);
    std::free(out);
    return result;
}

std::string random_text(std::mt19937 &rng, int first, int last, size_t max_length)
{
    std::uniform_int_distribution<int> byte(first, last);
    std::uniform_int_distribution<size_t> length(0, max_length);
    std::string s(length(rng), ' ');
    for (char &c : s)
        c = (char)byte(rng);
    return s;
}

}  // namespace

TEST(Encoders, Clocks)
{
    long before = secs();
    EXPECT_GT(before, 1600000000L);
    EXPECT_LE(before, secs());
    for (int k = 0; k < 1000; k++) {
        int ms = msecs();
        ASSERT_GE(ms, 0);
        ASSERT_LT(ms, 1000);
    }
}

TEST(Encoders, BangEncodersEscapeTheirTables)
{
    EXPECT_EQ(text(utoken_encode("a b")), "a!20b");
    EXPECT_EQ(text(utoken_encode("a=b!")), "a=b!");
    EXPECT_EQ(text(not_encode("a=b!")), "a!3Db!21");
    EXPECT_EQ(text(utoken_encode("\t")), "!09");
    EXPECT_EQ(text(not_encode("\t")), "!09");
    EXPECT_EQ(text(utoken_encode("+<>():;\"&%#?\\/`'@")),
              "!2B!3C!3E!28!29!3A!3B!22!26!25!23!3F!5C!2F!60!27!40");
    EXPECT_EQ(text(utoken_encode("~\x7f\x80\xff\x01")), "!7E!7F!80!FF!01");
    EXPECT_EQ(text(utoken_encode("AZaz09-_.,[]{}|^$*")), "AZaz09-_.,[]{}|^$*");
    EXPECT_EQ(text(utoken_encode("")), "");
    EXPECT_EQ(utoken_encode(nullptr), nullptr);
    EXPECT_EQ(not_encode(nullptr), nullptr);
    // Each encoder has its own buffer.
    char *u = utoken_encode("x=y");
    not_encode("x=y");
    EXPECT_STREQ(u, "x=y");
}

TEST(Encoders, BangEncodersStopNear1020Characters)
{
    std::string blanks(2000, ' ');
    std::string out = utoken_encode(blanks.c_str());
    EXPECT_EQ(out.size(), 1020u);
    std::string almost = std::string(1019, 'a') + "  ";
    EXPECT_EQ(std::string(not_encode(almost.c_str())), std::string(1019, 'a') + "!20");
    std::string plain(3000, 'p');
    EXPECT_EQ(s_strlen(utoken_encode(plain.c_str())), 1020u);
}

TEST(Encoders, BangDecoder)
{
    EXPECT_EQ(text(utoken_decode("a!20b")), "a b");
    EXPECT_EQ(text(utoken_decode("a!2")), "a!2");
    EXPECT_EQ(text(utoken_decode("!zz")), "!zz");
    EXPECT_EQ(text(utoken_decode("!4a")), "J");
    EXPECT_EQ(text(utoken_decode("!4A")), "J");
    EXPECT_EQ(text(utoken_decode("!!41")), "!A");
    EXPECT_EQ(text(utoken_decode("!")), "!");
    EXPECT_EQ(text(utoken_decode(nullptr)), "");
    std::string huge(8000, 'x');
    EXPECT_EQ(s_strlen(utoken_decode(huge.c_str())), 5119u);
}

TEST(Encoders, BangRoundTrips)
{
    std::mt19937 rng(7);
    for (int k = 0; k < 2000; k++) {
        // At most 3 characters per byte: 300 bytes stay below the 1,020 limit.
        std::string any = random_text(rng, 1, 255, 300);
        ASSERT_EQ(std::string(utoken_decode(not_encode(any.c_str()))), any);
        // utoken_encode leaves '!' plain, so only texts without it come back whole.
        std::string without_bang = any;
        for (char &c : without_bang)
            if (c == '!')
                c = '?';
        std::string coded = utoken_encode(without_bang.c_str());
        for (char c : coded)
            ASSERT_TRUE(c >= 0x21 && c <= 0x7D) << (int)c;
        ASSERT_EQ(std::string(utoken_decode(coded.c_str())), without_bang);
    }
}

TEST(Encoders, PercentEncoder)
{
    EXPECT_EQ(xhref("a b.c"), "a%20b%2Ec");
    EXPECT_EQ(xhref("/?=x"), "/?=x");
    EXPECT_EQ(xhref("+<>():;\"&%.,'#\n\r\\"),
              "%2B%3C%3E%28%29%3A%3B%22%26%25%2E%2C%27%23%0A%0D%5C");
    EXPECT_EQ(xhref(""), "");
    EXPECT_EQ(encode_xhref(nullptr), nullptr);
    // After an escape byte the text passes unchanged in groups of three; a
    // group that starts with an escape byte returns to encoding.
    EXPECT_EQ(xhref("a\x1b$Babcd\x1b(B ."), "a\x1b$Babcd\x1b(B%20%2E");
    EXPECT_EQ(xhref("\x1b. ..\x1b"), "\x1b. ..\x1b");
    EXPECT_EQ(xhref("\x1bxx"), "\x1bxx");
    std::string blanks(1000, ' ');
    std::string expected;
    for (int k = 0; k < 1000; k++)
        expected += "%20";
    EXPECT_EQ(xhref(blanks), expected);
}

TEST(Encoders, ScramblerRoundTripsAndEdges)
{
    EXPECT_EQ(pass_user_encrypt(nullptr, "k"), nullptr);
    EXPECT_EQ(pass_user_encrypt("t", nullptr), nullptr);
    EXPECT_EQ(pass_user_decrypt(nullptr, "k"), nullptr);
    EXPECT_EQ(text(pass_user_encrypt("", "key")), "");
    EXPECT_EQ(text(pass_user_encrypt("same", "")), "same");
    EXPECT_EQ(text(pass_user_encrypt("AAA", "\x01\x02")), "BCB");
    EXPECT_EQ(text(pass_user_decrypt("BCB", "\x01\x02")), "AAA");
    // A byte that wraps to zero ends the text there.
    EXPECT_EQ(text(pass_user_encrypt("ab", "\x9f")), "");
    EXPECT_EQ(text(pass_user_encrypt("\xff", "\x02")), "\x01");
    std::string long_text(800, 'x');
    EXPECT_EQ(s_strlen(pass_user_encrypt(long_text.c_str(), "k")), 511u);
    // Each direction keeps its own buffer.
    char *scrambled = pass_user_encrypt("abc", "k");
    pass_user_decrypt("xyz", "k");
    EXPECT_STRNE(scrambled, "xyz");

    std::mt19937 rng(11);
    for (int k = 0; k < 2000; k++) {
        std::string plain = random_text(rng, 0x20, 0x7E, 511);
        std::string key = random_text(rng, 0x21, 0x7E, 40);
        std::string coded = pass_user_encrypt(plain.c_str(), key.c_str());
        ASSERT_EQ(coded.size(), plain.size());
        ASSERT_EQ(std::string(pass_user_decrypt(coded.c_str(), key.c_str())), plain);
    }
}

TEST(Encoders, CharReplace)
{
    char s[] = "a.b.c";
    char_replace(s, '.', '/');
    EXPECT_STREQ(s, "a/b/c");
    char high[] = "x\xe9y";
    char_replace(high, 0xe9, 'e');
    EXPECT_STREQ(high, "xey");
    char_replace(nullptr, 'a', 'b');
}
