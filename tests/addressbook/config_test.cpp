// Reading extern_book.ini: settings, fields, where reading stops, failures.
#include <gtest/gtest.h>

#include <string>

#include "addressbook/extern_book.h"
#include "common/tempdir.h"

namespace {

// ini_load's result on text; what it wrote on standard output goes to *out.
int load(const std::string &text, std::string *out = nullptr)
{
    TempDir dir;
    std::string path = text.empty() ? "/nonexistent/" + std::string(150, 'd') : dir.write("book.ini", text);
    EXPECT_EQ(ini_init(ini, &display_data_length), 1);
    fflush(stdout);
    testing::internal::CaptureStdout();
    int result = ini_load(path.c_str(), ini, &display_data_length);
    fflush(stdout);
    std::string written = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out ? "" : written, "");
    if (out)
        *out = written;
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
    ASSERT_EQ(load("HOST ldap.example.org\n"
                   "  Base_DN\to=Example\r\n"
                   "manager_pass  two blanks\n"
                   "#port 1\n\n\r\n  #debug true\n"
                   "unknown_key whatever\n"
                   "port 389x\t \r\n"
                   "full_name first\n"
                   "email_address a # not a comment\n"
                   "SCOPE LDAP_SCOPE_ONELEVEL\n"
                   "field fullname STRING cn TRUE\n"
                   "Field\temail\t STRING  mail   True extra tokens\n"
                   "field phone NUMBER telephoneNumber yes\n"
                   // The last value counts, cut to 511 characters; a line
                   // over 9,999 characters is read in pieces.
                   "full_name " + std::string(9989, 'n') + "field email OTHER sn false\n"),
              1);
    EXPECT_STREQ(ini[INI_HOST], "ldap.example.org");
    EXPECT_STREQ(ini[INI_BASE_DN], "o=Example");
    EXPECT_STREQ(ini[INI_MANAGER_PASS], " two blanks");
    EXPECT_STREQ(ini[INI_PORT], "389x");
    EXPECT_STREQ(ini[INI_DEBUG], "");
    EXPECT_STREQ(ini[INI_EMAIL_ADDRESS], "a # not a comment");
    EXPECT_STREQ(ini[INI_SCOPE], "1");
    EXPECT_EQ(std::string(ini[INI_FULL_NAME]), std::string(511, 'n'));
    const struct {
        const char *name, *type, *attribute;
        int searchable;
    } fields[] = {{"record_id", "STRING", "dn", 0},    {"fullname", "STRING", "cn", 1},
                  {"email", "STRING", "mail", 1},      {"phone", "NUMBER", "telephoneNumber", 0},
                  {"email", "OTHER", "sn", 0}};
    ASSERT_EQ(field_count(), 5);
    for (int i = 0; i < 5; i++) {
        EXPECT_STREQ(display_data[i].name, fields[i].name);
        EXPECT_STREQ(display_data[i].type, fields[i].type);
        EXPECT_STREQ(display_data[i].attribute, fields[i].attribute);
        EXPECT_EQ(display_data[i].searchable, fields[i].searchable);
    }
    EXPECT_EQ(load("scope LDAP_SCOPE_BASE\n"), 1);
    EXPECT_STREQ(ini[INI_SCOPE], "0");
    EXPECT_EQ(load("scope LDAP_SCOPE_SUBTREE\n"), 1);
    EXPECT_STREQ(ini[INI_SCOPE], "2");

    // The table grows past its first ten records; a fresh start forgets it.
    std::string many;
    for (int i = 0; i < 40; i++)
        many += "field f" + std::to_string(i) + " T a" + std::to_string(i) + " true\n";
    ASSERT_EQ(load(many), 1);
    ASSERT_EQ(field_count(), 41);
    EXPECT_STREQ(display_data[40].attribute, "a39");
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    EXPECT_EQ(field_count(), 1);

    char blanks[] = " \t ", mixed[] = "Base_DN \xC9X";
    EXPECT_EQ(ini_get_field(blanks, &display_data_length), 0);
    EXPECT_EQ(ini_get_field(nullptr, &display_data_length), 0);
    EXPECT_EQ(strlwr(nullptr), nullptr);
    EXPECT_STREQ(strlwr(mixed), "base_dn \xC9x");
}

TEST(Config, ReadingStops)
{
    // At a key without value, or a line of blanks: quietly.
    for (const char *stop : {"port\n", "   \t \n", "host \t\n", "field\n"}) {
        std::string text = std::string("manager_dn a\nfield f T x true\n") + stop;
        ASSERT_EQ(load(text + "base_dn o=x\nfield g T y true\n"), 1);
        EXPECT_STREQ(ini[INI_MANAGER_DN], "a");
        EXPECT_STREQ(ini[INI_BASE_DN], "") << stop;
        EXPECT_EQ(field_count(), 2) << stop;
    }
    // At a bad scope or field line, with a message.
    const std::string bad = "-failure unrecognised value for ini setting (";
    const std::string use = ")\nuse LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE";
    const struct {
        std::string line, out;
    } failures[] = {
        {"scope ldap_scope_subtree", bad + "scope ldap_scope_subtree" + use},
        {"scope LDAP_SCOPE_SUBTREE x", bad + "scope LDAP_SCOPE_SUBTREE x" + use},
        {"field fullname STRING cn", "-failure malformed ini setting (field fullname)"},
        {"field  lonely", "-failure malformed ini setting (field  lonely)"},
    };
    for (const auto &f : failures) {
        std::string out;
        EXPECT_EQ(load(f.line + "\nhost a\n", &out), 0);
        EXPECT_EQ(out, f.out);
        EXPECT_STREQ(ini[INI_HOST], "");
    }
    // A file that cannot be opened (nor extern_book.ini here): its path cut to 100.
    std::string out;
    EXPECT_EQ(load("", &out), 0);
    EXPECT_EQ(out, "-failure Cannot open file /nonexistent/" + std::string(87, 'd') +
                       ", No such file or directory\n");
}
