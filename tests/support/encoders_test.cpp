// Clocks, the "!" token coding, the percent coding of links, the keyed
// scrambler, character replacement and the byte counters.
#include "support/nlib.h"
#include "support/size.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

std::string text(const char *s) { return s ? s : "(none)"; }

std::string random_text(std::mt19937 &rng, int first, int last, size_t max_length)
{
    std::string s(rng() % (max_length + 1), ' ');
    for (char &c : s)
        c = char(first + int(rng() % unsigned(last - first + 1)));
    return s;
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
    EXPECT_GT(secs(), 1600000000L);
    EXPECT_TRUE(msecs() >= 0 && msecs() < 1000);
    char *u = utoken_encode("x=y");
    const std::string cases[][2] = {
        {not_encode(not_encode("a=b")), "a!213Db"},  // it may code its own result
        {u, "x=y"},                                  // each encoder has its own buffer
        {utoken_encode("a b=!\x7f\x80\xff\x01"), "a!20b=!!7F!80!FF!01"},
        {utoken_encode("+<>():;\"&%#?\\/`'@~"), "!2B!3C!3E!28!29!3A!3B!22!26!25!23!3F!5C!2F!60!27!40!7E"},
        {utoken_encode("AZaz09-_.,[]{}|^$*"), "AZaz09-_.,[]{}|^$*"},
        {not_encode((std::string(1019, 'a') + "  ").c_str()), std::string(1019, 'a') + "!20"},
        {utoken_decode("a!20b!4a!4A"), "a bJJ"}, {utoken_decode("a!2!zz!"), "a!2!zz!"},
        {utoken_decode("!!41"), "!A"},           {utoken_decode(nullptr), ""},
        {xhref("a b.c/?="), "a%20b%2Ec/?="},
        {xhref("+<>():;\"&%,'#\n\r\\"), "%2B%3C%3E%28%29%3A%3B%22%26%25%2C%27%23%0A%0D%5C"},
        // After an escape byte the text passes in groups of three; a group
        // that starts with an escape byte returns to encoding.
        {xhref("a\x1b$Babcd\x1b(B ."), "a\x1b$Babcd\x1b(B%20%2E"}, {xhref("\x1b. ..\x1b"), "\x1b. ..\x1b"},
        {pass_user_encrypt("same", ""), "same"}, {pass_user_decrypt("BCB", "\x01\x02"), "AAA"},
        {pass_user_encrypt("ab", "\x9f"), ""},  // a byte that wraps to zero ends the text
        {pass_user_encrypt("\xff", "\x02"), "\x01"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c[0], c[1]);
    EXPECT_EQ(utoken_encode(nullptr), not_encode(nullptr));
    EXPECT_EQ(encode_xhref(nullptr), pass_user_encrypt(nullptr, "k"));
    EXPECT_EQ(pass_user_decrypt("t", nullptr), nullptr);
    // The limits: 1,020 characters out (1,022 at most), 5,119 decoded, 511
    // scrambled; a link grows to exactly three times its length.
    EXPECT_EQ(s_strlen(utoken_encode(std::string(2000, ' ').c_str())), 1020u);
    EXPECT_EQ(s_strlen(utoken_decode(std::string(8000, 'x').c_str())), 5119u);
    EXPECT_EQ(s_strlen(pass_user_encrypt(std::string(800, 'x').c_str(), "k")), 511u);
    EXPECT_EQ(xhref(std::string(1000, ' ')).size(), 3000u);
    char *scrambled = pass_user_encrypt("abc", "k");
    pass_user_decrypt("xyz", "k");
    EXPECT_STREQ(scrambled, "\xcc\xcd\xce");  // each direction has its own buffer
    char s[] = "a.b\xe9";
    char_replace(s, '.', '/');
    char_replace(s, 0xe9, 'e');
    char_replace(nullptr, 'a', 'b');
    EXPECT_STREQ(s, "a/be");

    std::mt19937 rng(7);
    for (int k = 0; k < 2000; k++) {
        // At most 3 characters a byte: 300 bytes stay below the 1,020 limit.
        std::string any = random_text(rng, 1, 255, 300);
        ASSERT_EQ(text(utoken_decode(not_encode(any.c_str()))), any);
        for (char &c : any)  // utoken_encode leaves '!' plain
            c = c == '!' ? '?' : c;
        std::string coded = utoken_encode(any.c_str());
        for (char c : coded)
            ASSERT_TRUE(c >= 0x21 && c <= 0x7D) << (int)c;
        ASSERT_EQ(text(utoken_decode(coded.c_str())), any);
        std::string plain = random_text(rng, 0x20, 0x7E, 511), key = random_text(rng, 0x21, 0x7E, 40);
        std::string scrambled = text(pass_user_encrypt(plain.c_str(), key.c_str()));
        ASSERT_EQ(scrambled.size(), plain.size());
        ASSERT_EQ(text(pass_user_decrypt(scrambled.c_str(), key.c_str())), plain);
    }
}

// "full|k|space" of a counter.
std::string texts(const size_counter *c)
{
    std::string out;
    for (char *t : {size_get(c), size_get_k(c), size_get_space(c)}) {
        out += (out.empty() ? "" : "|") + text(t);
        free(t);
    }
    return out;
}

TEST(Size, CarriesAndTexts)
{
    size_counter c = {999999, 0, 0}, big = {0, 0, 0}, one = {1, 0, 0};
    size_add(&c, 1);
    for (int i = 0; i < 1000000; i++)  // far past 64 bits of bytes in millions
        size_add(&big, 4294967295u);
    size_counter doubled = big, carried = {999999, 999999, 0};
    size_add_size(&doubled, &doubled);
    size_add_size(&carried, &one);
    struct {
        size_counter c;
        const char *texts;
    } cases[] = {
        {{0, 0, 0}, "0|0|0"}, {{1000, 0, 0}, "1000|1|1000"}, {{1001, 0, 0}, "1001|1|1k"},
        {{7, 5, 0}, "5000007|5000|5M"},  // lower parts always in full width
        {{999999, 999999, 4294967295u}, "4294967295999999999999|4294967295999999999|4294967295T"},
        {c, "1000000|1000|1M"}, {big, "4294967295000000|4294967295000|4294T"},
        {doubled, "8589934590000000|8589934590000|8589T"}, {carried, "1000000000000|1000000000|1T"},
    };
    for (const auto &k : cases)
        EXPECT_EQ(texts(&k.c), k.texts);
    EXPECT_EQ(texts(nullptr), "(none)|(none)|(none)");
    carried.trillions = 1000000;
    EXPECT_EQ(size_maxed(&carried), 0);
    carried.trillions = 1000001;
    EXPECT_EQ(size_maxed(&carried), 1);
    size_init(nullptr);
    size_add(nullptr, 5);
    size_add_size(nullptr, &one);
    size_add_size(&one, nullptr);
    EXPECT_EQ(one.units + size_maxed(nullptr), 1u);
}

}  // namespace
