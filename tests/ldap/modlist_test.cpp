// Modification lists and the handle's own messages.
#include "ldap_testing.h"

namespace {

// Each item as "operation type: values...".
std::vector<std::string> items_of(ldap_mod &mod)
{
    std::vector<std::string> items;
    for (int i = 0; i < static_size(&mod.items); i++) {
        auto *item = static_cast<ldap_mod_item *>(static_get_num(&mod.items, i));
        items.push_back(std::to_string(item->operation) + " " + item->type + ":");
        for (int v = 0; v < static_size(&item->values); v++)
            items.back().append(" ").append(static_cast<char *>(static_get_num(&item->values, v)));
    }
    return items;
}

}  // namespace

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

TEST(Handle, Messages)
{
    // No debug sink: dropped. Long texts are cut at 1023 characters, prefix
    // included; long formats are used whole.
    TestHandle ldap;
    EXPECT_EQ(1, ldap_dmsg(&ldap, "dropped"));
    ldap_emsg(&ldap, "%s", std::string(3000, 'a').c_str());
    ldap_emsg(&ldap, (std::string(900, 'f') + "%s").c_str(), "tail");
    EXPECT_EQ((std::vector<std::string>{"LDAP: " + std::string(1017, 'a'), "LDAP: " + std::string(900, 'f') + "tail"}),
              logged_messages);
}
