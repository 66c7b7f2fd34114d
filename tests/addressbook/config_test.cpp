// Reading extern_book.ini: settings, field lines, where reading stops, and
// the failure messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "common/tempdir.h"

namespace {

// Loads text as a configuration file; returns ini_load's result and puts
// what it wrote on standard output into *out.
int load(const std::string &text, std::string *out = nullptr)
{
    TempDir dir;
    std::string path = dir.write("book.ini", text);
    EXPECT_EQ(ini_init(ini, &display_data_length), 1);
    fflush(stdout);
    testing::internal::CaptureStdout();
    int result = ini_load(path.c_str(), ini, &display_data_length);
    fflush(stdout);
    std::string written = testing::internal::GetCapturedStdout();
    if (out)
        *out = written;
    else
        EXPECT_EQ(written, "");
    return result;
}

int field_count()
{
    int count = 0;
    while (display_data[count].name)
        count++;
    return count;
}

}  // namespace

TEST(Config, SettingsKeysAndValues)
{
    ASSERT_EQ(load("HOST ldap.example.org\n"
                   "  Base_DN\to=Example\r\n"
                   "manager_dn cn=Manager, o=Example\n"
                   "manager_pass  two blanks\n"
                   "#port 1\n"
                   "\n"
                   "\r\n"
                   "  #debug true\n"
                   "unknown_key whatever\n"
                   "port 389x\t \r\n"
                   "full_name first\n"
                   "full_name second\n"
                   "email_address a # not a comment\n"),
              1);
    EXPECT_STREQ(ini[INI_HOST], "ldap.example.org");
    EXPECT_STREQ(ini[INI_BASE_DN], "o=Example");
    EXPECT_STREQ(ini[INI_MANAGER_DN], "cn=Manager, o=Example");
    EXPECT_STREQ(ini[INI_MANAGER_PASS], " two blanks");
    EXPECT_STREQ(ini[INI_PORT], "389x");
    EXPECT_STREQ(ini[INI_DEBUG], "");
    EXPECT_STREQ(ini[INI_FULL_NAME], "second");
    EXPECT_STREQ(ini[INI_EMAIL_ADDRESS], "a # not a comment");
    EXPECT_STREQ(ini[INI_HOST2], "");
    EXPECT_STREQ(ini[INI_SCOPE], "");
    EXPECT_EQ(field_count(), 1);
    EXPECT_STREQ(display_data[0].name, "record_id");
    EXPECT_STREQ(display_data[0].type, "STRING");
    EXPECT_STREQ(display_data[0].attribute, "dn");
    EXPECT_EQ(display_data[0].searchable, 0);
}

TEST(Config, LongValuesAndLongLines)
{
    // A value is cut to 511 characters; a line beyond 9,999 characters is
    // read in pieces, each piece a line of its own.
    std::string first = "full_name " + std::string(9999 - 10, 'n');
    ASSERT_EQ(load("host " + std::string(600, 'h') + "\n" + first + "port 389\n"), 1);
    EXPECT_EQ(std::string(ini[INI_HOST]), std::string(511, 'h'));
    EXPECT_EQ(std::string(ini[INI_FULL_NAME]), std::string(511, 'n'));
    EXPECT_STREQ(ini[INI_PORT], "389");
}

TEST(Config, ReadingStopsAtKeyWithoutValue)
{
    ASSERT_EQ(load("host a\nport\nbase_dn o=x\n"), 1);
    EXPECT_STREQ(ini[INI_HOST], "a");
    EXPECT_STREQ(ini[INI_BASE_DN], "");

    ASSERT_EQ(load("host a\n   \t \nbase_dn o=x\n"), 1);
    EXPECT_STREQ(ini[INI_BASE_DN], "");

    ASSERT_EQ(load("host \t\nbase_dn o=x\n"), 1);  // trailing blanks leave no value
    EXPECT_STREQ(ini[INI_HOST], "");
    EXPECT_STREQ(ini[INI_BASE_DN], "");

    ASSERT_EQ(load("field name STRING cn true\nfield\nfield mail STRING mail true\n"), 1);
    EXPECT_EQ(field_count(), 2);
}

TEST(Config, Scope)
{
    const char *names[] = {"LDAP_SCOPE_BASE", "LDAP_SCOPE_ONELEVEL", "LDAP_SCOPE_SUBTREE"};
    for (int scope = 0; scope < 3; scope++) {
        ASSERT_EQ(load(std::string("SCOPE ") + names[scope] + "\n"), 1);
        EXPECT_EQ(ini[INI_SCOPE], std::to_string(scope));
    }
    std::string out;
    EXPECT_EQ(load("scope ldap_scope_subtree\nhost a\n", &out), 0);
    EXPECT_EQ(out, "-failure unrecognised value for ini setting (scope ldap_scope_subtree)\n"
                   "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE");
    EXPECT_STREQ(ini[INI_HOST], "");
    EXPECT_EQ(load("scope LDAP_SCOPE_SUBTREE extra\n", &out), 0);
}

