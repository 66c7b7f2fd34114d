// Modification lists, controls and the handle's own messages.
#include "ldap_testing.h"

namespace {

using Items = std::vector<std::string>;

// Each item as "operation type: values...".
Items items_of(ldap_mod &mod)
{
    Items items;
    for (int i = 0; i < static_size(&mod.items); i++) {
        auto *item = static_cast<ldap_mod_item *>(static_get_num(&mod.items, i));
        std::string text = std::to_string(item->operation) + " " + item->type + ":";
        for (int v = 0; v < static_size(&item->values); v++)
            text += std::string(" ") + static_cast<char *>(static_get_num(&item->values, v));
        items.push_back(text);
    }
    return items;
}

}  // namespace

TEST(ModList, ItemsValuesAndControls)
{
    // add replaces an item of the same type (any case), add_value appends
    // and keeps the item's operation; a null value empties the item.
    ldap_mod mod;
    ldap_mod_init(&mod);
    ldap_mod_add(&mod, 2, "mail", "a");
    ldap_mod_add(&mod, 2, "MAIL", "b");
    ldap_mod_add_value(&mod, "cn", "x");
    ldap_mod_add_value(&mod, "CN", "y");
    ldap_mod_add_value(&mod, "mail", "c");
    EXPECT_EQ((Items{"2 mail: b c", "0 cn: x y"}), items_of(mod));
    ldap_mod_add(&mod, 1, "mail", nullptr);
    ldap_mod_add(&mod, 1, "sn", nullptr);
    ldap_mod_add_value(&mod, "ou", nullptr);
    ldap_mod_add(&mod, 0, nullptr, "v");
    ldap_mod_add_value(&mod, nullptr, "v");
    ldap_mod_add(nullptr, 0, "cn", "v");
    EXPECT_EQ((Items{"1 mail:", "0 cn: x y", "1 sn:", "0 ou:"}), items_of(mod));
    mod.mod_text = strdup("released by clear");
    ldap_mod_clear(&mod);
    EXPECT_EQ(nullptr, mod.mod_text);
    ldap_mod_add(&mod, 0, "cn", "again");  // usable after clearing
    EXPECT_EQ(Items{"0 cn: again"}, items_of(mod));
    ldap_mod_clear(&mod);
    ldap_mod_clear(nullptr);

    ldap_cr *cr = ldap_cr_init("1.2.3", 1);
    ASSERT_NE(nullptr, cr);
    EXPECT_STREQ("1.2.3", cr->type);
    EXPECT_EQ(1, cr->critical);
    ldap_cr_set(cr, "\x30\x00x", 3);
    EXPECT_EQ(3, cr->length);
    EXPECT_EQ(0, memcmp(cr->value, "\x30\x00x\x00", 4));
    ldap_cr_set(cr, nullptr, 5);
    EXPECT_EQ(0, cr->length);
    ldap_cr_set(nullptr, "ab", 2);
    ldap_cr_clear(cr);
    ldap_cr_clear(nullptr);
}

TEST(Handle, InitAndMessages)
{
    ldap_handle ldap;
    memset(&ldap, 0x5A, sizeof ldap);
    ldap_init(&ldap, log_message, nullptr);
    EXPECT_EQ(nullptr, ldap.host);
    EXPECT_EQ(nullptr, ldap.log_dir);
    EXPECT_EQ(0, ldap.rx_len + ldap.error_code + static_size(&ldap.referrals));

    logged_messages.clear();
    EXPECT_EQ(1, ldap_emsg(&ldap, "%s {%s}", "Search", "x"));
    EXPECT_EQ(1, ldap_dmsg(&ldap, "dropped"));  // no debug sink
    EXPECT_EQ(0, ldap_emsg(nullptr, "x"));
    // Long texts are cut at 1023 characters, prefix included; long formats
    // are used whole.
    ldap.dmsg = log_message;
    ldap_dmsg(&ldap, "%s", std::string(3000, 'a').c_str());
    ldap_dmsg(&ldap, (std::string(900, 'f') + "%s").c_str(), "tail");
    EXPECT_EQ((Items{"LDAP: Search {x}", "LDAP: " + std::string(1017, 'a'),
                     "LDAP: " + std::string(900, 'f') + "tail"}),
              logged_messages);
}
