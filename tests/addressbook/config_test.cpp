// Reading extern_book.ini: settings, fields, where reading stops, failures;
// the server lists of "host"; the coded one-line DN form.
#include <dlfcn.h>
#include <openssl/ssl.h>

#include "addressbook/extern_book.h"
#include "book_testing.h"

namespace {

// ini_load's result on text (a missing file when empty, the folder it names
// when it starts with "/"), then what it wrote on standard output.
std::string load(const std::string &text)
{
    TempDir dir;
    std::string path = text.empty()     ? "/nonexistent/" + std::string(150, 'd')
                       : text[0] == '/' ? text
                                        : dir.write("book.ini", text);
    EXPECT_EQ(ini_init(ini, &display_data_length), 1);
    fflush(stdout);
    testing::internal::CaptureStdout();
    int result = ini_load(path.c_str(), ini, &display_data_length);
    fflush(stdout);
    return std::to_string(result) + testing::internal::GetCapturedStdout();
}

std::string fields()
{
    std::string text;
    for (int i = 0; display_data[i].name; i++)
        text += std::string(display_data[i].name) + " " + display_data[i].type + " " + display_data[i].attribute +
                (display_data[i].searchable ? " 1\n" : " 0\n");
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
    for (int i = 0; i < LDAP_FILTER_MAX_DEPTH; i++) deepest = "(!" + deepest + ")";
    TempDir folder;
    const int FAILS = -1;  // the row's value is what the failure wrote
    std::vector<std::tuple<std::string, int, std::string>> rows = {
        {"  Base_DN\to=Example\r\n", INI_BASE_DN, "o=Example"},
        {"manager_pass  two blanks\n", INI_MANAGER_PASS, " two blanks"},
        {"port 389x\t \r\n", INI_PORT, "389x"},
        {"#debug true\n\n\r\n  #debug true\nunknown_key x\n", INI_DEBUG, ""},
        {"email_address a # not a comment\n", INI_EMAIL_ADDRESS, "a # not a comment"},
        {"SCOPE LDAP_SCOPE_ONELEVEL\n", INI_SCOPE, "1"},
        // A byte-order mark a text editor wrote before the first key.
        {"\xEF\xBB\xBFtls starttls\n", INI_TLS, "starttls"},
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
        {"scope ldap_scope_subtree\n", FAILS,
         "-failure unrecognised value for ini setting (scope ldap_scope_subtree)\n"
         "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE"},
        {"TIME_LIMIT 3601\nhost h\n", FAILS, "-failure malformed ini setting (time_limit 3601)"},
        {"field fullname STRING\tcn\n", FAILS, "-failure malformed ini setting (field fullname)"},  // its first word
        {"tls starttls\ntls_key_file /etc/hostname\n", FAILS,
         "-failure malformed ini setting (tls_key_file /etc/hostname)"},
        // A file that cannot be opened: its path cut to 100.
        {"", FAILS, "-failure Cannot open file /nonexistent/" + std::string(87, 'd') + ", No such file or directory\n"},
        // The reason is the named file's, not that of ./extern_book.ini tried after it.
        {folder.path(), FAILS, "-failure Cannot open file " + folder.path() + ", Is a directory\n"},
    };
    // Each refused value stops the reading, named as read. Last, a valid
    // filter too long to be kept whole, one too deep to be one filter, a
    // host cut at 512 (where its port would read 389).
    for (const std::string &text : std::vector<std::string>{
             "field  lonely", "port 99999", "port -1", "port 65536", "timeout 0", "connect_timeout +5",
             "page_size 100001", "tls yes", "tls_verify sometimes", "tls_ca_file /nonexistent/ca.pem", "host a:70000",
             "host2 b, [::1", "search_filter objectClass=person", "search_filter (cn=" + std::string(600, 'a') + ")",
             "search_filter " + deepest, "host " + std::string(504, 'a') + " bb:3890"})
        rows.push_back({text + "\n", FAILS, "-failure malformed ini setting (" + text + ")"});
    for (const auto &[text, slot, value] : rows) {
        std::string got = load(text);
        EXPECT_EQ(slot == FAILS ? got : got + ": " + ini[slot], slot == FAILS ? "0" + value : "1: " + value) << text;
    }

    EXPECT_EQ(load(comment), "1");
    EXPECT_EQ(fields(), "record_id STRING dn 0\n");

    // Fields: searchable only when "true" in any case; extra words ignored.
    ASSERT_EQ(load("field fullname STRING cn TRUE\nField\temail\t STRING  mail   True extra tokens\n"
                   "field phone NUMBER telephoneNumber yes\n"),
              "1");
    EXPECT_EQ(fields(), "record_id STRING dn 0\nfullname STRING cn 1\nemail STRING mail 1\n"
                        "phone NUMBER telephoneNumber 0\n");
    // The table grows past its first ten records; a fresh start forgets it.
    std::string many;
    for (int i = 0; i < 40; i++) many += "field f" + std::to_string(i) + " T a" + std::to_string(i) + " true\n";
    ASSERT_EQ(load(many), "1");
    EXPECT_EQ(fields().substr(fields().size() - 13), "\nf39 T a39 1\n");
    ASSERT_EQ(ini_init(ini, &display_data_length), 1);
    EXPECT_EQ(fields(), "record_id STRING dn 0\n");
    EXPECT_EQ(ini_get_field(nullptr, &display_data_length), 0);
    EXPECT_EQ(strlwr(nullptr), nullptr);
}

// Accepted forms and refused entries.
TEST(BookServers, AcceptedAndRefusedValues)
{
    const char *const KINDS[] = {"plain", "ldap", "ldaps", "srv"};
    const struct {
        const char *value, *expected;
    } rows[] = {
        // One name or address: as written, with the configured port.
        {"Ldap.Example.COM", "plain Ldap.Example.COM:389"},
        {"", "plain :389"},
        {"a:1, b:65535\t[::1]:636,,::1 [fe80::1%lo]",
         "plain a:1 plain b:65535 plain ::1:636 plain ::1:389 plain fe80::1%lo:389"},
        {"ldap://h LDAPS://h ldaps://[::1]:1/dc=x??sub srv:Example.com ldap://h:2/",
         "ldap h:389 ldaps h:636 ldaps ::1:1 srv Example.com:0 ldap h:2"},
        {"a a:65536", "bad host or port in server entry \"a:65536\""},
        {"http://h", "unknown scheme in server entry \"http://h\""},
        {"srv:", "bad SRV domain in server entry \"srv:\""},
        {"srv:a.com:389", "bad SRV domain in server entry \"srv:a.com:389\""},
    };
    book_server_list list = {};
    auto parsed = [&](const char *value) {
        std::string got;
        if (book_servers_parse(&list, value, 389) <= 0)
            return list.error + std::string(list.count ? " (not emptied)" : "");
        for (int i = 0; i < list.count; i++)
            got += std::string(i ? " " : "") + KINDS[list.servers[i].kind] + " " + list.servers[i].host + ":" +
                   std::to_string(list.servers[i].port);
        return got;
    };
    for (const auto &row : rows) EXPECT_EQ(parsed(row.value), row.expected) << row.value;
    for (const char *bad : {"a:12x", "a:0", "a:", ":389", "[::1", "[::1]389", "[]:389", "ldap:///dc=x"})
        EXPECT_EQ(parsed(bad), "bad host or port in server entry \"" + std::string(bad) + "\"");
    book_servers_clear(&list);
}

TEST(DnCoding, CodesAndDecodes)
{
    EXPECT_STREQ(code_dn("cn=Jo Smith,o=Org"), "cn!3DJo!20Smith!2Co!3DOrg");
    EXPECT_STREQ(code_dn("a\nb!c@d.e\x7F\x80\xFF"), "a!0Ab!21c@d.e!7F!80!FF");
    EXPECT_STREQ(code_dn(nullptr), "");
    EXPECT_STREQ(uncode_dn(nullptr), "");
    // The reply writers take a null stream as nowhere to write.
    EXPECT_EQ(code_dn_into(nullptr, "a", 1), 0u);
    EXPECT_EQ(build_user_info(nullptr, nullptr), 0);
    book_list_fields(nullptr, 0);
    generate_search(nullptr, 1, 1, 0, "fullname=a");
    display_dn(nullptr, "a");
    // Digits count as their code minus 55 unless 0-9: "!3d" is not "=", "!zz"
    // is (16 * 67 + 67) modulo 256. A "!" without two characters after it
    // stands as it is, and so does a code for the zero byte, which would cut
    // the DN short, or 16 * 16 + 0.
    const std::pair<const char *, const char *> uncoded[] = {{"cn!3DJo!20Smith!2Co!3DOrg", "cn=Jo Smith,o=Org"},
                                                             {"!3d", "]"},
                                                             {"!zz!41", "sA"},
                                                             {"abc!4", "abc!4"},
                                                             {"abc!", "abc!"},
                                                             {"cn!3Da!00b", "cn=a!00b"},
                                                             {"!G0", "!G0"}};
    for (const auto &[coded, dn] : uncoded) EXPECT_STREQ(uncode_dn(coded), dn) << coded;
    // Every byte, and far beyond 2,049 characters, goes round.
    std::string all;
    for (int c = 1; c < 256; c++) all += static_cast<char>(c);
    for (int i = 0; i < 2000; i++) all += "cn=x y,";
    std::string coded = code_dn(all.c_str());
    EXPECT_EQ(coded.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz@.!"),
              std::string::npos);
    EXPECT_EQ(uncode_dn(coded.c_str()), all);
    EXPECT_STREQ(code_dn(code_dn("a,b")), "a!212Cb");  // its own result handed back
}

// Without the TLS library (hidden in a private mount namespace), a
// configuration that needs TLS stops at start-up, before any connection,
// saying what is missing; one that does not runs without it.
TEST(Config, TlsLibraryLoadedOnlyWhenNeeded)
{
    Dl_info library;
    ASSERT_NE(dladdr(reinterpret_cast<void *>(&SSL_new), &library), 0);
    // "hidden" first once the library is hidden, then what the service wrote.
    auto run = [&](const std::string &ini) {
        TempDir dir;
        dir.write("extern_book.ini", ini);
        const char *script = "mount --bind /dev/null \"$0\" && echo hidden && exec \"$1\"";
        return run_process({"/usr/bin/unshare", "--mount", "sh", "-c", script, library.dli_fname, EXTERN_BOOK_BIN},
                           dir.path(), "EXIT\n", 30000)
            .out;
    };
    std::string refused = run("host 127.0.0.1\nport 1\ntls starttls\n");
    if (refused.rfind("hidden\n", 0) != 0) GTEST_SKIP() << "no private mount namespace here (needs CAP_SYS_ADMIN)";
    EXPECT_EQ(refused.rfind("hidden\n-failure TLS library unavailable (", 0), 0u) << refused;
    EXPECT_NE(refused.find("libssl.so"), std::string::npos) << refused;
    EXPECT_EQ(run("host 127.0.0.1\nport 1\n"),
              "hidden\n" + startup_failure("127.0.0.1:1", "Connection to Socket Failed."));
}
