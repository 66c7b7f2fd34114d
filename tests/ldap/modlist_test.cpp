#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "codec_util.h"

namespace {

ldap_mod_item *item_at(ldap_mod &mod, int index)
{
    return static_cast<ldap_mod_item *>(static_get_num(&mod.items, index));
}

std::vector<std::string> values_of(ldap_mod_item *item)
{
    std::vector<std::string> values;
    for (int i = 0; i < static_size(&item->values); i++)
        values.emplace_back(static_cast<char *>(static_get_num(&item->values, i)));
    return values;
}

}  // namespace

TEST(ModList, AddReplacesAddValueAppends)
{
    ldap_mod mod;
    ldap_mod_init(&mod);
    ldap_mod_add(&mod, 2, "mail", "a");
    ldap_mod_add(&mod, 2, "MAIL", "b");
    ASSERT_EQ(1, static_size(&mod.items));
    EXPECT_STREQ("mail", item_at(mod, 0)->type);
    EXPECT_EQ(2, item_at(mod, 0)->operation);
    EXPECT_EQ(std::vector<std::string>{"b"}, values_of(item_at(mod, 0)));

    ldap_mod_add_value(&mod, "cn", "x");
    ldap_mod_add_value(&mod, "CN", "y");
    ASSERT_EQ(2, static_size(&mod.items));
    EXPECT_EQ(0, item_at(mod, 1)->operation);
    EXPECT_EQ((std::vector<std::string>{"x", "y"}), values_of(item_at(mod, 1)));

    // add_value keeps an existing item's operation; add with a null value
    // resets the item to no values (a delete of the whole attribute).
    ldap_mod_add_value(&mod, "mail", "c");
    EXPECT_EQ(2, item_at(mod, 0)->operation);
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), values_of(item_at(mod, 0)));
    ldap_mod_add(&mod, 1, "mail", nullptr);
    EXPECT_EQ(1, item_at(mod, 0)->operation);
    EXPECT_TRUE(values_of(item_at(mod, 0)).empty());
    ldap_mod_add(&mod, 1, "sn", nullptr);
    ldap_mod_add_value(&mod, "ou", nullptr);
    EXPECT_EQ(4, static_size(&mod.items));

    // Nulls are ignored.
    ldap_mod_add(&mod, 0, nullptr, "v");
    ldap_mod_add_value(&mod, nullptr, "v");
    ldap_mod_add(nullptr, 0, "cn", "v");
    ldap_mod_add_value(nullptr, "cn", "v");
    ldap_mod_init(nullptr);
    ldap_mod_clear(nullptr);
    EXPECT_EQ(4, static_size(&mod.items));

    mod.mod_text = strdup("released by clear");
    ldap_mod_clear(&mod);
    EXPECT_EQ(nullptr, mod.mod_text);
    EXPECT_EQ(0, static_size(&mod.items));
    ldap_mod_add(&mod, 0, "cn", "again");  // usable after clearing
    EXPECT_EQ(1, static_size(&mod.items));
    ldap_mod_clear(&mod);
}

TEST(ModList, Controls)
{
    ldap_cr *cr = ldap_cr_init("1.2.840.113556.1.4.319", 1);
    ASSERT_NE(nullptr, cr);
    EXPECT_STREQ("1.2.840.113556.1.4.319", cr->type);
    EXPECT_EQ(1, cr->critical);
    EXPECT_EQ(0, cr->length);
    EXPECT_EQ(nullptr, cr->value);
    ldap_cr_set(cr, "\x30\x00x", 3);
    EXPECT_EQ(3, cr->length);
    EXPECT_EQ(0, memcmp(cr->value, "\x30\x00x\x00", 4));
    ldap_cr_set(cr, "ab", 2);  // replaces the old value
    EXPECT_EQ(2, cr->length);
    EXPECT_STREQ("ab", reinterpret_cast<char *>(cr->value));
    ldap_cr_set(cr, nullptr, 5);
    EXPECT_EQ(0, cr->length);
    ldap_cr_set(nullptr, "ab", 2);
    ldap_cr_clear(cr);
    ldap_cr_clear(nullptr);

    cr = ldap_cr_init(nullptr, 0);
    ASSERT_NE(nullptr, cr);
    EXPECT_EQ(nullptr, cr->type);
    ldap_cr_clear(cr);
}

TEST(Handle, InitAndMessages)
{
    ldap_handle ldap;
    memset(&ldap, 0x5A, sizeof ldap);
    ldap_init(&ldap, record_sink, nullptr);
    EXPECT_EQ(nullptr, ldap.host);
    EXPECT_EQ(nullptr, ldap.chan);
    EXPECT_EQ(nullptr, ldap.error_text);
    EXPECT_EQ(nullptr, ldap.log_dir);
    EXPECT_EQ(nullptr, ldap.rx_data);
    EXPECT_EQ(0, ldap.rx_len);
    EXPECT_EQ(0, ldap.error_code);
    EXPECT_EQ(0, ldap.own_chan);
    EXPECT_EQ(0, static_size(&ldap.referrals));
    ldap_init(nullptr, record_sink, record_sink);

    sink_lines.clear();
    EXPECT_EQ(1, ldap_emsg(&ldap, "%s {%s}", "Search", "x"));
    EXPECT_EQ(1, ldap_dmsg(&ldap, "dropped"));  // no debug sink
    EXPECT_EQ(0, ldap_emsg(nullptr, "x"));
    EXPECT_EQ(0, ldap_dmsg(nullptr, "x"));
    ASSERT_EQ(1u, sink_lines.size());
    EXPECT_EQ("LDAP: Search {x}", sink_lines[0]);

    // Long texts are cut at 1023 characters, prefix included; long formats
    // are used whole.
    sink_lines.clear();
    ldap.dmsg = record_sink;
    std::string long_text(3000, 'a');
    ldap_dmsg(&ldap, "%s", long_text.c_str());
    std::string long_format = std::string(900, 'f') + "%s";
    ldap_dmsg(&ldap, long_format.c_str(), "tail");
    ASSERT_EQ(2u, sink_lines.size());
    EXPECT_EQ("LDAP: " + std::string(1017, 'a'), sink_lines[0]);
    EXPECT_EQ("LDAP: " + std::string(900, 'f') + "tail", sink_lines[1]);
}
