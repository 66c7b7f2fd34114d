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

std::string fields()
{
    std::string text;
    for (int i = 0; display_data[i].name; i++)
        text += std::string(display_data[i].name) + " " + display_data[i].type + " " +
                display_data[i].attribute + (display_data[i].searchable ? " 1\n" : " 0\n");
    return text;
}

}  // namespace

TEST(Config, Loading)
{
    // Lines are read whole, however long: the tail of a comment is never a
    // setting, nor does a long value end the reading.
    const std::string comment = "#" + std::string(12000, 'c') + " field injected STRING mail true\n";
    const std::string long_value = "manager_pass " + std::string(10000, 'p') + "\nhost h\n";
    std::string deepest = "(cn=a)";
    for (int i = 0; i < LDAP_FILTER_MAX_DEPTH; i++)
        deepest = "(!" + deepest + ")";
    const struct {
        std::string text;
        int slot;
        std::string value;
    } settings[] = {
        {"  Base_DN\to=Example\r\n", INI_BASE_DN, "o=Example"},
        {"manager_pass  two blanks\n", INI_MANAGER_PASS, " two blanks"},
        {"port 389x\t \r\n", INI_PORT, "389x"},
        {"#debug true\n\n\r\n  #debug true\nunknown_key x\n", INI_DEBUG, ""},
        {"email_address a # not a comment\n", INI_EMAIL_ADDRESS, "a # not a comment"},
        {"SCOPE LDAP_SCOPE_ONELEVEL\n", INI_SCOPE, "1"},
        // The last value counts, cut to 511.
        {"full_name first\n" + long_value, INI_MANAGER_PASS, std::string(511, 'p')},
        {long_value, INI_HOST, "h"},
        {"port 65535x\nConnect_Timeout 3600\ntime_limit 1\n", INI_CONNECT_TIMEOUT, "3600"},
        {"page_size 100000\npage_size 0\n", INI_PAGE_SIZE, "0"},
        {"search_filter (&(objectClass=user)(!(objectClass=computer)))\n", INI_SEARCH_FILTER,
         "(&(objectClass=user)(!(objectClass=computer)))"},
        // Reading stops, quietly, at a key without value or a blank line.
        {"port\nhost h\n", INI_HOST, ""},
        {"   \t \nhost h\n", INI_HOST, ""},
        {"field\nhost h\n", INI_HOST, ""},
    };
    std::string out;
    for (const auto &s : settings) {
        EXPECT_EQ(load(s.text, &out), 1) << s.text;
        EXPECT_EQ(out, "");
        EXPECT_EQ(ini[s.slot], s.value) << s.text;
    }
    const struct {
        std::string text, out;
    } failures[] = {
        {"scope ldap_scope_subtree\n", "-failure unrecognised value for ini setting (scope ldap_scope_subtree)\n"
                                       "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE"},
        {"field  lonely\n", "-failure malformed ini setting (field  lonely)"},
        // A port no TCP port has, or a time-out out of range, stops reading.
        {"port 99999\n", "-failure malformed ini setting (port 99999)"},
        {"port -1\n", "-failure malformed ini setting (port -1)"},
        {"timeout 0\n", "-failure malformed ini setting (timeout 0)"},
        {"TIME_LIMIT 3601\nhost h\n", "-failure malformed ini setting (time_limit 3601)"},
        {"connect_timeout +5\n", "-failure malformed ini setting (connect_timeout +5)"},
        {"timeout " + std::string(600, '1') + "\n", "-failure malformed ini setting (timeout " + std::string(600, '1') + ")"},
        {"page_size 100001\n", "-failure malformed ini setting (page_size 100001)"},
        // TLS settings it cannot use, server entries it cannot read.
        {"tls yes\n", "-failure malformed ini setting (tls yes)"},
        {"tls_verify sometimes\n", "-failure malformed ini setting (tls_verify sometimes)"},
        {"tls_ca_file /nonexistent/ca.pem\n", "-failure malformed ini setting (tls_ca_file /nonexistent/ca.pem)"},
        {"tls starttls\ntls_key_file /etc/hostname\n", "-failure malformed ini setting (tls_key_file /etc/hostname)"},
        {"host a:70000\n", "-failure malformed ini setting (host a:70000)"},
        {"host2 b, [::1\n", "-failure malformed ini setting (host2 b, [::1)"},
        // A base filter: one whole filter, with room for the SEARCH's "(&".
        {"search_filter objectClass=person\n", "-failure malformed ini setting (search_filter objectClass=person)"},
        {"search_filter " + deepest + "\n", "-failure malformed ini setting (search_filter " + deepest + ")"},
        // A file that cannot be opened: its path cut to 100.
        {"", "-failure Cannot open file /nonexistent/" + std::string(87, 'd') + ", No such file or directory\n"},
    };
    for (const auto &f : failures) {
        EXPECT_EQ(load(f.text, &out), 0);
        EXPECT_EQ(out, f.out);
    }

    // A folder is no configuration file.
    TempDir folder;
    testing::internal::CaptureStdout();
    EXPECT_EQ(ini_load(folder.path().c_str(), ini, &display_data_length), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-failure Cannot open file " + folder.path() + ", No such file or directory\n");
    EXPECT_EQ(load(comment, &out), 1);
    EXPECT_EQ(fields(), "record_id STRING dn 0\n");

    // Fields: searchable only when "true" in any case; extra words ignored.
    ASSERT_EQ(load("field fullname STRING cn TRUE\nField\temail\t STRING  mail   True extra tokens\n"
                   "field phone NUMBER telephoneNumber yes\n", &out), 1);
    EXPECT_EQ(fields(), "record_id STRING dn 0\nfullname STRING cn 1\nemail STRING mail 1\n"
                        "phone NUMBER telephoneNumber 0\n");
    // The table grows past its first ten records; a fresh start forgets it.
    std::string many;
    for (int i = 0; i < 40; i++)
        many += "field f" + std::to_string(i) + " T a" + std::to_string(i) + " true\n";
    ASSERT_EQ(load(many, &out), 1);
    EXPECT_EQ(fields().substr(fields().size() - 13), "\nf39 T a39 1\n");
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    EXPECT_EQ(fields(), "record_id STRING dn 0\n");
    EXPECT_EQ(ini_get_field(nullptr, &display_data_length), 0);
    EXPECT_EQ(strlwr(nullptr), nullptr);
}
