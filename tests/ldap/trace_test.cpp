// Trace files: names, modes, paths refused, printing and masked credentials.
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
std::string trace_one(const std::string &octets)
{
    TempDir dir;
    TestHandle ldap;
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_log_data(&ldap, "OUT", decode_message(octets).get(), nullptr);
    std::vector<std::string> names = files_in(dir);
    return names.size() == 1 ? read_file(dir.file(names[0])) : "files: " + std::to_string(names.size());
}

}  // namespace

TEST(Trace, FilesNamesAndModes)
{
    TempDir dir, other;
    TestHandle ldap;
    List message = decode_message(hex_bytes("30 0c 02 01 01 61 07 0a 01 00 04 00 04 00"));
    ldap_log_data(&ldap, "IN", message.get(), nullptr);  // no trace directory
    ldap_set_log(&ldap, dir.path().c_str());
    ldap_set_log(&ldap, ldap.log_dir);  // its own setting handed back
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    ldap_log_data(&ldap, "IN", message.get(), nullptr);
    std::vector<std::string> names = files_in(dir);
    ASSERT_EQ(2u, names.size());  // same ID and direction, two files
    for (const std::string &name : names) {
        EXPECT_EQ("LDAP_1-IN_", name.substr(0, 10)) << name;
        EXPECT_EQ(0u, read_file(dir.file(name))
                          .find("Control\n-------\n NO CONTROL\n\nCommand\n-------\n"
                                "Application: 1 - LDAP_BIND_RESPONCE\n         ID: 1\n"));
        struct stat info;
        EXPECT_EQ(0600u, stat(dir.file(name).c_str(), &info) == 0 ? info.st_mode & 0777 : 0);
    }
    // A failed decode is traced like a missing message.
    EXPECT_EQ("Control\n-------\n NO CONTROL\n\nCommand\n-------\n NO CMD\n", trace_one(hex_bytes("30 03 07 01 00")));
    // A list with an empty slot (no element in it) prints its count alone.
    lresult holes;
    lresult_init(&holes);
    static_add_empty(&holes.items);
    EXPECT_EQ(" No Entries: 1\n\n-------------------------------------\n", printed(&holes));
    lresult_clear(&holes);

    // log_file refuses rather than cut a path over 512 octets, and needs an
    // existing directory (never the working one).
    char path[512];
    for (const std::string &bad : {std::string(500, 'd'), other.file("missing"), std::string()})
        EXPECT_EQ(nullptr, log_file(bad.c_str(), "stem", path)) << bad;
    EXPECT_EQ(nullptr, log_file(other.path().c_str(), std::string(505, 's').c_str(), path));
    EXPECT_EQ(nullptr, log_file(other.path().c_str(), nullptr, path));
    EXPECT_TRUE(files_in(other).empty());
}

// What a trace shows of a message, and what it never shows: the password
// "secret" of a simple bind as cn=x; the credentials ("pw") of a SASL bind,
// whose mechanism shows; the values ("hunter") of a password attribute in a
// modify, an add or a compare. The directory's texts cannot write lines or
// terminal controls of their own: a diagnostic "x\n ID: 7\x1b" shows as
// escaped octets.
TEST(Trace, PrintingAndMaskedCredentials)
{
    auto attribute = [](const char *type, const char *value) {
        return ber_element(0x30, ber_element(0x04, type) + ber_element(0x31, ber_element(0x04, value)));
    };
    auto change = [&](const char *type, const char *value) {
        return ber_element(0x30, hex_bytes("0a 01 02") + attribute(type, value));
    };
    auto request = [](int id, int tag, const std::string &fields) {
        return ldap_message(id, ber_element(tag, ber_element(0x04, "cn=a") + ber_element(0x30, fields)));
    };
    const std::pair<std::string, std::vector<const char *>> rows[] = {
        {hex_bytes("30 16 02 01 01 60 11 02 01 03 04 04 63 6E 3D 78 80 06 73 65 63 72 65 74"),
         {"                INTEGER (3)\n"
          "  01 -  Type: 04  (size=4) (content=-1)\n"
          "                OCTET_STR (cn=x)\n"
          "  02 -  Type: 80  (size=6) (content=0)\n"
          "                CONTECT_SPECIFIC\n"
          "          Data: ********\n"}},
        {hex_bytes("30 1A 02 01 02 60 15 02 01 03 04 00 A3 0E 04 05 50 4C 41 49 4E 04 05 00 75 00 70 77"),
         {"OCTET_STR (PLAIN)", "OCTET_STR (********)"}},
        {request(3, 0x66, change("userPassword", "hunter1") + change("mail", "m@x")), {"OCTET_STR (m@x)"}},
        {request(4, 0x68, attribute("USERPASSWORD;binary", "hunter2") + attribute("unicodePwd", "hunter3")),
         {"OCTET_STR (********)"}},
        {request(5, 0x6e, ber_element(0x04, "authPassword") + ber_element(0x04, "hunter4")), {"OCTET_STR (********)"}},
        {hex_bytes("30 15 02 01 01 61 10 0a 01 00 04 00 04 09 78 0a 20 49 44 3a 20 37 1b"),
         {"OCTET_STR (x<10> ID: 7<27>)\n"}},
    };
    for (const auto &[octets, shown] : rows) {
        std::string file = trace_one(octets);
        for (const char *text : shown) EXPECT_NE(std::string::npos, file.find(text)) << file;
        for (const char *secret : {"secret", "pw", "hunter"}) EXPECT_EQ(std::string::npos, file.find(secret)) << file;
    }
}
