// Taking mail-style addresses apart: one TEST per function, then whole
// address lists as mail headers carry them.
#include "netaddr/net_fns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A result as a string; "(null)" for a null pointer.
std::string str(const char *s) { return s ? s : "(null)"; }

// The addresses of a list, split at each separator the way a caller does.
std::vector<std::string> split_list(std::string list) {
    std::vector<std::string> out;
    char *rest = &list[0];
    while (char *sep = net_addr_seperator(rest)) {
        *sep = 0;
        out.push_back(rest);
        rest = sep + 1;
    }
    out.push_back(rest);
    return out;
}

}  // namespace

TEST(NetAddrSeperator, FindsTheSeparatorOutsideQuotesAndEscapes) {
    EXPECT_EQ(net_addr_seperator(nullptr), nullptr);
    char single[] = "jo@mail";
    EXPECT_EQ(net_addr_seperator(single), nullptr);

    char quoted[] = "\"Smith, Jo\" <jo@mail>, ann@mail";
    char *sep = net_addr_seperator(quoted);
    ASSERT_NE(sep, nullptr);
    EXPECT_EQ(sep - quoted, 21);

    char semicolon[] = "jo@mail; ann@mail";
    sep = net_addr_seperator(semicolon);
    ASSERT_EQ(sep, semicolon + 7);
    EXPECT_STREQ(semicolon, "jo@mail, ann@mail");

    // A backslash steps over the quote after it, so the quote stays open.
    char escaped[] = "\"a\\\",\",x";
    EXPECT_EQ(net_addr_seperator(escaped), escaped + 6);
    char escaped_backslash[] = "\"a\\\\\",x";
    EXPECT_EQ(net_addr_seperator(escaped_backslash), escaped_backslash + 5);

    char in_escape[] = "\x1b$B,;\x1b(B a@b; c@d";
    EXPECT_EQ(net_addr_seperator(in_escape), in_escape + 12);

    char open_quote[] = "\"Smith, Jo <jo@mail>, ann@mail";
    EXPECT_EQ(net_addr_seperator(open_quote), nullptr);
    char trailing_backslash[] = "\"abc\\";
    EXPECT_EQ(net_addr_seperator(trailing_backslash), nullptr);
}

TEST(NetRemoveQoute, KeepsTheBracketedAddressOrDropsQuotesAndEscapes) {
    EXPECT_EQ(net_remove_qoute(nullptr), nullptr);
    EXPECT_EQ(str(net_remove_qoute("\"Jo Smith\" <jo@mail>")), "jo@mail");
    EXPECT_EQ(str(net_remove_qoute("jo@mail")), "jo@mail");
    EXPECT_EQ(str(net_remove_qoute("")), "");
    EXPECT_EQ(str(net_remove_qoute("a <b <c@d>")), "c@d");
    EXPECT_EQ(str(net_remove_qoute("a <b@c> <d@e>")), "b@c");
    EXPECT_EQ(str(net_remove_qoute("jo > x@y")), "jo > x@y");
    EXPECT_EQ(str(net_remove_qoute("jo\x1b$B<x>\"\x1b(B@mail")), "jo(B@mail");
    EXPECT_EQ(str(net_remove_qoute("jo@mail \"never closed <x@y>")), "jo@mail ");
    EXPECT_EQ(str(net_remove_qoute("Jo <jo@mail")), "jo@mail");
    EXPECT_EQ(str(net_remove_qoute(std::string(600, 'a').c_str())), std::string(493, 'a'));
}

