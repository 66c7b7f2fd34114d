// Reading extern_book.ini: settings, fields, where reading stops, failures.
#include <gtest/gtest.h>

#include <string>

#include "addressbook/extern_book.h"
#include "common/tempdir.h"

namespace {

// ini_load's result on text; what it wrote on standard output goes to *out
// (and must be nothing when out is null).
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

TEST(Config, Settings)
{
    ASSERT_EQ(load("HOST ldap.example.org\n"
                   "  Base_DN\to=Example\r\n"
                   "manager_pass  two blanks\n"
                   "#port 1\n\n\r\n  #debug true\n"
                   "unknown_key whatever\n"
                   "port 389x\t \r\n"
                   "full_name first\n"
                   "email_address a # not a comment\n"
                   "scope LDAP_SCOPE_ONELEVEL\n"
                   "field name STRING cn true\n"
                   "full_name " + std::string(9989, 'n') + "field late STRING sn true\n"),
              1);
    EXPECT_STREQ(ini[INI_HOST], "ldap.example.org");
    EXPECT_STREQ(ini[INI_BASE_DN], "o=Example");
    EXPECT_STREQ(ini[INI_MANAGER_PASS], " two blanks");
    EXPECT_STREQ(ini[INI_PORT], "389x");
    EXPECT_STREQ(ini[INI_DEBUG], "");
    EXPECT_STREQ(ini[INI_EMAIL_ADDRESS], "a # not a comment");
    EXPECT_STREQ(ini[INI_SCOPE], "1");
    // The last value counts, cut to 511 characters; a line over 9,999
    // characters is read in pieces, each a line of its own.
    EXPECT_EQ(std::string(ini[INI_FULL_NAME]), std::string(511, 'n'));
    ASSERT_EQ(field_count(), 3);
    EXPECT_STREQ(display_data[2].name, "late");

    EXPECT_EQ(load("SCOPE LDAP_SCOPE_BASE\n"), 1);
    EXPECT_STREQ(ini[INI_SCOPE], "0");
    EXPECT_EQ(load("scope LDAP_SCOPE_SUBTREE\n"), 1);
    EXPECT_STREQ(ini[INI_SCOPE], "2");
}

TEST(Config, ReadingStopsAtAKeyWithoutValue)
{
    for (const char *stop : {"port\n", "   \t \n", "host \t\n", "field\n"}) {
        ASSERT_EQ(load(std::string("manager_dn a\nfield f T x true\n") + stop +
                       "base_dn o=x\nfield g T y true\n"),
                  1);
        EXPECT_STREQ(ini[INI_MANAGER_DN], "a");
        EXPECT_STREQ(ini[INI_BASE_DN], "") << stop;
        EXPECT_EQ(field_count(), 2) << stop;
    }
}

TEST(Config, Fields)
{
    ASSERT_EQ(load("field fullname STRING cn TRUE\n"
                   "Field\temail\t STRING  mail   True extra tokens\n"
                   "field phone NUMBER telephoneNumber yes\n"
                   "field email OTHER sn false\n"),
              1);
    ASSERT_EQ(field_count(), 5);
    const struct {
        const char *name, *type, *attribute;
        int searchable;
    } expected[] = {{"record_id", "STRING", "dn", 0},    {"fullname", "STRING", "cn", 1},
                    {"email", "STRING", "mail", 1},      {"phone", "NUMBER", "telephoneNumber", 0},
                    {"email", "OTHER", "sn", 0}};
    for (int i = 0; i < 5; i++) {
        EXPECT_STREQ(display_data[i].name, expected[i].name);
        EXPECT_STREQ(display_data[i].type, expected[i].type);
        EXPECT_STREQ(display_data[i].attribute, expected[i].attribute);
        EXPECT_EQ(display_data[i].searchable, expected[i].searchable);
    }
    EXPECT_EQ(display_data[5].attribute, nullptr);

    // The table grows past its first ten records; a fresh start forgets it.
    std::string text;
    for (int i = 0; i < 40; i++)
        text += "field f" + std::to_string(i) + " T a" + std::to_string(i) + " true\n";
    ASSERT_EQ(load(text), 1);
    ASSERT_EQ(field_count(), 41);
    EXPECT_STREQ(display_data[40].attribute, "a39");
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    EXPECT_EQ(display_data_length, 10);
    EXPECT_EQ(field_count(), 1);

    char blanks[] = " \t ";
    EXPECT_EQ(ini_get_field(blanks, &display_data_length), 0);
    EXPECT_EQ(ini_get_field(nullptr, &display_data_length), 0);
    EXPECT_EQ(strlwr(nullptr), nullptr);
    char mixed[] = "Base_DN \xC9X";
    EXPECT_STREQ(strlwr(mixed), "base_dn \xC9x");
}

TEST(Config, Failures)
{
    const struct {
        std::string text, out;
    } failures[] = {
        {"scope ldap_scope_subtree\nhost a\n",
         "-failure unrecognised value for ini setting (scope ldap_scope_subtree)\n"
         "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE"},
        {"scope LDAP_SCOPE_SUBTREE extra\nhost a\n",
         "-failure unrecognised value for ini setting (scope LDAP_SCOPE_SUBTREE extra)\n"
         "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE"},
        {"field fullname STRING cn\nhost a\n", "-failure malformed ini setting (field fullname)"},
        {"field  lonely\nhost a\n", "-failure malformed ini setting (field  lonely)"},
    };
    for (const auto &f : failures) {
        std::string out;
        EXPECT_EQ(load(f.text, &out), 0);
        EXPECT_EQ(out, f.out);
        EXPECT_STREQ(ini[INI_HOST], "");  // reading stopped there
    }
    // The path is cut to 100 characters in the message; the fallback,
    // extern_book.ini in the working directory, is absent too.
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    std::string missing = "/nonexistent/" + std::string(150, 'd') + "/book.ini";
    testing::internal::CaptureStdout();
    EXPECT_EQ(ini_load(missing.c_str(), ini, &display_data_length), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-failure Cannot open file " + missing.substr(0, 100) + ", No such file or directory\n");
}
