// What the client writes: BER octets and their buffers, the server side's
// responses, DNs checked and cut, modification lists.
#include <climits>

#include "ldap_testing.h"

// Integers with a sign octet where the top bit is set, booleans as 0xFF;
// two length octets from 128 to 31999, then definite long forms only.
TEST(BerEncode, WorkedEncodings)
{
    Buf buf;
    data_add_integer(&buf.b, 128);
    data_add_integer(&buf.b, static_cast<uint32_t>(-1));
    data_add_bool(&buf.b, 42);
    data_add_string(&buf.b, nullptr);
    data_upper_app(&buf.b, 0x23);  // all of it wrapped, constructed
    for (int length : {128, 31999, 32000, INT_MAX}) data_start(&buf.b, 0x04, length);
    data_end(&buf.b);
    // The elements, then the four heads: 04 82 0080, 04 82 7CFF, 04 83 007D00, 04 84 7FFFFFFF.
    EXPECT_EQ("631002020080020500FFFFFFFF0101FF04000482008004827CFF0483007D0004847FFFFFFF", buf.hex());
}

TEST(BerEncode, BufferLifeAndFailure)
{
    Buf buf, parent, raw;
    data_add_string(&buf.b, "abc");
    EXPECT_EQ(0, buf.b.data[buf.b.length]);  // the uncounted spare octet
    data_clear(&buf.b);
    data_add_integer(&buf.b, 1);         // reusable without data_init
    data_data(&parent.b, &buf.b, 0xA0);  // leaves the source alone
    data_add_data(&parent.b, &buf.b);    // copies it raw
    EXPECT_EQ("A003020101020101", parent.hex());
    EXPECT_EQ("020101", buf.hex());

    // A count that cannot be held fails the buffer without reading the
    // octets; the failure sticks and spreads to whatever wraps or copies it.
    data_add(&buf.b, "x", INT_MAX - 2);
    EXPECT_EQ(nullptr, buf.b.data);
    data_add_string(&buf.b, "more");
    data_data(&parent.b, &buf.b, 0x30);
    data_add_data(&raw.b, &buf.b);
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), (std::vector<int>{buf.b.length, parent.b.length, raw.b.length}));
    data_clear(&buf.b);  // and data_clear makes it usable again
    data_add_enum(&buf.b, 1);
    data_add_enum(&buf.b, 256);  // all of it: a scope of 256 is no base search
    EXPECT_EQ("0A01010A020100", buf.hex());
}

TEST(Server, ResponsesByteForByteAndFailures)
{
    TestHandle h;
    Buf entry;
    EXPECT_EQ(-1, ldap_response(&h, LDAP_BIND_RESPONSE, 0, nullptr, 1, nullptr, nullptr));
    EXPECT_STREQ("Failed to send 'LDAP_RESPONSE'", ldap_error_str(&h));
    EXPECT_TRUE(logged_messages.empty());  // recorded, not reported

    FakeServer peer;
    peer.read_request().read_request().read_request();
    peer.start();
    chan_rec chan;
    chan_init(&chan);
    ASSERT_EQ(1, chan_open(&chan, peer.host(), peer.port(), 5));
    EXPECT_EQ(1, ldap_server(&h, &chan));  // attached, not owned
    static_list urls;
    static_init(&urls, nullptr);
    static_add(&urls, const_cast<char *>("ldap://a"));
    data_add(&entry.b, "\x04\x01x\x30\x00", 5);  // the entry's fields: DN "x", no attributes
    EXPECT_EQ(0, ldap_response(&h, LDAP_SEARCH_DONE, 0, nullptr, 5, nullptr, &urls));  // sent as 10
    EXPECT_EQ(0, ldap_search_response(&h, &entry.b, 9));
    static_clear(&urls);
    EXPECT_EQ(0, ldap_response(&h, LDAP_MODIFY_RESPONSE, 0, nullptr, 6, nullptr, &urls));  // no URL: no referral
    peer.wait();
    EXPECT_EQ(0, ldap_server(&h, nullptr));
    EXPECT_EQ(nullptr, h.chan);
    chan_clear(&chan);
    EXPECT_EQ(
        (std::vector<std::string>{
            hex_bytes("30 18 02 01 05 65 13 0a 01 0a 04 00 04 00 a3 0a 04 08 6c 64 61 70 3a 2f 2f 61"),
            hex_bytes("30 0a 02 01 09 64 05 04 01 78 30 00"), hex_bytes("30 0c 02 01 06 67 07 0a 01 00 04 00 04 00")}),
        peer.requests());
}

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

TEST(ModList, ItemsAndValues)
{
    // add replaces an item of the same type (in any case); add_value appends
    // and keeps the item's operation; a null value empties the item.
    ModList mod;
    mod.add(2, "mail", "a").add(2, "MAIL", "b").more("cn", "x").more("CN", "y").more("mail", "c");
    EXPECT_EQ((std::vector<std::string>{"2 mail: b c", "0 cn: x y"}), items_of(mod));
    mod.add(1, "mail", nullptr).add(1, "sn", nullptr).more("ou", nullptr);
    EXPECT_EQ((std::vector<std::string>{"1 mail:", "0 cn: x y", "1 sn:", "0 ou:"}), items_of(mod));
    mod.mod_text = strdup("released by clear");
    ldap_mod_clear(&mod);
    EXPECT_EQ(nullptr, mod.mod_text);
    EXPECT_EQ(std::vector<std::string>{"0 cn: again"}, items_of(mod.add(0, "cn", "again")));
}
