#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "codec_util.h"
#include "common/fake_server.h"
#include "common/tempdir.h"

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
std::string trace_one(const char *hex_text, const char *direction)
{
    TempDir dir;
    ldap_handle ldap;
    ldap_init(&ldap, nullptr, nullptr);
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, direction, decode_message(hex_bytes(hex_text)).get(), nullptr);
    ldap_set_log(&ldap, nullptr);
    std::vector<std::string> names = files_in(dir);
    return names.size() == 1 ? read_file(dir.file(names[0])) : "files: " + std::to_string(names.size());
}

const char BIND_RESPONSE[] = "30 0c 02 01 01 61 07 0a 01 00 04 00 04 00";
const char BIND_RESPONSE_TRACE[] =
    "Control\n"
    "-------\n"
    " NO CONTROL\n"
    "\n"
    "Command\n"
    "-------\n"
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
    "-------------------------------------\n";

}  // namespace

TEST(Trace, FilesNamesAndModes)
{
    TempDir dir;
    ldap_handle ldap;
    ldap_init(&ldap, nullptr, nullptr);
    List message = decode_message(hex_bytes(BIND_RESPONSE));
    ldap_log_data(&ldap, "IN", message.get(), nullptr);  // no trace directory
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    std::vector<std::string> names = files_in(dir);
    ASSERT_EQ(2u, names.size());  // same ID and direction, two files
    for (const std::string &name : names) {
        EXPECT_EQ(16u, name.size());
        EXPECT_EQ("LDAP_1-IN_", name.substr(0, 10));
        EXPECT_EQ(BIND_RESPONSE_TRACE, read_file(dir.file(name)));
        struct stat info;
        EXPECT_EQ(0, stat(dir.file(name).c_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 0777);
    }

    // A failed decode is traced like a missing message; controls print.
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

    // log_file: the path left behind; refused rather than cut when a stem or
    // directory is too long for 512 octets; a missing or no directory.
    char path[512];
    FILE *file = log_file(other.path().c_str(), "stem", path);
    ASSERT_NE(nullptr, file);
    fclose(file);
    EXPECT_EQ(other.path() + "/stem_", std::string(path, strlen(path) - 6));
    EXPECT_EQ(nullptr, log_file(other.path().c_str(), std::string(505, 's').c_str(), path));
    EXPECT_EQ(nullptr, log_file(std::string(500, 'd').c_str(), "stem", path));
    EXPECT_EQ(nullptr, log_file(other.file("missing").c_str(), "stem", path));
    EXPECT_EQ(nullptr, log_file(nullptr, "stem", path));  // not the working directory
    EXPECT_EQ(nullptr, log_file("", "stem", path));
    EXPECT_EQ(2u, files_in(other).size());
}

TEST(Trace, BindCredentialsAreMasked)
{
    // Simple bind as cn=x with the password "secret".
    std::string file = trace_one(
        "30 16 02 01 01 60 11 02 01 03 04 04 63 6E 3D 78 80 06 73 65 63 72 65 74", "OUT");
    EXPECT_NE(std::string::npos, file.find("Application: 0 - LDAP_BIND_REQUEST\n"));
    EXPECT_NE(std::string::npos, file.find("  02 -  Type: 80  (size=6) (content=0)\n"
                                           "                CONTECT_SPECIFIC\n"
                                           "          Data: ********\n"));
    EXPECT_EQ(std::string::npos, file.find("secret"));

    // SASL credentials (mechanism, then credentials) are masked too.
    file = trace_one("30 1A 02 01 02 60 15 02 01 03 04 00 A3 0E 04 05 50 4C 41 49 4E"
                     " 04 05 00 75 00 70 77",
                     "IN");
    EXPECT_EQ(std::string::npos, file.find("<117>"));
    EXPECT_EQ(std::string::npos, file.find("pw"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (PLAIN)"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (********)"));
}

TEST(Trace, ListPrinting)
{
    // A binary OCTET STRING holding BER, one holding junk, and a tagged text.
    List list = decode_element(hex_bytes("30 11 04 07 30 05 02 01 00 04 00 04 02 07 00 87 02 63 6E"));
    ASSERT_TRUE(list && !is_invalid(list));
    list->application = -1;
    TempDir dir;
    std::string path = dir.file("out");
    FILE *out = fopen(path.c_str(), "w");
    lresult_log(list.get(), out, "P:");
    lresult_log(LRESULT_INVALID, out, "P:");
    lresult_log(list.get(), nullptr, "P:");
    fclose(out);
    EXPECT_EQ("P:Application: -1 - <unknown type>\n"
              "P:         ID: 0\n"
              "P:      Error: NULL\n"
              "P: No Entries: 3\n"
              "P:\n"
              "P:  00 -  Type: 04  (size=7) (content=-1)\n"
              "P:                OCTET_STR (0\x05\x02\x01)\n"
              "P:          Data: 0<5><2><1><0><4><0>\n"
              "P:      No Entries: 2\n"
              "P:     \n"
              "P:       00 -  Type: 02  (size=1) (content=-1)\n"
              "P:                     INTEGER (0)\n"
              "P:       01 -  Type: 04  (size=0) (content=-1)\n"
              "P:                     OCTET_STR ()\n"
              "P:     -------------------------------------\n"
              "P:  01 -  Type: 04  (size=2) (content=-1)\n"
              "P:                OCTET_STR (\x07)\n"
              "P:          Data: <7><0>\n"
              "P:     (dresult = -1)\n"
              "P:  02 -  Type: 87  (size=2) (content=7)\n"
              "P:                CONTECT_SPECIFIC\n"
              "P:          Data: cn\n"
              "P:-------------------------------------\n",
              read_file(path));
}