TEST(Config, Fields)
{
    ASSERT_EQ(load("field fullname STRING cn TRUE\n"
                   "Field\temail\t STRING  mail   True extra tokens\n"
                   "field phone NUMBER telephoneNumber yes\n"
                   "field email OTHER sn false\n"),
              1);
    ASSERT_EQ(field_count(), 5);
    const display_field &name = display_data[1];
    EXPECT_STREQ(name.name, "fullname");
    EXPECT_STREQ(name.type, "STRING");
    EXPECT_STREQ(name.attribute, "cn");
    EXPECT_EQ(name.searchable, 1);
    EXPECT_STREQ(display_data[2].name, "email");
    EXPECT_STREQ(display_data[2].attribute, "mail");
    EXPECT_EQ(display_data[2].searchable, 1);
    EXPECT_STREQ(display_data[3].type, "NUMBER");
    EXPECT_STREQ(display_data[3].attribute, "telephoneNumber");  // values keep their case
    EXPECT_EQ(display_data[3].searchable, 0);
    EXPECT_STREQ(display_data[4].name, "email");  // a repeated name is kept
    EXPECT_EQ(display_data[5].name, nullptr);
    EXPECT_EQ(display_data[5].attribute, nullptr);

    std::string out;
    EXPECT_EQ(load("field fullname STRING cn\nhost a\n", &out), 0);
    EXPECT_EQ(out, "-failure malformed ini setting (field fullname)");
    EXPECT_STREQ(ini[INI_HOST], "");
    EXPECT_EQ(load("field  lonely\n", &out), 0);
    EXPECT_EQ(out, "-failure malformed ini setting (field  lonely)");
}

TEST(Config, FieldTableGrows)
{
    std::string text;
    for (int i = 0; i < 40; i++)
        text += "field f" + std::to_string(i) + " T a" + std::to_string(i) +
                (i % 2 ? " true\n" : " false\n");
    ASSERT_EQ(load(text), 1);
    ASSERT_EQ(field_count(), 41);
    EXPECT_GE(display_data_length, 42);
    EXPECT_STREQ(display_data[0].name, "record_id");
    for (int i = 0; i < 40; i++) {
        EXPECT_EQ(display_data[i + 1].name, "f" + std::to_string(i));
        EXPECT_EQ(display_data[i + 1].attribute, "a" + std::to_string(i));
        EXPECT_EQ(display_data[i + 1].searchable, i % 2);
    }
    // A fresh start forgets the grown table.
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    EXPECT_EQ(display_data_length, 10);
    EXPECT_EQ(field_count(), 1);
}

TEST(Config, OpenFailure)
{
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    std::string missing = "/nonexistent/" + std::string(150, 'd') + "/book.ini";
    fflush(stdout);
    testing::internal::CaptureStdout();
    // The fallback, extern_book.ini in the working directory, is absent here too.
    EXPECT_EQ(ini_load(missing.c_str(), ini, &display_data_length), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-failure Cannot open file " + missing.substr(0, 100) +
                  ", No such file or directory\n");
}

TEST(Config, GetFieldAndLowerCase)
{
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    char line[] = "Nick\tSTRING uid TRUE";
    EXPECT_EQ(ini_get_field(line, &display_data_length), 1);
    EXPECT_STREQ(display_data[1].name, "Nick");
    EXPECT_EQ(display_data[1].searchable, 1);
    char blanks[] = " \t ";
    EXPECT_EQ(ini_get_field(blanks, &display_data_length), 0);
    EXPECT_EQ(ini_get_field(nullptr, &display_data_length), 0);

    EXPECT_EQ(strlwr(nullptr), nullptr);
    char empty[] = "";
    EXPECT_EQ(strlwr(empty), empty);
    char mixed[] = "Base_DN \xC9X";
    EXPECT_STREQ(strlwr(mixed), "base_dn \xC9x");
}

TEST(Config, ShippedSampleLoadsWhole)
{
    std::string path = std::string(SOURCE_DIR) + "/extern_book.ini.sample";
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    ASSERT_EQ(ini_load(path.c_str(), ini, &display_data_length), 1);
    EXPECT_STREQ(ini[INI_SCOPE], "2");
    EXPECT_STREQ(ini[INI_HOST], "127.0.0.1");
    EXPECT_STRNE(ini[INI_MANAGER_PASS], "");
    // Every setting before the fields was read, and the last field too.
    EXPECT_STREQ(ini[INI_EMAIL_ADDRESS], "postmaster@example.com");
    ASSERT_GT(field_count(), 5);
    EXPECT_STREQ(display_data[field_count() - 1].name, "title");
}
