// Server lists of the "host" setting: accepted forms and refused entries.
#include <string>

#include <gtest/gtest.h>

#include "addressbook/extern_book.h"

TEST(BookServers, AcceptedAndRefusedValues) {
    const char *const KINDS[] = {"plain", "ldap", "ldaps", "srv"};
    const struct {
        const char *value, *expected;
    } rows[] = {
        // One name or address: as written, with the configured port.
        {"Ldap.Example.COM", "plain Ldap.Example.COM:389"},
        {"127.1", "plain 127.1:389"},
        {"", "plain :389"},
        {"a:1, b:65535\t[::1]:636,,::1 [fe80::1%lo]",
         "plain a:1 plain b:65535 plain ::1:636 plain ::1:389 plain fe80::1%lo:389"},
        {"ldap://h LDAPS://h ldaps://[::1]:1/dc=x??sub srv:Example.com ldap://h:2/",
         "ldap h:389 ldaps h:636 ldaps ::1:1 srv Example.com:0 ldap h:2"},
        {"a a:65536", "bad host or port in server entry \"a:65536\""},
        {"a:12x", "bad host or port in server entry \"a:12x\""},
        {"a:0", "bad host or port in server entry \"a:0\""},
        {"a:", "bad host or port in server entry \"a:\""},
        {":389", "bad host or port in server entry \":389\""},
        {"[::1", "bad host or port in server entry \"[::1\""},
        {"[::1]389", "bad host or port in server entry \"[::1]389\""},
        {"[]:389", "bad host or port in server entry \"[]:389\""},
        {"ldap:///dc=x", "bad host or port in server entry \"ldap:///dc=x\""},
        {"http://h", "unknown scheme in server entry \"http://h\""},
        {"srv:", "bad SRV domain in server entry \"srv:\""},
        {"srv:a.com:389", "bad SRV domain in server entry \"srv:a.com:389\""},
    };
    book_server_list list = {};
    for (const auto &row : rows) {
        std::string got;
        if (book_servers_parse(&list, row.value, 389))
            for (int i = 0; i < list.count; i++)
                got += std::string(i ? " " : "") + KINDS[list.servers[i].kind] + " " + list.servers[i].host +
                       ":" + std::to_string(list.servers[i].port);
        else
            got = list.error + std::string(list.count ? " (not emptied)" : "");
        EXPECT_EQ(got, row.expected) << row.value;
    }
    book_servers_clear(&list);
}
