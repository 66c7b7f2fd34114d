// The two walks over a decoded entry's attributes, by cursor (values looked
// up by type) and by position (nothing made), see the same attributes: ""
// for an empty type or value, and the end where an attribute is not one.
#include "ldap_testing.h"

namespace {

// "type=value,value;" per attribute; "type!;" for one without a value list.
std::string shown(const char *type, char **values)
{
    std::string text = type;
    text += values ? "=" : "!";
    for (int i = 0; values && values[i]; i++)
        text += std::string(i ? "," : "") + values[i];
    return text + ";";
}

std::string by_cursor(lresult *entry)
{
    std::string text;
    for (char *type = ldap_first_attribute(entry); type; type = ldap_next_attribute(entry))
        text += shown(type, ldap_get_values(entry, type));
    return text;
}

std::string by_position(lresult *entry)
{
    std::string text;
    lresult *values = nullptr;
    char *type;
    for (int i = 0; (type = ldap_attribute_at(entry, i, &values)) != nullptr; i++) {
        std::vector<char *> vector;
        for (int v = 0; values && ldap_value_at(values, v); v++)
            vector.push_back(ldap_value_at(values, v));
        vector.push_back(nullptr);
        text += shown(type, values ? vector.data() : nullptr);
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
    for (const auto &[octets, walked] : entries) {
        List entry = decode_message(octets);
        EXPECT_EQ(walked, by_cursor(entry.get())) << walked;
        EXPECT_EQ(walked, by_position(entry.get())) << walked;
    }
    lresult *values = LRESULT_INVALID;
    EXPECT_EQ(nullptr, ldap_attribute_at(nullptr, 0, &values));
    EXPECT_EQ(nullptr, values);
    EXPECT_EQ(nullptr, ldap_attribute_at(LRESULT_INVALID, 0, nullptr));
    EXPECT_EQ(nullptr, ldap_value_at(nullptr, 0));
}