TEST(NetUserHostPort, PartsOfOneAddress) {
    const char *full = "\"Jo Smith\" <&lt;jo@mail:25>";
    EXPECT_EQ(str(net_user_only(full)), "jo");
    EXPECT_EQ(str(net_host_only(full)), "mail");
    EXPECT_EQ(net_port_only(full), 25);

    EXPECT_EQ(str(net_user_only("&LT;&Gt;jo@mail&gt;")), "jo");
    EXPECT_EQ(str(net_host_only("&LT;&Gt;jo@mail&gt;")), "mail");
    EXPECT_EQ(str(net_user_only("see [jo@mail]")), "jo");
    EXPECT_EQ(str(net_host_only("see [jo@mail]")), "mail");

    // Of two at signs the second one splits.
    EXPECT_EQ(str(net_user_only("a@b@c")), "a@b");
    EXPECT_EQ(str(net_host_only("a@b@c")), "c");

    EXPECT_EQ(net_user_only(nullptr), nullptr);
    EXPECT_EQ(net_host_only(nullptr), nullptr);
    EXPECT_EQ(net_user_only("no address"), nullptr);
    EXPECT_EQ(net_host_only("no address"), nullptr);
    EXPECT_EQ(net_user_only("@mail"), nullptr);
    EXPECT_EQ(net_user_only("&lt;@mail"), nullptr);
    EXPECT_EQ(net_host_only("jo@"), nullptr);
    EXPECT_EQ(net_host_only("jo@:25"), nullptr);

    EXPECT_EQ(str(net_host_only("jo@mail_srv_1.example")), "mail.srv.1.example");
    for (const char *end : {":25", ",x", " x", "/x", "#x", "&x", "\\x", "\r\n", "\"x", "]", ">"})
        EXPECT_EQ(str(net_host_only(("jo@mail" + std::string(end)).c_str())), "mail") << end;

    EXPECT_EQ(net_port_only(nullptr), 0);
    EXPECT_EQ(net_port_only("jo@mail"), 0);
    EXPECT_EQ(net_port_only("jo@mail:"), 0);
    EXPECT_EQ(net_port_only("jo@mail:25x"), 25);
    EXPECT_EQ(net_port_only("mail:110"), 110);
    EXPECT_EQ(net_port_only("jo@mail/x:25"), 0);
    EXPECT_EQ(net_port_only("jo@mail:2147483647"), 2147483647);
    EXPECT_EQ(net_port_only("jo@mail:2147483648"), 0);
    EXPECT_EQ(net_port_only("jo@mail:99999999999999999999999"), 0);
}

TEST(NetAddrJoined, UserHostAndPortJoined) {
    const char *address = "\"Jo\" <jo@mail_1:25>";
    EXPECT_EQ(str(net_addr_only(address)), "jo@mail.1");
    EXPECT_EQ(str(net_addr_port(address)), "jo@mail.1:25");
    EXPECT_EQ(str(net_addr_port("jo@mail")), "jo@mail");
    EXPECT_EQ(str(net_addr_port("jo@mail:0")), "jo@mail");
    for (const char *bad : {static_cast<const char *>(nullptr), "jo", "@mail", "jo@", "jo@:25"}) {
        EXPECT_EQ(net_addr_only(bad), nullptr) << str(bad);
        EXPECT_EQ(net_addr_port(bad), nullptr) << str(bad);
    }

    // Each function keeps its own buffer.
    const char *user = net_user_only("ann@x");
    const char *host = net_host_only("bob@y");
    net_port_only("carl@z:1");
    net_extra_only("Carl <carl@z>");
    net_remove_qoute("dan@w");
    EXPECT_EQ(str(user), "ann");
    EXPECT_EQ(str(host), "y");
}

