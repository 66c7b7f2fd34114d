// The two walks over a decoded entry's attributes, by cursor (values looked
// up by type) and by position (nothing made), see the same attributes: ""
// for an empty type or value, and the end where an attribute is not one.
#include "ldap_testing.h"

namespace {

// "type=value,value;" per attribute ("type!;" for one without a value
// list), walked by cursor or by position.
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

std::string entry_of(const std::string &attributes)
{
    return ldap_message(2, ber_element(0x64, ber_element(0x04, "cn=a") + ber_element(0x30, attributes)));
}

// "type:value|" for every value ldap_view_values hands out of entry, each
// zero octet of a value as "^@".
std::string values_of(const ldap_entry_view *entry)
{
    std::string text;
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

TEST(EntryWalk, ByPositionSeesWhatTheCursorSees)
{
    const std::string cn = ber_element(0x30, ber_element(0x04, "cn") + ber_element(0x31, ber_element(0x04, "c")));
    const std::pair<std::string, const char *> entries[] = {
        {ldap_entry_bytes(2, "cn=a", {{"", {"v"}}, {"mail", {"", "a@x"}}, {"sn", {}}}), "=v;mail=,a@x;sn=;"},
        {entry_of(ber_element(0x30, ber_element(0x04, "sn")) + cn), "sn!;cn=c;"},
        // An attribute whose type is no text ends both walks.
        {entry_of(cn + ber_element(0x30, ber_integer(0x02, 5)) + cn), "cn=c;"},
        {ldap_message(2, ber_element(0x64, ber_element(0x04, "cn=a"))), ""},
    };
    for (const auto &[octets, text] : entries) {
        List entry = decode_message(octets);
        EXPECT_EQ(text, walked(entry.get(), false)) << text;
        EXPECT_EQ(text, walked(entry.get(), true)) << text;
    }
    lresult *values = LRESULT_INVALID;
    EXPECT_EQ(nullptr, ldap_attribute_at(nullptr, 0, &values));
    EXPECT_EQ(nullptr, values);
    EXPECT_EQ(nullptr, ldap_attribute_at(LRESULT_INVALID, 0, nullptr));
    EXPECT_EQ(nullptr, ldap_value_at(nullptr, 0));
}

// The values walked where they lie, against the same walk of the decoded
// entry, through the decoder's quirks: skipped elements, open sequences,
// tagged texts, zeros, and the ends a walk stops at.
TEST(EntryWalk, InPlaceSeesWhatTheDecoderSees)
{
    auto attribute = [](const std::string &type, const std::string &values) {
        return ber_element(0x30, ber_element(0x04, type) + ber_element(0x31, values));
    };
    const std::string c = ber_element(0x04, "c"), null = hex_bytes("05 00"), open = hex_bytes("10 00"),
                      dn = ber_element(0x04, "cn=a");
    const std::pair<std::string, const char *> entries[] = {
        {dn + ber_element(0x30, attribute("cn", c + ber_element(0x04, "d")) + attribute("", ber_element(0x04, ""))),
         "cn:c|cn:d|:|"},
        // Skipped and open elements take no place; a tagged text is a text.
        {null + ber_element(0x10, dn) + ber_element(0x30, null + attribute("cn", null + c + open + c)), "cn:c|cn:c|"},
        {dn + ber_element(0x30, ber_element(0x30, ber_element(0x80, "sn") + ber_element(0x30, ber_element(0x81, "x")))),
         "sn:x|"},
        // A type up to its first zero; a value whole, zeros and all.
        {dn + ber_element(0x30, attribute(std::string("cn\0x", 4), ber_element(0x04, std::string("a\0b", 3)))),
         "cn:a^@b|"},
        // A value that is no text ends its attribute; a type that is none,
        // or an attribute that is no list, ends the walk.
        {dn + ber_element(0x30, attribute("cn", c + ber_integer(0x02, 1) + c) + attribute("sn", c)), "cn:c|sn:c|"},
        {dn + ber_element(0x30, attribute("cn", c) + ber_element(0x30, ber_integer(0x02, 5)) + attribute("sn", c)),
         "cn:c|"},
        {dn + ber_element(0x30, attribute("cn", c) + ber_element(0x04, ber_element(0x04, "sn") + ber_element(0x31, c)) +
                                    attribute("sn", c)),
         "cn:c|"},
        {dn + ber_element(0x30, ber_element(0x30, ber_element(0x04, "cn")) + attribute("sn", c)), "sn:c|"},
        {dn + ber_element(0x04, attribute("cn", c)), ""},
        {"", ""},
    };
    for (const auto &[contents, text] : entries) {
        const std::string octets = ldap_message(2, ber_element(0x64, contents));
        ldap_entry_view in_place = {nullptr, 0, nullptr};
        int id = 0;
        ASSERT_EQ(1, ldap_entry_read(reinterpret_cast<const unsigned char *>(octets.data()),
                                     static_cast<int>(octets.size()), &id, &in_place))
            << text;
        List decoded = decode_message(octets);
        ldap_entry_view whole = {nullptr, 0, decoded.get()};
        EXPECT_EQ(text, values_of(&in_place)) << text;
        EXPECT_EQ(text, values_of(&whole)) << text;
        int length = -1, decoded_length = -1;
        const char *dn = ldap_view_dn(&in_place, &length), *decoded_dn = ldap_view_dn(&whole, &decoded_length);
        EXPECT_EQ(dn ? std::string(dn, length) : "-", decoded_dn ? std::string(decoded_dn, decoded_length) : "-");
    }
    EXPECT_EQ(0, ldap_view_values(
                     nullptr, [](void *, const char *, const char *, int) { return 1; }, nullptr));
}
