// The coded one-line DN form and its decoding.
#include <gtest/gtest.h>

#include <string>

#include "addressbook/extern_book.h"

TEST(DnCoding, CodesAndDecodes)
{
    EXPECT_STREQ(code_dn("cn=Jo Smith,o=Org"), "cn!3DJo!20Smith!2Co!3DOrg");
    EXPECT_STREQ(code_dn("a\nb!c@d.e\x7F\x80\xFF"), "a!0Ab!21c@d.e!7F!80!FF");
    EXPECT_STREQ(code_dn("AZaz09"), "AZaz09");
    EXPECT_STREQ(code_dn(""), "");
    EXPECT_STREQ(code_dn(nullptr), "");

    EXPECT_STREQ(uncode_dn("cn!3DJo!20Smith!2Co!3DOrg"), "cn=Jo Smith,o=Org");
    EXPECT_STREQ(uncode_dn("cn=plain,o=Org"), "cn=plain,o=Org");
    // Digits count as their code minus 55 unless 0-9: "!3d" is not "=".
    EXPECT_STREQ(uncode_dn("!3d"), "]");
    EXPECT_STREQ(uncode_dn("!zz!41"), "sA");  // (16 * 67 + 67) modulo 256 is 's'.
    // A "!" without two characters after it stands as it is.
    EXPECT_STREQ(uncode_dn("abc!4"), "abc!4");
    EXPECT_STREQ(uncode_dn("abc!"), "abc!");
    EXPECT_STREQ(uncode_dn("!"), "!");
    // A zero byte would cut the DN short: "!00" stays as written.
    EXPECT_STREQ(uncode_dn("cn!3Da!00b"), "cn=a!00b");
    EXPECT_STREQ(uncode_dn("!G0"), "!G0");  // 16 * 16 + 0 is 0 modulo 256
    EXPECT_STREQ(uncode_dn(""), "");
    EXPECT_STREQ(uncode_dn(nullptr), "");
}

TEST(DnCoding, EveryByteAndAnyLengthGoRoundTrip)
{
    std::string all;
    for (int c = 1; c < 256; c++)
        all += static_cast<char>(c);
    std::string coded = code_dn(all.c_str());
    EXPECT_EQ(coded.find_first_not_of("0123456789ABCDEFabcdefghijklmnopqrstuvwxyzGHIJKLMNOPQRSTUVWXYZ@.!"),
              std::string::npos);
    EXPECT_EQ(uncode_dn(coded.c_str()), all);

    // Far beyond 2,049 characters, coded and decoded whole.
    std::string dn;
    for (int i = 0; i < 2000; i++)
        dn += "cn=x y,";
    coded = code_dn(dn.c_str());
    EXPECT_EQ(coded.size(), 2000u * 13);
    EXPECT_EQ(uncode_dn(coded.c_str()), dn);
}