TEST(NetExtraOnly, DisplayNameOrComment) {
    EXPECT_EQ(net_extra_only(nullptr), nullptr);
    EXPECT_EQ(str(net_extra_only("\"Jo Smith\" <jo@mail>")), "Jo Smith");
    EXPECT_EQ(str(net_extra_only("Jo Smith <jo@mail>")), "Jo Smith");
    EXPECT_EQ(str(net_extra_only("\t Jo \t<jo@mail>  ")), "Jo");
    EXPECT_EQ(str(net_extra_only("jo@mail (Jo Smith)")), "(Jo Smith)");
    EXPECT_EQ(str(net_extra_only("Jo Smith jo@mail")), "Jo Smith");
    EXPECT_EQ(str(net_extra_only("Jo jo@mail   (x)")), "Jo (x)");
    EXPECT_EQ(str(net_extra_only("a@b@c (x)")), "(x)");
    EXPECT_EQ(str(net_extra_only("Jo <a<b>c> x")), "Jo  x");
    EXPECT_EQ(str(net_extra_only("\"a <b>, c\" <jo@mail>")), "a <b>, c");
    EXPECT_EQ(str(net_extra_only("Jo \x1bX<Y\x1b <jo@mail>")), "Jo \x1bX<Y\x1b");
    EXPECT_EQ(str(net_extra_only("Jo <jo@mail")), "Jo");

    EXPECT_EQ(net_extra_only("jo@mail"), nullptr);
    EXPECT_EQ(net_extra_only("<jo@mail>"), nullptr);
    EXPECT_EQ(net_extra_only("  <jo@mail:25>  "), nullptr);
    EXPECT_EQ(net_extra_only("no address"), nullptr);
    EXPECT_EQ(net_extra_only(""), nullptr);
    EXPECT_EQ(net_extra_only("\"\" <jo@mail>"), nullptr);
}

TEST(NetExtraOnlyOld, DisplayNameOrTheWholeAddress) {
    EXPECT_EQ(net_extra_only_old(nullptr), nullptr);
    EXPECT_EQ(str(net_extra_only_old("\"Jo Smith\" <jo@mail>")), "Jo Smith");
    EXPECT_EQ(str(net_extra_only_old("Jo Smith   jo@mail")), "Jo Smith");
    EXPECT_EQ(str(net_extra_only_old("jo@mail (Jo Smith)")), "Jo Smith");
    EXPECT_EQ(str(net_extra_only_old("Jo jo@mail (x)")), "Jo (x");
    EXPECT_EQ(str(net_extra_only_old("   no address")), "no address");
    EXPECT_EQ(str(net_extra_only_old("  jo@mail")), "jo@mail");
    EXPECT_EQ(str(net_extra_only_old("<jo@mail>")), "<jo@mail>");
    EXPECT_EQ(str(net_extra_only_old(std::string(600, 'x').c_str())), std::string(511, 'x'));
}

TEST(NetAddressLists, RealisticHeaders) {
    auto list = split_list(
        "\"Smith, Jo\" <jo@mail.example.org:25>, ann@example.org (Ann Lee);"
        " \"Bob \\\"The Builder\\\", Jr.\" <bob@build_host>,Eve <eve@[192.0.2.7]>");
    ASSERT_EQ(list.size(), 4u);

    EXPECT_EQ(str(net_addr_port(list[0].c_str())), "jo@mail.example.org:25");
    EXPECT_EQ(str(net_extra_only(list[0].c_str())), "Smith, Jo");

    EXPECT_EQ(str(net_addr_port(list[1].c_str())), "ann@example.org");
    EXPECT_EQ(str(net_extra_only(list[1].c_str())), "(Ann Lee)");

    EXPECT_EQ(str(net_addr_port(list[2].c_str())), "bob@build.host");
    EXPECT_EQ(str(net_extra_only(list[2].c_str())), "Bob \\\"The Builder\\\", Jr.");

    EXPECT_EQ(str(net_user_only(list[3].c_str())), "eve");
    EXPECT_EQ(net_host_only(list[3].c_str()), nullptr);  // '[' ends a host
    EXPECT_EQ(str(net_extra_only(list[3].c_str())), "Eve");

    auto escaped = split_list("\x1b$B$3,s\x1b(B <a@b:110>; c@d");
    ASSERT_EQ(escaped.size(), 2u);
    EXPECT_EQ(str(net_addr_port(escaped[0].c_str())), "a@b:110");
    EXPECT_EQ(str(net_extra_only(escaped[0].c_str())), "\x1b$B$3,s\x1b(B");
    EXPECT_EQ(str(net_addr_port(escaped[1].c_str())), "c@d");
}
