// The shared test fixtures themselves: the private slapd serves the test
// data, survives a restart on the same port, and the fake server plays its
// script.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/fake_server.h"
#include "common/slapd.h"

TEST(SlapdFixture, ServesDataAndRestarts)
{
    Slapd server;
    ASSERT_TRUE(server.start()) << server.error();
    auto dns = server.search_dns("ou=People,dc=example,dc=com", "one", "(mail=*)");
    EXPECT_EQ(5u, dns.size());
    EXPECT_EQ(1u, server.search_dns("dc=example,dc=com", "sub", "(sn=M\xc3\xbcller)").size());
    EXPECT_EQ(0, server.ldapmodify("dn: cn=Bob Baker,ou=People,dc=example,dc=com\n"
                                   "changetype: modify\nreplace: title\ntitle: Chief\n",
                                   nullptr));
    int port = server.port();
    ASSERT_TRUE(server.restart()) << server.error();
    EXPECT_EQ(port, server.port());
    EXPECT_EQ(1u, server.search_dns("dc=example,dc=com", "sub", "(title=Chief)").size());
}

TEST(FakeServerFixture, PlaysScript)
{
    FakeServer fake;
    fake.read_request()
        .reply([](const std::string &req) { return ldap_result_bytes(0x61, ber_message_id(req), 0); })
        .close();
    fake.start();
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(fake.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr));
    std::string bind = hex_bytes("30 0c 02 01 07 60 07 02 01 03 04 00 80 00");
    ASSERT_EQ(14, write(fd, bind.data(), bind.size()));
    char buf[64];
    std::string got;
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        got.append(buf, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(hex_bytes("30 0c 02 01 07 61 07 0a 01 00 04 00 04 00"), got);
    fake.wait();
    ASSERT_EQ(1u, fake.requests().size());
    EXPECT_EQ(bind, fake.requests()[0]);
}
