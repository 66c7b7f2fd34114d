// The command loop on arbitrary host input, against a scripted directory.
// Every line the loop takes (at most 1,023 octets, as its line reader cuts
// them) must get exactly one status line, up to EXIT, QUIT or BYE.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "common/fake_server.h"
#include "fuzz/common.h"

namespace {

std::string entry(int id, const std::string &dn, const LdapAttributes &more = {})
{
    LdapAttributes attributes = {{"cn", {"Jo Smith"}},
                                 {"MAIL", {"jo@example.com", "j.smith@example.com"}},
                                 {"telephoneNumber", {"+1 555 0100"}},
                                 {"objectClass", {"top", "inetOrgPerson"}}};
    attributes.insert(attributes.begin() + 1, more.begin(), more.end());
    return ldap_entry_bytes(id, dn, attributes);
}

// The entry named by base, its members in ranges of two ("member;range=0-1")
// from the one asked for in request: as many ranges as base has octets,
// modulo 5, the last ending in '*'; one that goes on a value too late when
// base holds "gap". A value's line break must not pass for a status line.
std::string ranged_entry(int id, const std::string &base, const std::string &request)
{
    size_t asked = request.rfind("member;range=");
    int low = asked == std::string::npos ? 0 : atoi(request.c_str() + asked + 13);
    bool last = low / 2 >= static_cast<int>(base.size() % 5);
    low += base.find("gap") != std::string::npos && low > 0;
    std::vector<std::string> values = {"m" + std::to_string(low)};
    if (!last) values.push_back("m\n-failure " + std::to_string(low + 1));
    std::string range = std::to_string(low) + "-" + (last ? "*" : std::to_string(low + 1));
    return entry(id, base, {{"member;range=" + range, values}});
}

// The directory: a bind succeeds; a search gets one entry named by its base
// (base-object scope) or three fixed ones, then success.
std::string reply(const std::string &request)
{
    int id = 0, tag = 0;
    std::string op, body, base, scope;
    size_t pos = 0;
    if (!ldap_message_parts(request, &id, &tag, &op)) return "";
    if (tag == 0x60) return ldap_result_bytes(0x61, id, 0);
    if (tag != 0x63 || !ber_next(op, &pos, &tag, &body)) return "";
    pos = 0;
    if (!ber_next(body, &pos, &tag, &base) || !ber_next(body, &pos, &tag, &scope)) return "";
    if (scope == std::string(1, '\0')) return ranged_entry(id, base, request) + ldap_result_bytes(0x65, id, 0);
    return entry(id, "cn=Jo Smith,ou=People,dc=example,dc=com") +
           entry(id, "cn=Smith\\2C John,ou=People,dc=example,dc=com") + entry(id, "uid=x\n!y,dc=example,dc=com") +
           ldap_result_bytes(0x65, id, 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    static FakeServer directory;
    directory.answer_all(reply).start();
    int port = directory.port();
    char path[] = "/tmp/fuzz_loop_XXXXXX";
    int fd = mkstemp(path);
    FILE *file = fd < 0 ? nullptr : fdopen(fd, "w");
    if (!port || !file) abort();
    fprintf(file,
            "host 127.0.0.1\nport %d\nbase_dn dc=example,dc=com\nscope LDAP_SCOPE_SUBTREE\n"
            "manager_dn cn=Manager,dc=example,dc=com\nmanager_pass secret\n"
            "field fullname STRING cn true\nfield email STRING mail true\n"
            "field phone STRING telephoneNumber false\nfield members STRING member false\n",
            port);
    fclose(file);
    if (ini_init(ini, &display_data_length) != 1 || ini_load(path, ini, &display_data_length) != 1 ||
        book_start(stdout) != 1)
        abort();
    remove(path);
    return 0;
}

namespace {

// The number of status lines the input calls for: one a line, up to EXIT,
// QUIT or BYE. A line of more than 1,023 characters before its line end
// (carriage returns aside) runs no command.
int expected_replies(const uint8_t *data, size_t size)
{
    int replies = 0;
    for (size_t pos = 0; pos < size;) {
        size_t end = pos;
        while (end < size && data[end] != '\n') end++;
        std::string line(reinterpret_cast<const char *>(data + pos), end - pos);
        pos = end + 1;
        replies++;
        if (line.size() > 1023 && line.find_first_not_of('\r', 1023) != std::string::npos) continue;
        line = line.c_str();  // the loop sees the line up to a zero octet
        while (!line.empty() && line.back() == '\r') line.pop_back();
        std::string word = line.substr(0, line.find(' '));
        for (const char *stop : {"EXIT", "QUIT", "BYE"})
            if (strcasecmp(word.c_str(), stop) == 0) return replies;
    }
    return replies;
}

int status_lines(const std::string &output)
{
    int count = 0;
    for (size_t pos = 0; pos < output.size();) {
        size_t end = output.find('\n', pos);
        if (end == std::string::npos) end = output.size();
        if (output.compare(pos, 8, "+success") == 0 || output.compare(pos, 8, "-failure") == 0) count++;
        pos = end + 1;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
    char *text = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&text, &length);
    if (!in || !out) abort();
    book_loop(in, out);
    fclose(in);
    fclose(out);
    std::string output(text, length);
    free(text);
    if (status_lines(output) != expected_replies(data, size)) abort();
    return 0;
}
