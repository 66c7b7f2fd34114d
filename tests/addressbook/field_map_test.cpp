// Which field an attribute the directory returns maps to, worked out once
// per field table and connection against slapd's own schema, and the
// attribute list GET asks for.
#include "book_testing.h"

#include "addressbook/extern_book.h"

namespace {

// A field table of these lines ("name type attribute searchable") after
// record_id, whose attribute is "dn".
void load_fields(std::vector<std::string> lines)
{
    ASSERT_TRUE(ini_init(ini, &display_data_length));
    for (std::string &line : lines)
        ASSERT_TRUE(ini_get_field(&line[0], &display_data_length)) << line;
}

// The field of each returned name, as "name:index" joined by blanks.
std::string fields_of(const std::vector<const char *> &names)
{
    const book_field_map *map = book_map_fields();
    std::string text;
    for (const char *name : names)
        text += std::string(name ? name : "(null)") + ":" + std::to_string(book_field_of(map, name)) + " ";
    return text;
}

}  // namespace

TEST(FieldMap, ReturnedNamesFindTheFirstFieldOfTheirTypeAndOptions)
{
    Slapd slapd;
    ASSERT_TRUE(slapd.start()) << slapd.error();
    ldap_handle handle;
    ldap_init(&handle, nullptr, nullptr);
    ldap_setup(&handle, slapd.host(), slapd.port());
    ASSERT_EQ(0, ldap_connect(&handle, slapd.options().rootdn.c_str(), slapd.options().rootpw.c_str()));
    book_read_schema(&handle);
    load_fields({"common STRING commonName false", "cn STRING cn false", "again STRING CN false",
                 "german STRING cn;lang-de false", "box STRING 0.9.2342.19200300.100.1.3 false",
                 "mail STRING MAIL false", "own STRING x-own false"});
    EXPECT_STREQ("commonName,cn,cn;lang-de,0.9.2342.19200300.100.1.3,MAIL,x-own",
                 book_requested_attributes(book_map_fields()));
    // By name the first field of the type wins even where a later one has
    // that very name; options must match too.
    EXPECT_EQ("cn:1 CN:1 2.5.4.3:1 commonName:1 cn;LANG-DE:4 cn;lang-en:-1 mail:5 "
              "rfc822Mailbox:5 X-OWN:7 sn:-1 :-1 ;x:-1 dn:0 (null):-1 ",
              fields_of({"cn", "CN", "2.5.4.3", "commonName", "cn;LANG-DE", "cn;lang-en", "mail",
                         "rfc822Mailbox", "X-OWN", "sn", "", ";x", "dn", nullptr}));

    // Without a schema, names only; a table that changed is mapped afresh.
    book_forget_schema();
    std::string more = "surname STRING sn false";
    ASSERT_TRUE(ini_get_field(&more[0], &display_data_length));
    EXPECT_EQ("cn:2 commonName:1 mail:6 rfc822Mailbox:-1 2.5.4.3:-1 sn:8 ",
              fields_of({"cn", "commonName", "mail", "rfc822Mailbox", "2.5.4.3", "sn"}));
    EXPECT_STREQ("commonName,cn,cn;lang-de,0.9.2342.19200300.100.1.3,MAIL,x-own,sn",
                 book_requested_attributes(book_map_fields()));
    load_fields({"id STRING dn false"});
    EXPECT_STREQ("1.1", book_requested_attributes(book_map_fields()));
    EXPECT_EQ(nullptr, book_requested_attributes(nullptr));
    ldap_clear(&handle);
}
