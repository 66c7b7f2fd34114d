// Attribute type names: descriptions read by hand (aliases, OIDs, escapes,
// hostile texts), and a read that fails.
#include "ldap_testing.h"

namespace {

struct Schema : ldap_schema {
    Schema() { ldap_schema_init(this); }
    ~Schema() { ldap_schema_clear(this); }
};

// "1" for each pair of names the schema calls the same type, else "0".
std::string same(const ldap_schema *schema, const std::vector<std::pair<const char *, const char *>> &pairs)
{
    std::string text;
    for (const auto &[a, b] : pairs) text += std::to_string(ldap_schema_same(schema, a, b));
    return text;
}

}  // namespace

TEST(SchemaParse, DescriptionsAndNames)
{
    std::string many = "( 1.3.1 NAME (";
    for (int i = 0; i < 32; i++) many += " 'n" + std::to_string(i) + "'";
    const std::pair<std::string, int> descriptions[] = {
        {"( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'RFC4519: common name(s) for which' SUP name )", 0},
        {"(0.9.2342.19200300.100.1.3 NAME('mail' 'rfc822Mailbox')SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256})", 0},
        {"( 2.5.4.4 NAME 'sn' DESC 'it\\27s \\5C (not a list' X-O ( 'a' ( 'b' ) ) SINGLE-VALUE OWN-FLAG\t)\r\n", 0},
        {"( 1.1.1 name 'it\\27s\\5c' )", 0},
        {"( 1.1.2 NAME 'cn' )", 0},  // a taken name stays the first type's
        {"( 1.2.1 NAME 'unbalanced' ", -1},
        {"( 1.2.2 NAME 'unterminated )", -1},
        {"( 1.2.3 NAME ( 'after' 'close' ) ) more", -1},
        {"( 1.2.4 NAME 'missing' SUP )", -1},
        {"( '1.2.5' NAME 'quoted' )", -1},
        {"( 1.2.6 NAME ( 'list' DESC 'x' ) )", -1},
        {"( 1.2.7 NAME 'deep' X-A " + std::string(9, '(') + std::string(9, ')') + " )", -1},
        {many + " ) )", -1},  // 32 names and the OID
        {"( 1.2.8 NAME '" + std::string(129, 'x') + "' )", -1},
        {"", -1}};
    Schema schema;
    for (const auto &row : descriptions)
        EXPECT_EQ(row.second, ldap_schema_add(&schema, row.first.c_str(), -1)) << row.first;
    EXPECT_EQ(5, schema.types);
    EXPECT_EQ(10, schema.refused);
    // The same type under other names, options or case; then other types.
    EXPECT_EQ("11111100000", same(&schema, {{"COMMONNAME", "2.5.4.3"},
                                            {"cn;lang-de", "2.5.4.3;binary"},
                                            {"rfc822mailbox", "0.9.2342.19200300.100.1.3"},
                                            {"sn", "2.5.4.4"},
                                            {"It's\\", "1.1.1"},
                                            {"Other", "other"},
                                            {"cn", "name"},
                                            {"cn", "1.1.2"},
                                            {"unbalanced", "1.2.1"},
                                            {"n0", "n1"},
                                            {"a", "b"}}));
    // No more types than the cap.
    for (int i = 0; i < 16400; i++) ldap_schema_add(&schema, ("( 9." + std::to_string(i) + " )").c_str(), -1);
    EXPECT_EQ(16384, schema.types);

    // Read over no connection: a failure with its reason, and names
    // compared ignoring case only.
    TestHandle none;
    EXPECT_EQ(-1, ldap_schema_read(&schema, &none));
    EXPECT_NE(nullptr, schema.error);
    EXPECT_EQ("10", same(&schema, {{"cn", "CN;x"}, {"cn", "commonName"}}));
}

// Range options as Active Directory returns them: read, or told apart from
// other options and from ranges that are none.
TEST(SchemaParse, RangeOptions)
{
    // The result, then where the option is and its first and last index.
    const std::pair<const char *, const char *> rows[] = {{"member;range=0-1499", "1 6 0 1499"},
                                                          {"member;binary;RANGE=1500-*;x", "1 13 1500 -1"},
                                                          {"member;range=7-7", "1 6 7 7"},
                                                          {"member", "0 -1"},
                                                          {"member;lang-de;ranged=1-2", "0 -1"},
                                                          {"member;range=abc", "-1"},
                                                          {"member;range=5-3", "-1"},
                                                          {"member;range=0-2147483647", "-1"},
                                                          {"member;range=-1-2", "-1"},
                                                          {"member;range=0-", "-1"},
                                                          {"member;range=0-1x", "-1"},
                                                          {"member;range=0-1;range=2-*", "-1"}};
    for (const auto &[description, expected] : rows) {
        ldap_range range = {-1, -1, -1, -1};
        int read = ldap_attr_range(description, &range);
        std::string got = std::to_string(read) + (read >= 0 ? " " + std::to_string(range.at) : "");
        if (read > 0) got += " " + std::to_string(range.low) + " " + std::to_string(range.high);
        EXPECT_EQ(expected, got) << description;
    }
    EXPECT_EQ(0, ldap_attr_range(nullptr, nullptr));
}
