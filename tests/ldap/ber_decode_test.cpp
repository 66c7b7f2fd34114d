// The BER decoder and the decoded lists with their accessors; entries read
// in place and walked, which must see what the decoder sees.
#include <climits>

#include "ldap_testing.h"

namespace {

// n levels of SEQUENCE (four length octets each) around an empty OCTET STRING.
std::string nested(int levels)
{
    std::string element;
    for (uint32_t i = levels, length; i > 0; i--) {
        length = 2 + 6 * (i - 1);
        element += {'\x30', '\x84', char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
    }
    return element + std::string("\x04\x00", 2);
}

// "type=value,value;" per attribute ("type!;" for one without a value
// list), walked by cursor (values looked up by type) or by position.
std::string walked(lresult *entry, bool by_position)
{
    std::string text;
    lresult *list = nullptr;
    char *type = by_position ? ldap_attribute_at(entry, 0, &list) : ldap_first_attribute(entry);
    for (int i = 1; type; i++) {
        char **values = by_position ? nullptr : ldap_get_values(entry, type);
        text += std::string(type) + (values || list ? "=" : "!");
        for (int v = 0; by_position ? ldap_value_at(list, v) != nullptr : values && values[v]; v++)
            text += std::string(v ? "," : "") + (by_position ? ldap_value_at(list, v) : values[v]);
        text += ";";
        type = by_position ? ldap_attribute_at(entry, i, &list) : ldap_next_attribute(entry);
    }
    return text;
}

// The DN ("-" for none), then "type:value|" for every value ldap_view_values
// hands out of the entry, each zero octet of a value as "^@".
std::string viewed(const ldap_entry_view *entry)
{
    int length = 0;
    const char *dn = ldap_view_dn(entry, &length);
    std::string text = (dn ? std::string(dn, length) : "-") + " ";
    auto add = [](void *context, const char *type, const char *value, int length) {
        auto *out = static_cast<std::string *>(context);
        *out += std::string(type) + ":";
        for (int i = 0; i < length; i++) *out += value[i] ? std::string(1, value[i]) : "^@";
        *out += "|";
        return 1;
    };
    EXPECT_EQ(1, ldap_view_values(entry, add, &text));
    return text;
}

}  // namespace

TEST(BerDecode, ElementKindsAndAccessors)
{
    // type, choice, lresult_check, lresult_get_size (text: + 1), integer, text.
    const std::tuple<const char *, int, int, int, int, int, const char *> cases[] = {
        {"02 02 FF FF", 2, -1, 1, 2, 65535, nullptr},
        {"02 05 00 FF FF FF FF", 2, -1, 1, 5, -1, nullptr},
        {"02 05 01 00 00 00 00", 2, -1, 1, 5, INT_MIN, nullptr},  // 2^32 is not 0
        {"04 05 68 65 6C 6C 6F", 4, -1, 2, 6, 0, "hello"},
        {"87 02 63 6E", 0x87, 7, 4, 3, 0, "cn"},   // tagged primitives hold text
        {"78 02 04 00", 16, 8, 3, 2, 0, nullptr},  // choice from the low four bits
    };
    for (const auto &[octets, type, choice, kind, size, integer, text] : cases) {
        std::string element = hex_bytes(octets);
        List list = decode_message(std::string{'\x30', char(element.size())} + element, nullptr, nullptr, true);
        lresult *l = list.get();
        ASSERT_EQ(1, lresult_size(l)) << octets;
        lresult_node *node = lresult_get(l, 0);
        EXPECT_EQ(std::make_tuple(type, choice, kind, size, integer),
                  std::make_tuple(node->type, lresult_get_choice(l, 0), lresult_check(l, 0), lresult_get_size(l, 0),
                                  lresult_get_int(l, 0)))
            << octets;
        EXPECT_STREQ(text, lresult_get_char(l, 0)) << octets;
        EXPECT_EQ(kind == 3, lresult_get_result(l, 0, 0) != nullptr) << octets;
        EXPECT_EQ(choice < 0 ? nullptr : node->value, lresult_get_choice_data(l, 0, nullptr)) << octets;
    }
    // Skipped types leave no node; a primitive SEQUENCE's contents join the list.
    List mixed = decode_message(hex_bytes("30 14 05 00 06 01 2A 09 00 11 00 17 00 18 00 10 04 02 01 01 04 00"), nullptr,
                                nullptr, true);
    ASSERT_EQ(2, lresult_size(mixed.get()));
    EXPECT_EQ(2 * 16 + 4, lresult_get(mixed.get(), 0)->type * 16 + lresult_get(mixed.get(), 1)->type);
    // Null, failed and one past the end all miss.
    for (lresult *l : {static_cast<lresult *>(nullptr), LRESULT_INVALID, mixed.get()})
        EXPECT_TRUE(!lresult_get(l, 2) && !lresult_get_char(l, 2) && !lresult_get_result(l, 2, 0) &&
                    lresult_get_choice(l, 2) == -1 && lresult_get_int(l, 2) == 0);
}

TEST(BerDecode, JunkDepthAndCuts)
{
    TestHandle ldap;
    EXPECT_EQ(LRESULT_INVALID, decode_message(hex_bytes("30 05 02 01 03 07 00"), nullptr, &ldap).get());
    EXPECT_EQ(LRESULT_INVALID, decode_message(nested(65), nullptr, &ldap, true).get());
    EXPECT_EQ(1, lresult_size(decode_message(nested(64), nullptr, nullptr, true).get()));
    decode_message(hex_bytes("30 05 02 01"), nullptr, &ldap);  // cut
    EXPECT_EQ((std::vector<std::string>{"LDAP: decoded -1 data: {0}{Unknown Type} - Expected Junk Data",
                                        "LDAP: decoded -1 data: {0}{Nesting Too Deep} - Expected Junk Data",
                                        "LDAP: Invalid Input Data (-2): Size=4"}),
              logged_messages);
}

// Each message read in place: what ldap_entry_read answers and, for an
// entry, what viewed() makes of it, which the decoded entry must give alike
// (junk the decoder refuses too); where walked is given, the decoded entry
// walked by cursor and by position.
TEST(EntryView, InPlaceSeesWhatTheDecoderSees)
{
    auto entry = [](const std::string &contents) { return ldap_message(7, ber_element(0x64, contents)); };
    auto attribute = [](const std::string &type, const std::string &values) {
        return ber_element(0x30, ber_element(0x04, type) + ber_element(0x31, values));
    };
    const std::string c = ber_element(0x04, "c"), null = hex_bytes("05 00"), open = hex_bytes("10 00"),
                      dn = ber_element(0x04, "cn=a");
    auto with = [&](const std::string &attributes) { return entry(dn + ber_element(0x30, attributes)); };
    const struct {
        std::string octets;
        int read;
        const char *text, *walked = nullptr;
    } rows[] = {
        {hex_bytes("30 0D 02 01 07 64 08 04 04 63 6E 3D 61 30 00"), 1, "cn=a "},
        {hex_bytes("30 82 00 0F 02 01 07 64 82 00 08 04 04 63 6E 3D 61 30 00"), 1, "cn=a "},  // long forms
        {hex_bytes("30 0D 02 01 07 64 08 04 04 63 00 3D 61 30 00"), 1, "c "},                 // up to a zero
        {hex_bytes("30 07 02 01 07 64 02 04 00"), 1, "- "},                                   // empty: none
        {hex_bytes("30 0B 02 01 07 64 06 05 00 04 02 63 6E"), 1, "cn "},           // the decoder skips the NULL
        {hex_bytes("30 0B 02 01 07 64 06 80 02 63 6E 30 00"), 1, "cn "},           // a tagged DN
        {hex_bytes("30 0A 02 01 07 64 05 02 01 05 30 00"), 1, "- "},               // a number
        {hex_bytes("30 0C 02 01 07 64 04 04 02 63 6E 04 01 78"), 0, ""},           // more after the entry
        {hex_bytes("30 0C 02 01 07 65 07 0A 01 00 04 00 04 00"), 0, ""},           // another operation
        {hex_bytes("31 0D 02 01 07 64 08 04 04 63 6E 3D 61 30 00"), 0, ""},        // no SEQUENCE around it
        {hex_bytes("30 0F 02 01 07 64 06 04 00 30 02 31 00 A0 00 05 00"), 0, ""},  // more after the controls
        {hex_bytes("30 0D 02 01 07 64 08 04 04 63 6E 3D 61 07 00"), -1, ""},       // an unknown type
        {hex_bytes("30 0D 02 01 07 64 08 04 07 63 6E 3D 61 30 00"), -1, ""},       // a DN past its entry
        {hex_bytes("30 12 02 01 07 64 0D 04 85 01 00 00 00 04 63 6E 3D 61 30 00"), -1, ""},      // a length of 2^32 + 4
        {hex_bytes("30 12 02 01 07 64 0D 04 85 00 00 00 00 04 63 6E 3D 61 30 00"), 1, "cn=a "},  // 4, in five octets
        {hex_bytes("30 0F 02 01 07 64 06 04 00 30 02 31 00 A0 02 31 00"), 1, "- "},
        {hex_bytes("30 0F 02 01 07 64 06 04 00 30 02 31 00 A0 02 1F 00"), -1, ""},  // junk controls
        {entry(nested(62)), 1, "- "},  // as deep as the decoder takes, and no deeper
        {entry(nested(63)), -1, ""},
        {ldap_entry_bytes(7, "cn=a", {{"", {"v"}}, {"mail", {"", "a@x"}}, {"sn", {}}}), 1, "cn=a :v|mail:|mail:a@x|",
         "=v;mail=,a@x;sn=;"},
        {with(attribute("cn", c + ber_element(0x04, "d")) + attribute("", ber_element(0x04, ""))), 1,
         "cn=a cn:c|cn:d|:|"},
        // Skipped and open elements take no place; a tagged text is a text.
        {entry(null + ber_element(0x10, dn) + ber_element(0x30, null + attribute("cn", null + c + open + c))), 1,
         "cn=a cn:c|cn:c|"},
        {with(ber_element(0x30, ber_element(0x80, "sn") + ber_element(0x30, ber_element(0x81, "x")))), 1, "cn=a sn:x|"},
        // A type up to its first zero; a value whole, zeros and all.
        {with(attribute(std::string("cn\0x", 4), ber_element(0x04, std::string("a\0b", 3)))), 1, "cn=a cn:a^@b|"},
        // A value that is no text ends its attribute; a type that is none,
        // or an attribute that is no list, ends the walk.
        {with(attribute("cn", c + ber_integer(0x02, 1) + c) + attribute("sn", c)), 1, "cn=a cn:c|sn:c|"},
        {with(attribute("cn", c) + ber_element(0x30, ber_integer(0x02, 5)) + attribute("sn", c)), 1, "cn=a cn:c|",
         "cn=c;"},
        {with(attribute("cn", c) + ber_element(0x04, ber_element(0x04, "sn") + ber_element(0x31, c)) +
              attribute("sn", c)),
         1, "cn=a cn:c|"},
        {with(ber_element(0x30, ber_element(0x04, "cn")) + attribute("sn", c)), 1, "cn=a sn:c|", "cn!;sn=c;"},
        {entry(dn + ber_element(0x04, attribute("cn", c))), 1, "cn=a ", ""},
        {entry(dn), 1, "cn=a ", ""},
        {entry(""), 1, "- "},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(&row - rows);
        ldap_entry_view in_place = {nullptr, 0, nullptr};
        int id = 0;
        EXPECT_EQ(row.read, ldap_entry_read(reinterpret_cast<const unsigned char *>(row.octets.data()),
                                            static_cast<int>(row.octets.size()), &id, &in_place));
        List decoded = decode_message(row.octets);
        ldap_entry_view whole = {nullptr, 0, decoded.get()};
        EXPECT_EQ(row.read == -1, decoded.get() == LRESULT_INVALID);
        if (row.read != 1) continue;
        EXPECT_EQ(row.text, viewed(&in_place));
        EXPECT_EQ(row.text, viewed(&whole));
        EXPECT_TRUE(id == 7 && lresult_application(decoded.get()) == LDAP_SEARCH_ENTRY);
        if (!row.walked) continue;
        for (bool by_position : {false, true}) EXPECT_EQ(row.walked, walked(decoded.get(), by_position));
    }
    lresult *values = LRESULT_INVALID;
    EXPECT_EQ(nullptr, ldap_attribute_at(nullptr, 0, &values));
    EXPECT_EQ(nullptr, values);
    EXPECT_EQ(nullptr, ldap_attribute_at(LRESULT_INVALID, 0, nullptr));
    EXPECT_EQ(nullptr, ldap_value_at(nullptr, 0));
    EXPECT_EQ(0, ldap_view_values(
                     nullptr, [](void *, const char *, const char *, int) { return 1; }, nullptr));
}
