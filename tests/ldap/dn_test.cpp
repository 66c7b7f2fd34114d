#include "ldap_testing.h"

namespace {

// Owns a text returned by the cutters; "(null)" stands for a null result.
std::string take(char *text)
{
    std::unique_ptr<char, decltype(&free)> owned(text, free);
    return text ? std::string(text) : std::string("(null)");
}

}  // namespace

TEST(Dn, CheckAndCut)
{
    for (const char *good : {"cn=a,", "=a", "cn=,o=b", "cn=Smith John,o=b c"}) EXPECT_EQ(0, dn_check(good)) << good;
    for (const char *bad : {"", "cn", "a,b=c", "cn=a,o=", "cn=a\tx", "cn=a\x7f", "cn=J\xc3\xbcrgen", "cn=a\\,b,o=c",
                            "cn=a,,o=b", static_cast<const char *>(nullptr)})
        EXPECT_EQ(18, dn_check(bad)) << (bad ? bad : "null");

    const std::string long_rdn = "cn=" + std::string(600, 'x');
    const std::pair<char *, std::string> cuts[] = {
        {dn_to_top("cn=a\\,b,o=c"), "cn=a\\,b"}, {dn_to_top("cn=a\\"), "cn=a\\"},  // a final backslash ends the scan
        {dn_to_top(nullptr), "(null)"},          {dn_to_top((long_rdn + ",o=b").c_str()), long_rdn.substr(0, 511)},
        {dn_to_top(long_rdn.c_str()), long_rdn}, {dn_to_parent("cn=a,, \t o=b, c=d"), "o=b, c=d"},
        {dn_to_parent("cn=a"), "(null)"},
    };
    for (const auto &c : cuts) EXPECT_EQ(c.second, take(c.first));
}
