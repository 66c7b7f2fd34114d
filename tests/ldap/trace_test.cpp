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

namespace fs = std::filesystem;

std::vector<std::string> files_in(const TempDir &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Traces one message into a fresh directory and returns the file's content.
std::string trace_one(const std::string &octets, const char *direction, std::string *name,
                      lresult **controls = nullptr)
{
    TempDir dir;
    ldap_handle ldap;
    ldap_init(&ldap, nullptr, nullptr);
    ldap_set_log(&ldap, dir.path().c_str());
    List message = decode_message(octets);
    ldap_log_data(&ldap, direction, message.get(), controls);
    ldap_set_log(&ldap, nullptr);
    std::vector<std::string> names = files_in(dir);
    if (names.size() != 1)
        return "files: " + std::to_string(names.size());
    *name = names[0];
    struct stat info;
    if (stat(dir.file(names[0]).c_str(), &info) != 0 || (info.st_mode & 0777) != 0600)
        return "bad mode";
    return read_file(dir.file(names[0]));
}

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

TEST(Trace, BindResponseFile)
{
    std::string name;
    EXPECT_EQ(BIND_RESPONSE_TRACE,
              trace_one(hex_bytes("30 0c 02 01 01 61 07 0a 01 00 04 00 04 00"), "IN", &name));
    ASSERT_EQ(16u, name.size());
    EXPECT_EQ("LDAP_1-IN_", name.substr(0, 10));
}

TEST(Trace, BindPasswordIsMasked)
{
    // Simple bind as cn=x with the password "secret".
    std::string name;
    std::string file = trace_one(
        hex_bytes("30 16 02 01 01 60 11 02 01 03 04 04 63 6E 3D 78 80 06 73 65 63 72 65 74"),
        "OUT", &name);
    EXPECT_EQ("LDAP_1-OUT_", name.substr(0, 11));
    EXPECT_EQ("Control\n"
              "-------\n"
              " NO CONTROL\n"
              "\n"
              "Command\n"
              "-------\n"
              "Application: 0 - LDAP_BIND_REQUEST\n"
              "         ID: 1\n"
              "      Error: NULL\n"
              " No Entries: 3\n"
              "\n"
              "  00 -  Type: 02  (size=1) (content=-1)\n"
              "                INTEGER (3)\n"
              "  01 -  Type: 04  (size=4) (content=-1)\n"
              "                OCTET_STR (cn=x)\n"
              "  02 -  Type: 80  (size=6) (content=0)\n"
              "                CONTECT_SPECIFIC\n"
              "          Data: ********\n"
              "-------------------------------------\n",
              file);

    // SASL credentials (mechanism, then credentials) are masked too.
    file = trace_one(hex_bytes("30 1A 02 01 02 60 15 02 01 03 04 00 A3 0E 04 05 50 4C 41 49 4E"
                               " 04 05 00 75 00 70 77"),
                     "IN", &name);
    EXPECT_EQ(std::string::npos, file.find("<117>"));
    EXPECT_EQ(std::string::npos, file.find("pw"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (PLAIN)"));
    EXPECT_NE(std::string::npos, file.find("OCTET_STR (********)"));
}

TEST(Trace, FilesAndOddMessages)
{
    TempDir dir;
    ldap_handle ldap;
    ldap_init(&ldap, nullptr, nullptr);
    List message = decode_message(hex_bytes("30 0c 02 01 01 61 07 0a 01 00 04 00 04 00"));

    ldap_log_data(&ldap, "IN", message.get(), nullptr);  // no trace directory
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    std::vector<std::string> names = files_in(dir);
    ASSERT_EQ(2u, names.size());  // same ID and direction, two files
    EXPECT_NE(names[0], names[1]);
    for (const std::string &n : names)
        EXPECT_EQ(BIND_RESPONSE_TRACE, read_file(dir.file(n)));

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
    ldap_set_log(nullptr, "x");
    ldap_log_data(nullptr, "IN", message.get(), nullptr);
}

TEST(Trace, LogFileCreation)
{
    TempDir dir;
    char path[512];
    FILE *file = log_file(dir.path().c_str(), "stem", path);
    ASSERT_NE(nullptr, file);
    fclose(file);
    std::string made = path;
    EXPECT_EQ(dir.path() + "/stem_", made.substr(0, made.size() - 6));
    EXPECT_TRUE(fs::exists(made));

    // Refused rather than cut: a stem or directory too long for 512 octets.
    EXPECT_EQ(nullptr, log_file(dir.path().c_str(), std::string(505, 's').c_str(), path));
    EXPECT_EQ(nullptr, log_file(std::string(500, 'd').c_str(), "stem", path));
    // A directory that does not exist.
    EXPECT_EQ(nullptr, log_file(dir.file("missing").c_str(), "stem", path));
    EXPECT_EQ(1u, files_in(dir).size());
}

TEST(Trace, ListPrinting)
{
    // A binary OCTET STRING holding BER, one holding junk, and a tagged text.
    std::string octets = hex_bytes("30 11 04 07 30 05 02 01 00 04 00 04 02 07 00 87 02 63 6E");
    List list(ldap_decode_data_input(nullptr, reinterpret_cast<const unsigned char *>(octets.data()),
                                     static_cast<int>(octets.size())));
    ASSERT_TRUE(list && !is_invalid(list));
    list->application = -1;
    TempDir dir;
    std::string path = dir.file("out");
    FILE *out = fopen(path.c_str(), "w");
    lresult_log(list.get(), out, "P:");
    lresult_log(LRESULT_INVALID, out, "P:");
    lresult_log(nullptr, out, "P:");
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
