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
