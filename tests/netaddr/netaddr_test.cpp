// Taking mail-style addresses apart, host look-ups and conversions. Only
// localhost and 127.0.0.1 reach the real resolver; the spy below answers the
// rest "not found".
#include "netaddr/net_fns.h"
#include "support/nlib.h"

#include <dlfcn.h>
#include <netdb.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

// Stand-ins for the C library's gethostname, getaddrinfo and getnameinfo,
// linked into this program ahead of the library's own (under ASan the next
// definition is the sanitizer's, which calls libc). They count calls, can
// fail or rename the host, and answer names under ".invalid" (or all names,
// offline) with "not found" without asking a name server.
struct resolver_spy {
    int calls = 0;  // of all three
    bool hostname_fails = false, offline = false;
    std::string hostname;  // when set, gethostname gives this name
} spy;

#define NEXT(name) reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

extern "C" int gethostname(char *name, size_t len) noexcept
{
    static auto next = NEXT(gethostname);
    spy.calls++;
    if (spy.hostname.empty() && !spy.hostname_fails) return next(name, len);
    errno = spy.hostname_fails ? EPERM : ENAMETOOLONG;
    if (spy.hostname_fails || spy.hostname.size() >= len) return -1;
    std::strcpy(name, spy.hostname.c_str());
    return 0;
}

extern "C" int getaddrinfo(const char *name, const char *service, const addrinfo *hints, addrinfo **result)
{
    static auto next = NEXT(getaddrinfo);
    spy.calls++;
    size_t n = name ? std::strlen(name) : 0;
    if (spy.offline || (n >= 8 && strcasecmp(name + n - 8, ".invalid") == 0)) return EAI_NONAME;
    return next(name, service, hints, result);
}

extern "C" int getnameinfo(const sockaddr *address, socklen_t size, char *host, socklen_t host_size, char *service,
                           socklen_t service_size, int flags)
{
    static auto next = NEXT(getnameinfo);
    spy.calls++;
    if (spy.offline) return EAI_NONAME;
    return next(address, size, host, host_size, service, service_size, flags);
}

