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
    TestHandle ldap;
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, "OUT", decode_message(hex_bytes(hex_text)).get(), nullptr);
    std::vector<std::string> names = files_in(dir);
    return names.size() == 1 ? read_file(dir.file(names[0]))
                             : "files: " + std::to_string(names.size());
}

}  // namespace

TEST(Trace, FilesNamesAndModes)
{
    TempDir dir, other;
    TestHandle ldap;
    List message = decode_message(hex_bytes("30 0c 02 01 01 61 07 0a 01 00 04 00 04 00"));
    ldap_log_data(&ldap, "IN", message.get(), nullptr);  // no trace directory
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    std::vector<std::string> names = files_in(dir);
    ASSERT_EQ(2u, names.size());  // same ID and direction, two files
    for (const std::string &name : names) {
        EXPECT_EQ(16u, name.size());
        EXPECT_EQ("LDAP_1-IN_", name.substr(0, 10));
        EXPECT_EQ(0u, read_file(dir.file(name))
                          .find("Control\n-------\n NO CONTROL\n\nCommand\n-------\n"
                                "Application: 1 - LDAP_BIND_RESPONCE\n         ID: 1\n"));
        struct stat info;
        EXPECT_EQ(0, stat(dir.file(name).c_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 0777);
    }

    // A failed decode is traced like a missing message.
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
    for (const std::string &bad : {std::string(500, 'd'), other.file("missing"), std::string()})
        EXPECT_EQ(nullptr, log_file(bad.c_str(), "stem", path)) << bad;
    EXPECT_EQ(nullptr, log_file(other.path().c_str(), std::string(505, 's').c_str(), path));
    EXPECT_EQ(nullptr, log_file(nullptr, "stem", path));
    EXPECT_EQ(2u, files_in(other).size());
}

TEST(Trace, PrintingAndMaskedCredentials)
{
    // An OCTET STRING holding BER prints decoded, one holding junk says so;
    // a tagged text prints as data.
    List list =
        decode_element(hex_bytes("30 11 04 07 30 05 02 01 00 04 00 04 02 07 00 87 02 63 6E"));
    TempDir dir;
    FILE *out = fopen(dir.file("out").c_str(), "w");
    lresult_log(list.get(), out, "P:");
    lresult_log(LRESULT_INVALID, out, "P:");
    lresult_log(list.get(), nullptr, "P:");
    fclose(out);
    std::string printed = read_file(dir.file("out"));
    for (const char *part : {"P:  00 -  Type: 04  (size=7) (content=-1)\n"
                             "P:                OCTET_STR (0\x05\x02\x01)\n"
                             "P:          Data: 0<5><2><1><0><4><0>\n"
                             "P:      No Entries: 2\n"
                             "P:     \n"
                             "P:       00 -  Type: 02  (size=1) (content=-1)\n"
                             "P:                     INTEGER (0)\n",
                             "P:          Data: <7><0>\nP:     (dresult = -1)\n",
                             "P:  02 -  Type: 87  (size=2) (content=7)\n"
                             "P:                CONTECT_SPECIFIC\nP:          Data: cn\n"})
        EXPECT_NE(std::string::npos, printed.find(part)) << printed;

    // A simple bind as cn=x with the password "secret"; a SASL bind whose
    // mechanism shows and whose credentials do not.
    std::string file =
        trace_one("30 16 02 01 01 60 11 02 01 03 04 04 63 6E 3D 78 80 06 73 65 63 72 65 74");
    EXPECT_NE(std::string::npos, file.find("  02 -  Type: 80  (size=6) (content=0)\n"
                                           "                CONTECT_SPECIFIC\n"
                                           "          Data: ********\n"));
    EXPECT_EQ(std::string::npos, file.find("secret"));
    file = trace_one(
        "30 1A 02 01 02 60 15 02 01 03 04 00 A3 0E 04 05 50 4C 41 49 4E 04 05 00 75 00 70 77");
    EXPECT_EQ(std::string::npos, file.find("pw"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (PLAIN)"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (********)"));
}
