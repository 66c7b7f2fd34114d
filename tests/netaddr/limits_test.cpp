// Every result stays inside its limit whatever the input: long texts,
// unbalanced quotes and brackets, stray escape bytes.
#include "netaddr/net_fns.h"

#include "resolver_spy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

size_t len(const char *s) { return s ? std::strlen(s) : 0; }

void check_limits(const std::string &input) {
    const char *in = input.c_str();
    EXPECT_LE(len(net_remove_qoute(in)), 493u);
    EXPECT_LE(len(net_extra_only(in)), 493u);
    EXPECT_LE(len(net_user_only(in)), 511u);
    EXPECT_LE(len(net_host_only(in)), 511u);
    EXPECT_LE(len(net_extra_only_old(in)), 511u);
    EXPECT_LE(len(net_addr_only(in)), 1023u);
    EXPECT_LE(len(net_addr_port(in)), 1023u);
    EXPECT_GE(net_port_only(in), 0);
    EXPECT_LE(len(convert_to_name(in)), 511u);
    EXPECT_LE(len(convert_to_ip(in)), 511u);
    EXPECT_LE(len(convert_ip_to_name(in)), 511u);
    EXPECT_LE(len(convert_name_to_ip(in)), 511u);

    std::string list = input;
    char *sep = net_addr_seperator(&list[0]);
    if (sep) {
        EXPECT_GE(sep, &list[0]);
        EXPECT_LT(sep, &list[0] + list.size());
        EXPECT_EQ(*sep, ',');
    }
}

}  // namespace

TEST(NetAddrLimits, LongAndBrokenInputStaysInside) {
    spy = resolver_spy();
    spy.offline = true;  // random host names must never reach a name server

    const std::string fills[] = {"a", "@", "\"", "<", ">", "\x1b", " ", ":9", "_", "a@",
                                 "&lt;", "\\", "a@b:", "\"a\" <", "x@y@z ", "1.2."};
    for (const std::string &fill : fills) {
        for (size_t n : {1u, 100u, 492u, 493u, 494u, 511u, 512u, 513u, 1023u, 1024u, 3000u}) {
            std::string text;
            while (text.size() < n) text += fill;
            check_limits(text);
            check_limits("\"" + std::string(n, 'n') + "\" <" + std::string(n, 'u') + "@" +
                         std::string(n, 'h') + ":25> (" + std::string(n, 'c') + ")");
            check_limits(std::string(n, 'u') + "@" + std::string(n, 'h') + " " + text);
        }
    }

    std::mt19937 random(8);
    const char alphabet[] = "ab@@<>[]\"\" \t,;:19_&lt;\\/#\x1b()\r\n";
    for (int i = 0; i < 3000; i++) {
        std::string text(random() % 1200, ' ');
        for (char &c : text) c = alphabet[random() % (sizeof alphabet - 1)];
        check_limits(text);
    }
    spy = resolver_spy();
}