namespace {

std::string str(const char *s) { return s ? s : "(null)"; }

std::string stdout_of(void (*fn)())
{
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Each test starts with a spy in its plain state.
struct HostLookup : ::testing::Test {
    void SetUp() override { spy = resolver_spy(); }
};

TEST(NetAddr, SeparatorCleanedAddressAndParts)
{
    std::pair<std::string, int> cases[] = {
        // list, the separator's place (-1: none)
        {"jo@mail", -1},
        {"\"Smith, Jo\" <jo@mail>, ann@mail", 21},
        {"jo@mail; ann@mail", 7},
        {"\"a\\\",\",x", 6},  // the backslash steps over the quote after it
        {"\x1b$B,;\x1b(B a@b; c@d", 12},
        {"\"Smith, Jo <jo@mail>, ann@mail", -1},
    };
    for (auto &[list, at] : cases) {
        char *sep = net_addr_seperator(&list[0]);  // a semicolon is overwritten
        EXPECT_EQ(std::to_string(sep ? sep - &list[0] : -1) + (sep ? *sep : ','), std::to_string(at) + ",") << list;
    }

    const char *cleaned[][2] = {
        {"a <b@c> <d@e>", "b@c"},
        {"jo > x@y", "jo > x@y"},
        {"jo\x1b$B<x>\"\x1b(B@mail", "jo(B@mail"},
        {"jo@mail \"open <x@y>", "jo@mail "},
    };
    for (const auto &c : cleaned) EXPECT_EQ(str(net_remove_qoute(c[0])), c[1]) << c[0];

    const char *parts[][4] = {
        // address, user, host, port
        {"\"Jo Smith\" <&lt;jo@mail:25>", "jo", "mail", "25"},
        {"&LT;&Gt;jo@mail&gt;", "jo", "mail", "0"},
        {"a@b@c", "a@b", "c", "0"},  // of two at signs the second splits
        {"jo@mail_srv_1.example:x", "jo", "mail.srv.1.example", "0"},
        {"&lt;@mail:110", nullptr, "mail", "110"},
        {"jo@mail,x:25", "jo", "mail", "25"},  // the port search passes ','
        {"jo@mail:2147483647", "jo", "mail", "2147483647"},
        {"jo@mail:2147483648", "jo", "mail", "0"},
    };
    for (const auto &p : parts)
        EXPECT_EQ(str(net_user_only(p[0])) + " " + str(net_host_only(p[0])) + " " + std::to_string(net_port_only(p[0])),
                  str(p[1]) + " " + str(p[2]) + " " + p[3]);
    for (const char *end : {" x", "#x", "&x", "\\x", "\r\n", "\"x", "]", ">"})
        EXPECT_EQ(str(net_host_only(("jo@mail" + std::string(end)).c_str())), "mail") << end;
    for (const char *bad : {(const char *)nullptr, "jo", "@mail", "jo@"})
        EXPECT_EQ(str(net_addr_only(bad)) + str(net_addr_port(bad)), "(null)(null)") << str(bad);

    const char *extras[][3] = {
        // address, net_extra_only, net_extra_only_old
        {"\t Jo \t<jo@mail>  ", "Jo", "\t Jo"},
        {"Jo jo@mail   (x)", "Jo (x)", "Jo (x"},
        {"a@b@c (x)", "(x)", "x"},  // a blank only after kept text
        {"\"a <b>, c\" <jo@mail>", "a <b>, c", "a <b>, c"},
        {"  <jo@mail:25>  ", nullptr, "<jo@mail:25>  "},
        {"Jo \x1bX<Y\x1b <jo@mail>", "Jo \x1bX<Y\x1b", "Jo \x1bX<Y\x1b"},
    };
    for (const auto &c : extras)
        EXPECT_EQ(str(net_extra_only(c[0])) + "|" + str(net_extra_only_old(c[0])), str(c[1]) + "|" + str(c[2]));
}

TEST_F(HostLookup, ConversionsAndComparisons)
{
    const char *cases[][4] = {
        // text, as address, as name, look-ups of both
        {nullptr, "", "", "0"},
        {"127.0.1", "127.0.1", "127.0.1", "0"},        // fewer than three dots
        {"383.0.0.1", "383.0.0.1", "localhost", "1"},  // 383 & 0xFF is 127
        {"LocalHost", "127.0.0.1", "LocalHost", "1"},
        {"nohost.invalid", "nohost.invalid", "nohost.invalid", "1"},
    };
    for (const auto &c : cases) {
        spy.calls = 0;
        std::string ip = str(convert_name_to_ip(c[0])), name = str(convert_ip_to_name(c[0]));
        EXPECT_EQ(ip + " " + name + " " + std::to_string(spy.calls), c[1] + std::string(" ") + c[2] + " " + c[3]);
    }
    EXPECT_EQ(str(convert_to_name("\"Jo\" <jo@127.0.0.1:25>")), "jo@localhost");
    EXPECT_EQ(str(convert_to_ip("jo@nohost.invalid")), "jo@nohost.invalid");
    for (const char *bad : {(const char *)nullptr, "@localhost", "localhost", "jo@"})  // empty, not the last answer
        EXPECT_EQ(str(convert_to_name(bad)) + str(convert_to_ip(bad)), "") << str(bad);
    // A result handed back is read before the buffer is written.
    EXPECT_EQ(str(convert_name_to_ip(convert_name_to_ip("localhost"))), "127.0.0.1");
    EXPECT_EQ(str(convert_ip_to_name(convert_ip_to_name("127.0.0.1"))), "localhost");
    EXPECT_EQ(str(convert_to_ip(convert_to_ip("Jo <jo@LOCALHOST>"))), "jo@127.0.0.1");

    const std::tuple<const char *, const char *, int, int> pairs[] = {
        // a, b, resolve, same
        // No look-up: equal hosts, missing parts, or resolve not allowed.
        {"\"Jo\" <jo@mail>", "jO@MAIL (Jo)", 0, 1},
        {"jo@mail", "ann@mail", 1, 0},
        {"jo@mail", "jo@other", 0, 0},
        {"@mail", "@mail", 1, 0},
        {nullptr, "jo@", 1, 0},
        // Look-ups of localhost and of names that are not found.
        {"jo@localhost", "JO@127.0.0.1", 1, 1},
        {"jo@localhost", "jo@nohost.invalid", 1, 0},
        {"jo@nohost.invalid", "jo@localhost", 1, 0},
        {"jo@127.0.0.1", "jo@localhost", 1, 0},  // a dotted first host is never compared by address
    };
    for (size_t k = 0; k < std::size(pairs); k++) {
        auto [a, b, resolve, same] = pairs[k];
        int before = spy.calls;
        EXPECT_EQ(compare_email_addresses(a, b, resolve), same) << str(a) << " ~ " << str(b);
        EXPECT_TRUE(k >= 5 || spy.calls == before) << "looked up: " << str(a);
    }
    spy.offline = true;
    EXPECT_EQ(str(convert_to_name("jo@192.0.2.9")), "jo@192.0.2.9");
    EXPECT_EQ(str(convert_name_to_ip(std::string(700, 'x').c_str())), std::string(511, 'x'));
}

// The host-detail caches live for the whole process, so this is the one
// test that calls host_details and oldhost_details.
TEST_F(HostLookup, LocalHostDetailsAreCachedOnceFound)
{
    const char *saved_setting = dmsg_setting;
    dmsg_setting = "true";
    spy.hostname_fails = true;  // NONAME is not kept: the next call asks again
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(str(host_details()), "NONAME"); }),
              "Error: host_details: gethostname failed returning NONAME\n");
    spy.hostname_fails = false;  // a name that does not resolve is kept bare, and for good
    spy.hostname = "nohost.invalid";
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(str(host_details()), "nohost.invalid"); }),
              "Debug: host_details: Error on gethostbyname\n");
    spy.hostname = "LOCALHOST";  // the official name replaces the one it calls itself
    EXPECT_EQ(str(oldhost_details()), "localhost:127.0.0.1");
    spy = resolver_spy();
    EXPECT_EQ(str(host_details()) + " " + str(oldhost_details()), "nohost.invalid localhost:127.0.0.1");
    EXPECT_EQ(spy.calls, 0);
    dmsg_setting = saved_setting;
    spy.hostname = std::string(300, 'h');  // too long: the buffer stays terminated
    EXPECT_EQ(stdout_of([] { EXPECT_LT(std::string(tcp_hostname()).size(), 191u); }), "tcp: Can't get host name\n");
}

}  // namespace
