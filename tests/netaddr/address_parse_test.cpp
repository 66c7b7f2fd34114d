// Taking mail-style addresses apart, and the limits every result keeps
// whatever the input.
#include "netaddr/net_fns.h"

#include "resolver_spy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::string str(const char *s) { return s ? s : "(null)"; }

TEST(NetAddr, SeparatorSkipsQuotesAndEscapes) {
    EXPECT_EQ(net_addr_seperator(nullptr), nullptr);
    struct {
        std::string list;
        int at;  // -1: none
    } cases[] = {
        {"jo@mail", -1}, {"\"Smith, Jo\" <jo@mail>, ann@mail", 21}, {"jo@mail; ann@mail", 7},
        {"&lt;jo@mail", 3},   // the ';' of an entity splits too
        {"\"a\\\",\",x", 6},  // the backslash steps over the quote after it
        {"\"a\\\\\",x", 5},    {"\x1b$B,;\x1b(B a@b; c@d", 12}, {"\"Smith, Jo <jo@mail>, ann@mail", -1}, {"\"abc\\", -1},
    };
    for (auto &c : cases) {
        char *sep = net_addr_seperator(&c.list[0]);
        EXPECT_EQ(sep ? sep - &c.list[0] : -1, c.at) << c.list;
        EXPECT_EQ(sep ? *sep : ',', ',');  // a semicolon is overwritten
    }
}

TEST(NetAddr, CleanedAddressAndItsParts) {
    const char *cleaned[][2] = {
        {"\"Jo Smith\" <jo@mail>", "jo@mail"}, {"a <b <c@d>", "c@d"}, {"a <b@c> <d@e>", "b@c"},
        {"jo > x@y", "jo > x@y"}, {"jo\x1b$B<x>\"\x1b(B@mail", "jo(B@mail"}, {"jo@mail \"open <x@y>", "jo@mail "},
    };
    for (const auto &c : cleaned)
        EXPECT_EQ(str(net_remove_qoute(c[0])), c[1]) << c[0];
    EXPECT_EQ(net_remove_qoute(nullptr), nullptr);

    const char *parts[][4] = {  // address, user, host, port
        {"\"Jo Smith\" <&lt;jo@mail:25>", "jo", "mail", "25"}, {"&LT;&Gt;jo@mail&gt;", "jo", "mail", "0"},
        {"see [jo@mail]", "jo", "mail", "0"}, {"a@b@c", "a@b", "c", "0"},  // of two at signs the second splits
        {"jo@mail_srv_1.example:x", "jo", "mail.srv.1.example", "0"}, {"mail:110", nullptr, nullptr, "110"},
        {"&lt;@mail", nullptr, "mail", "0"}, {"jo@:25", "jo", nullptr, "25"}, {"jo@mail/x:25", "jo", "mail", "0"},
        {"jo@mail,x:25", "jo", "mail", "25"},  // the port search goes on past ','
        {"jo@mail:25x", "jo", "mail", "25"}, {"jo@mail:2147483647", "jo", "mail", "2147483647"},
        {"jo@mail:2147483648", "jo", "mail", "0"}, {nullptr, nullptr, nullptr, "0"},
    };
    for (const auto &p : parts) {
        EXPECT_EQ(str(net_user_only(p[0])) + " " + str(net_host_only(p[0])) + " " +
                      std::to_string(net_port_only(p[0])),
                  str(p[1]) + " " + str(p[2]) + " " + p[3]);
    }
    for (const char *end : {" x", "#x", "&x", "\\x", "\r\n", "\"x", "]", ">"})
        EXPECT_EQ(str(net_host_only(("jo@mail" + std::string(end)).c_str())), "mail") << end;
    EXPECT_EQ(str(net_addr_only("\"Jo\" <jo@mail_1:25>")), "jo@mail.1");
    EXPECT_EQ(str(net_addr_port("\"Jo\" <jo@mail_1:25>")) + str(net_addr_port("jo@mail:0")), "jo@mail.1:25jo@mail");
    for (const char *bad : {(const char *)nullptr, "jo", "@mail", "jo@"})
        EXPECT_EQ(str(net_addr_only(bad)) + str(net_addr_port(bad)), "(null)(null)") << str(bad);
    const char *user = net_user_only("ann@x");  // each function keeps its own buffer
    net_host_only("bob@y");
    net_remove_qoute("dan@w");
    EXPECT_EQ(str(user), "ann");

    const char *extras[][3] = {  // address, net_extra_only, net_extra_only_old
        {"\"Jo Smith\" <jo@mail>", "Jo Smith", "Jo Smith"}, {"\t Jo \t<jo@mail>  ", "Jo", "\t Jo"},
        {"jo@mail (Jo Smith)", "(Jo Smith)", "Jo Smith"}, {"Jo jo@mail   (x)", "Jo (x)", "Jo (x"},
        {"a@b@c (x)", "(x)", "x"},  // a blank only after kept text
        {"Jo <a<b>c> x", "Jo  x", "Jo <a<b>c> x"}, {"\"a <b>, c\" <jo@mail>", "a <b>, c", "a <b>, c"},
        {"Jo \x1bX<Y\x1b <jo@mail>", "Jo \x1bX<Y\x1b", "Jo \x1bX<Y\x1b"}, {"  <jo@mail:25>  ", nullptr, "<jo@mail:25>  "},
        {"   no address", nullptr, "no address"}, {"\"\" <jo@mail>", nullptr, "\"\" <jo@mail>"},
        {"", nullptr, nullptr}, {nullptr, nullptr, nullptr},
    };
    for (const auto &c : extras)
        EXPECT_EQ(str(net_extra_only(c[0])) + "|" + str(net_extra_only_old(c[0])), str(c[1]) + "|" + str(c[2]));
}

// Every result stays inside its limit on long texts at the buffer sizes,
// unbalanced quotes and brackets, stray escape bytes. Look-ups answer "not
// found" offline.
TEST(NetAddr, LongAndBrokenInputStaysInside) {
    spy = resolver_spy();
    spy.offline = true;
    auto len = [](const char *s) { return s ? std::strlen(s) : 0; };
    for (std::string fill : {"a", "@", "\"", "<", "\x1b", " ", ":9", "_", "&lt;", "\\", "a@b:", "\"a\" <", "x@y@z "}) {
        for (size_t n : {492u, 493u, 494u, 511u, 512u, 1023u, 1024u, 3000u}) {
            std::string text;
            while (text.size() < n)
                text += fill;
            std::string u(n, 'u'), h(n, 'h');
            for (const std::string &input : {text, "\"" + u + "\" <" + u + "@" + h + ":25> (" + u + ")", u + "@" + h + " " + text}) {
                const char *in = input.c_str();
                ASSERT_LE(std::max(len(net_remove_qoute(in)), len(net_extra_only(in))), 493u);
                for (const char *part : {net_user_only(in), net_host_only(in), net_extra_only_old(in),
                                         convert_to_name(in), convert_to_ip(in), convert_ip_to_name(in),
                                         convert_name_to_ip(in)})
                    ASSERT_LE(len(part), 511u);
                ASSERT_LE(std::max(len(net_addr_only(in)), len(net_addr_port(in))), 1023u);
                ASSERT_GE(net_port_only(in), 0);
            }
        }
    }
    spy = resolver_spy();
}

}  // namespace
