#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "common/tempdir.h"
#include "ldap_testing.h"

namespace {

std::vector<std::string> files_in(const TempDir &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Traces one message into a fresh directory and returns the file's content.
std::string trace_one(const char *hex_text)
{
    TempDir dir;
    ldap_handle ldap;
    ldap_init(&ldap, nullptr, nullptr);
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, "OUT", decode_message(hex_bytes(hex_text)).get(), nullptr);
    ldap_set_log(&ldap, nullptr);
    std::vector<std::string> names = files_in(dir);
    return names.size() == 1 ? read_file(dir.file(names[0])) : "files: " + std::to_string(names.size());
}

}  // namespace

TEST(Trace, FilesNamesAndModes)
{
    TempDir dir;
    ldap_handle ldap;
    ldap_init(&ldap, nullptr, nullptr);
    List message = decode_message(hex_bytes("30 0c 02 01 01 61 07 0a 01 00 04 00 04 00"));
    ldap_log_data(&ldap, "IN", message.get(), nullptr);  // no trace directory
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    std::vector<std::string> names = files_in(dir);
    ASSERT_EQ(2u, names.size());  // same ID and direction, two files
    for (const std::string &name : names) {
        EXPECT_EQ("LDAP_1-IN_", name.substr(0, 10));
        EXPECT_EQ(16u, name.size());
        EXPECT_EQ("Control\n-------\n NO CONTROL\n\nCommand\n-------\n"
                  "Application: 1 - LDAP_BIND_RESPONCE\n"
                  "         ID: 1\n"
                  "      Error: NULL\n"
                  " No Entries: 3\n"
                  "\n"
                  "  00 -  Type: 0A  (size=1) (content=-1)\n"
                  "                ENUMERATED (0)\n"
                  "  01 -  Type: 04  (size=0) (content=-1)\n"
                  "                OCTET_STR ()\n"
                  "  02 -  Type: 04  (size=0) (content=-1)\n"
                  "                OCTET_STR ()\n"
                  "-------------------------------------\n",
                  read_file(dir.file(name)));
        struct stat info;
        EXPECT_EQ(0, stat(dir.file(name).c_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 0777);
    }

    // A failed decode is traced like a missing message.
    TempDir other;
    ldap_set_log(&ldap, other.path().c_str());
    lresult *none = nullptr;
    ldap_log_data(&ldap, "IN", LRESULT_INVALID, &none);
    names = files_in(other);
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ("LDAP_---IN_", names[0].substr(0, 11));
    EXPECT_EQ("Control\n-------\n\nCommand\n-------\n NO CMD\n", read_file(other.file(names[0])));
    ldap_set_log(&ldap, nullptr);
    EXPECT_EQ(nullptr, ldap.log_dir);

    // log_file refuses rather than cut a path over 512 octets, and needs an
    // existing directory (never the working one).
    char path[512];
    FILE *file = log_file(other.path().c_str(), "stem", path);
    ASSERT_NE(nullptr, file);
    fclose(file);
    EXPECT_EQ(other.path() + "/stem_", std::string(path, strlen(path) - 6));
    EXPECT_EQ(nullptr, log_file(other.path().c_str(), std::string(505, 's').c_str(), path));
    EXPECT_EQ(nullptr, log_file(std::string(500, 'd').c_str(), "stem", path));
    EXPECT_EQ(nullptr, log_file(other.file("missing").c_str(), "stem", path));
    EXPECT_EQ(nullptr, log_file(nullptr, "stem", path));
    EXPECT_EQ(nullptr, log_file("", "stem", path));
    EXPECT_EQ(2u, files_in(other).size());
}

TEST(Trace, BindCredentialsAreMasked)
{
    // Simple bind as cn=x with the password "secret".
    std::string file = trace_one("30 16 02 01 01 60 11 02 01 03 04 04 63 6E 3D 78 80 06 73 65 63 72 65 74");
    EXPECT_NE(std::string::npos, file.find("Application: 0 - LDAP_BIND_REQUEST\n"));
    EXPECT_NE(std::string::npos, file.find("  02 -  Type: 80  (size=6) (content=0)\n"
                                           "                CONTECT_SPECIFIC\n"
                                           "          Data: ********\n"));
    EXPECT_EQ(std::string::npos, file.find("secret"));

    // SASL: the mechanism shows, the credentials do not.
    file = trace_one("30 1A 02 01 02 60 15 02 01 03 04 00 A3 0E 04 05 50 4C 41 49 4E 04 05 00 75 00 70 77");
    EXPECT_EQ(std::string::npos, file.find("<117>"));
    EXPECT_EQ(std::string::npos, file.find("pw"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (PLAIN)"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (********)"));
}

TEST(Trace, ListPrinting)
{
    // An OCTET STRING holding BER is printed decoded, one holding junk says
    // so; a tagged text prints as data.
    List list = decode_element(hex_bytes("30 11 04 07 30 05 02 01 00 04 00 04 02 07 00 87 02 63 6E"));
    TempDir dir;
    FILE *out = fopen(dir.file("out").c_str(), "w");
    lresult_log(list.get(), out, "P:");
    lresult_log(LRESULT_INVALID, out, "P:");
    lresult_log(list.get(), nullptr, "P:");
    fclose(out);
    std::string printed = read_file(dir.file("out"));
    for (const char *part : {"P:          Data: 0<5><2><1><0><4><0>\n"
                             "P:      No Entries: 2\n"
                             "P:     \n"
                             "P:       00 -  Type: 02  (size=1) (content=-1)\n"
                             "P:                     INTEGER (0)\n",
                             "P:          Data: <7><0>\nP:     (dresult = -1)\n",
                             "P:  02 -  Type: 87  (size=2) (content=7)\n"
                             "P:                CONTECT_SPECIFIC\nP:          Data: cn\n"})
        EXPECT_NE(std::string::npos, printed.find(part)) << printed;
}
