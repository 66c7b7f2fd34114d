// The coded one-line DN form and its decoding.
#include <gtest/gtest.h>

#include <string>

#include "addressbook/extern_book.h"

TEST(DnCoding, CodesAndDecodes)
{
    EXPECT_STREQ(code_dn("cn=Jo Smith,o=Org"), "cn!3DJo!20Smith!2Co!3DOrg");
    EXPECT_STREQ(code_dn("a\nb!c@d.e\x7F\x80\xFF"), "a!0Ab!21c@d.e!7F!80!FF");
    EXPECT_STREQ(code_dn(nullptr), "");
    EXPECT_STREQ(uncode_dn("cn!3DJo!20Smith!2Co!3DOrg"), "cn=Jo Smith,o=Org");
    EXPECT_STREQ(uncode_dn(nullptr), "");
    // Digits count as their code minus 55 unless 0-9: "!3d" is not "=".
    EXPECT_STREQ(uncode_dn("!3d"), "]");
    EXPECT_STREQ(uncode_dn("!zz!41"), "sA");  // (16 * 67 + 67) modulo 256
    // A "!" without two characters after it stands as it is, and so does a
    // code for the zero byte, which would cut the DN short.
    EXPECT_STREQ(uncode_dn("abc!4"), "abc!4");
    EXPECT_STREQ(uncode_dn("abc!"), "abc!");
    EXPECT_STREQ(uncode_dn("cn!3Da!00b"), "cn=a!00b");
    EXPECT_STREQ(uncode_dn("!G0"), "!G0");  // 16 * 16 + 0

    // Every byte, and far beyond 2,049 characters, goes round.
    std::string all;
    for (int c = 1; c < 256; c++)
        all += static_cast<char>(c);
    for (int i = 0; i < 2000; i++)
        all += "cn=x y,";
    std::string coded = code_dn(all.c_str());
    EXPECT_EQ(coded.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz@.!"),
              std::string::npos);
    EXPECT_EQ(uncode_dn(coded.c_str()), all);
}
