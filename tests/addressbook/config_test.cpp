// Reading extern_book.ini: settings, fields, where reading stops, failures.
#include <gtest/gtest.h>

#include <string>

#include "addressbook/extern_book.h"
#include "common/tempdir.h"

namespace {

// ini_load's result on text (a missing file when empty); what it wrote on
// standard output goes to *out.
int load(const std::string &text, std::string *out)
{
    TempDir dir;
    std::string path = text.empty() ? "/nonexistent/" + std::string(150, 'd') : dir.write("book.ini", text);
    EXPECT_EQ(ini_init(ini, &display_data_length), 1);
    fflush(stdout);
    testing::internal::CaptureStdout();
    int result = ini_load(path.c_str(), ini, &display_data_length);
    fflush(stdout);
    *out = testing::internal::GetCapturedStdout();
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

TEST(Config, SettingsAndFields)
{
    std::string out, many;
    ASSERT_EQ(load("HOST ldap.example.org\n"
                   "  Base_DN\to=Example\r\n"
                   "manager_pass  two blanks\n"
                   "#port 1\n\n\r\n  #debug true\n"
                   "unknown_key whatever\n"
                   "port 389x\t \r\n"
                   "email_address a # not a comment\n"
                   "SCOPE LDAP_SCOPE_ONELEVEL\n"
                   "field fullname STRING cn TRUE\n"
                   "Field\temail\t STRING  mail   True extra tokens\n"
                   "field phone NUMBER telephoneNumber yes\n"
                   // The last value counts, cut to 511 characters; a line
                   // over 9,999 characters is read in pieces.
                   "full_name first\nfull_name " + std::string(9989, 'n') + "field email OTHER sn false\n",
                   &out),
              1);
    EXPECT_EQ(out, "");
    EXPECT_STREQ(ini[INI_HOST], "ldap.example.org");
    EXPECT_STREQ(ini[INI_BASE_DN], "o=Example");
    EXPECT_STREQ(ini[INI_MANAGER_PASS], " two blanks");
    EXPECT_STREQ(ini[INI_PORT], "389x");
    EXPECT_STREQ(ini[INI_DEBUG], "");
    EXPECT_STREQ(ini[INI_EMAIL_ADDRESS], "a # not a comment");
    EXPECT_STREQ(ini[INI_SCOPE], "1");
    EXPECT_EQ(std::string(ini[INI_FULL_NAME]), std::string(511, 'n'));
    const char *fields[] = {"record_id STRING dn 0", "fullname STRING cn 1", "email STRING mail 1",
                            "phone NUMBER telephoneNumber 0", "email OTHER sn 0"};
    ASSERT_EQ(field_count(), 5);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(std::string(display_data[i].name) + " " + display_data[i].type + " " +
                      display_data[i].attribute + " " + std::to_string(display_data[i].searchable),
                  fields[i]);

    // The table grows past its first ten records; a fresh start forgets it.
    for (int i = 0; i < 40; i++)
        many += "field f" + std::to_string(i) + " T a" + std::to_string(i) + " true\n";
    ASSERT_EQ(load(many, &out), 1);
    ASSERT_EQ(field_count(), 41);
    EXPECT_STREQ(display_data[40].attribute, "a39");
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    EXPECT_EQ(field_count(), 1);
    EXPECT_EQ(ini_get_field(nullptr, &display_data_length), 0);
    EXPECT_EQ(strlwr(nullptr), nullptr);
}

TEST(Config, ReadingStops)
{
    std::string out;
    // At a key without value, or a line of blanks: quietly.
    for (const char *stop : {"port\n", "   \t \n", "field\n"}) {
        std::string text = std::string("manager_dn a\nfield f T x true\n") + stop;
        ASSERT_EQ(load(text + "base_dn o=x\nfield g T y true\n", &out), 1);
        EXPECT_EQ(out, "");
        EXPECT_STREQ(ini[INI_MANAGER_DN], "a");
        EXPECT_STREQ(ini[INI_BASE_DN], "") << stop;
        EXPECT_EQ(field_count(), 2) << stop;
    }
    // At a bad scope (case and trailing words count) or field line, with a message.
    for (const char *line : {"scope ldap_scope_subtree", "scope LDAP_SCOPE_SUBTREE x", "field  lonely"}) {
        EXPECT_EQ(load(line + std::string("\nhost a\n"), &out), 0);
        EXPECT_EQ(out.find(line), out.find('(') + 1) << out;
        EXPECT_STREQ(ini[INI_HOST], "");
    }
    // A file that cannot be opened: its path cut to 100.
    EXPECT_EQ(load("", &out), 0);
    EXPECT_EQ(out, "-failure Cannot open file /nonexistent/" + std::string(87, 'd') +
                       ", No such file or directory\n");
}
