#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "ldap/ldap.h"

namespace {

// Owns a text returned by the cutters; "(null)" stands for a null result.
std::string take(char *text)
{
    std::unique_ptr<char, decltype(&free)> owned(text, free);
    return text ? std::string(text) : std::string("(null)");
}

}  // namespace

TEST(DnCheck, AcceptsAndRejects)
{
    for (const char *good : {"cn=a,o=b", "cn=a,", "=a", "cn=,o=b", "cn=Smith John,o=b c"})
        EXPECT_EQ(0, dn_check(good)) << good;
    for (const char *bad : {"", "cn", "a,b=c", "cn=a,o=", "cn=a\tx", "cn=J\xc3\xbcrgen",
                            "cn=a\\,b,o=c", "cn=a,,o=b"})
        EXPECT_EQ(18, dn_check(bad)) << bad;
    EXPECT_EQ(18, dn_check(nullptr));
}

TEST(DnCut, TopAndParent)
{
    EXPECT_EQ("cn=a\\,b", take(dn_to_top("cn=a\\,b,o=c")));
    EXPECT_EQ("cn=a", take(dn_to_top("cn=a")));
    EXPECT_EQ("", take(dn_to_top("")));
    EXPECT_EQ("cn=a\\", take(dn_to_top("cn=a\\")));  // a final backslash ends the scan
    EXPECT_EQ("(null)", take(dn_to_top(nullptr)));
    std::string long_rdn = "cn=" + std::string(600, 'x');
    EXPECT_EQ(long_rdn.substr(0, 511), take(dn_to_top((long_rdn + ",o=b").c_str())));
    EXPECT_EQ(long_rdn, take(dn_to_top(long_rdn.c_str())));

    EXPECT_EQ("o=b", take(dn_to_parent("cn=a, o=b")));
    EXPECT_EQ("o=b, c=d", take(dn_to_parent("cn=a,, \t o=b, c=d")));
    EXPECT_EQ("(null)", take(dn_to_parent("cn=a")));
    EXPECT_EQ("", take(dn_to_parent("cn=a,")));
    EXPECT_EQ("o=c", take(dn_to_parent("cn=a\\,b,o=c")));
    EXPECT_EQ("(null)", take(dn_to_parent("")));
    EXPECT_EQ("(null)", take(dn_to_parent(nullptr)));
}
