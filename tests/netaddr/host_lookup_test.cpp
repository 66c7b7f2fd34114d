// Host look-ups and conversions. Only localhost and 127.0.0.1 reach the real
// resolver; the spy answers the rest "not found".
#include "netaddr/net_fns.h"
#include "support/nlib.h"

#include "resolver_spy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string str(const char *s) { return s ? s : "(null)"; }

class HostLookup : public ::testing::Test {
protected:
    void SetUp() override { spy = resolver_spy(); }
    void TearDown() override { spy = resolver_spy(); }
};

template <class Fn>
std::string stdout_of(Fn fn) {
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST_F(HostLookup, Conversions) {
    const char *cases[][4] = {  // text, as address, as name, look-ups of both
        {nullptr, "", "", "0"}, {"127.0.1", "127.0.1", "127.0.1", "0"},  // fewer than three dots
        {"383.0.0.1", "383.0.0.1", "localhost", "1"},                   // 383 & 0xFF is 127
        {"LocalHost", "127.0.0.1", "LocalHost", "1"}, {"nohost.invalid", "nohost.invalid", "nohost.invalid", "1"},
    };
    for (const auto &c : cases) {
        spy.lookups = 0;
        std::string ip = str(convert_name_to_ip(c[0])), name = str(convert_ip_to_name(c[0]));
        EXPECT_EQ(ip + " " + name + " " + std::to_string(spy.lookups), c[1] + std::string(" ") + c[2] + " " + c[3]);
    }
    EXPECT_EQ(str(convert_to_name("\"Jo\" <jo@127.0.0.1:25>")), "jo@localhost");
    EXPECT_EQ(str(convert_to_ip("jo@nohost.invalid")), "jo@nohost.invalid");
    for (const char *bad : {(const char *)nullptr, "@localhost", "localhost", "jo@"})  // empty, not the last answer
        EXPECT_EQ(str(convert_to_name(bad)) + str(convert_to_ip(bad)), "") << str(bad);
    // A result handed back is read before the buffer is written.
    EXPECT_EQ(str(convert_name_to_ip(convert_name_to_ip("localhost"))), "127.0.0.1");
    EXPECT_EQ(str(convert_ip_to_name(convert_ip_to_name("127.0.0.1"))), "localhost");
    EXPECT_EQ(str(convert_to_ip(convert_to_ip("Jo <jo@LOCALHOST>"))), "jo@127.0.0.1");
    spy.offline = true;
    EXPECT_EQ(str(convert_to_name("jo@192.0.2.9")), "jo@192.0.2.9");
    EXPECT_EQ(str(convert_name_to_ip(std::string(700, 'x').c_str())), std::string(511, 'x'));
}

// The host-detail caches live for the whole process, so this is the one
// test that calls host_details and oldhost_details.
TEST_F(HostLookup, LocalHostDetailsAreCachedOnceFound) {
    const char *saved_setting = dmsg_setting;
    dmsg_setting = "true";
    spy.hostname_fails = true;
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(str(host_details()), "NONAME"); }),
              "Error: host_details: gethostname failed returning NONAME\n");
    stdout_of([] { EXPECT_EQ(str(host_details()), "NONAME"); });
    EXPECT_EQ(spy.hostname_calls, 2);  // NONAME is tried again
    spy.hostname_fails = false;        // a name that does not resolve is kept bare, and for good
    spy.hostname = "nohost.invalid";
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(str(host_details()), "nohost.invalid"); }),
              "Debug: host_details: Error on gethostbyname\n");
    spy.hostname = "LOCALHOST";  // the official name replaces the one it calls itself
    EXPECT_EQ(str(oldhost_details()), "localhost:127.0.0.1");
    spy = resolver_spy();
    EXPECT_EQ(str(host_details()) + " " + str(oldhost_details()), "nohost.invalid localhost:127.0.0.1");
    EXPECT_EQ(spy.hostname_calls + spy.lookups, 0);
    dmsg_setting = saved_setting;

    EXPECT_FALSE(std::string(tcp_hostname()).empty());
    spy.hostname = std::string(300, 'h');  // too long: the buffer stays terminated
    EXPECT_EQ(stdout_of([] { EXPECT_LT(std::string(tcp_hostname()).size(), 191u); }), "tcp: Can't get host name\n");
}

TEST_F(HostLookup, CompareEmailAddresses) {
    struct {
        const char *a, *b;
        int resolve, same;
    } cases[] = {
        // No look-up: equal hosts, missing parts, or resolve not allowed.
        {"Jo@Mail.Example", "jO@mAIL.eXAMPLE", 1, 1}, {"\"Jo\" <jo@mail>", "jo@MAIL (Jo)", 0, 1},
        {"jo@mail", "ann@mail", 1, 0}, {"jo@mail", "jo@other", 0, 0}, {"@mail", "@mail", 1, 0}, {"jo@", "jo@", 1, 0},
        {nullptr, "jo@mail", 1, 0}, {"jo@mail", nullptr, 1, 0},
        // Look-ups of localhost and of names that are not found.
        {"jo@localhost", "JO@127.0.0.1", 1, 1}, {"jo@localhost", "jo@nohost.invalid", 1, 0},
        {"jo@nohost.invalid", "jo@localhost", 1, 0},
        {"jo@127.0.0.1", "jo@localhost", 1, 0},  // a dotted first host is never compared by address
    };
    for (size_t k = 0; k < sizeof cases / sizeof cases[0]; k++) {
        const auto &c = cases[k];
        int before = spy.lookups;
        EXPECT_EQ(compare_email_addresses(c.a, c.b, c.resolve), c.same) << str(c.a) << " ~ " << str(c.b);
        EXPECT_TRUE(k >= 8 || spy.lookups == before) << "looked up: " << str(c.a);
    }
}

}  // namespace
