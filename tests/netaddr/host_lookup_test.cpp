// Host look-ups and conversions. Only localhost, 127.0.0.1 and this
// machine's own name reach the real resolver; other names and addresses
// are reserved ones that the resolver spy answers itself.
#include "netaddr/net_fns.h"
#include "support/nlib.h"

#include "resolver_spy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

namespace {

std::string str(const char *s) { return s ? s : "(null)"; }

bool is_dotted(const std::string &s) {
    return std::regex_match(s, std::regex(R"(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})"));
}

class HostLookup : public ::testing::Test {
protected:
    void SetUp() override { spy = resolver_spy(); }
    void TearDown() override { spy = resolver_spy(); }
};

// Runs fn with standard output captured and returns what it wrote.
template <class Fn>
std::string stdout_of(Fn fn) {
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST_F(HostLookup, NameToIp) {
    EXPECT_EQ(str(convert_name_to_ip(nullptr)), "");
    EXPECT_EQ(str(convert_name_to_ip("127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(str(convert_name_to_ip("")), "");
    EXPECT_EQ(spy.lookups, 0);

    EXPECT_EQ(str(convert_name_to_ip("localhost")), "127.0.0.1");
    EXPECT_EQ(str(convert_name_to_ip("LocalHost")), "127.0.0.1");
    EXPECT_EQ(str(convert_name_to_ip("nohost.invalid")), "nohost.invalid");
    EXPECT_TRUE(is_dotted(convert_name_to_ip(tcp_hostname()))) << tcp_hostname();

    std::string long_name(700, 'x');
    spy.offline = true;
    EXPECT_EQ(str(convert_name_to_ip(long_name.c_str())), long_name.substr(0, 511));
}

TEST_F(HostLookup, IpToName) {
    EXPECT_EQ(str(convert_ip_to_name(nullptr)), "");
    EXPECT_EQ(str(convert_ip_to_name("localhost")), "localhost");
    EXPECT_EQ(str(convert_ip_to_name("127.0.1")), "127.0.1");
    EXPECT_EQ(str(convert_ip_to_name("")), "");
    EXPECT_EQ(spy.lookups, 0);

    EXPECT_EQ(str(convert_ip_to_name("127.0.0.1")), "localhost");
    EXPECT_EQ(str(convert_ip_to_name("383.0.0.1")), "localhost");  // 383 & 0xFF is 127
    EXPECT_EQ(str(convert_ip_to_name("192.0.2.1")), "192.0.2.1");
    EXPECT_EQ(spy.lookups, 3);
}

TEST_F(HostLookup, AddressRewriting) {
    EXPECT_EQ(str(convert_to_name("\"Jo\" <jo@127.0.0.1:25>")), "jo@localhost");
    EXPECT_EQ(str(convert_to_ip("Jo <jo@LOCALHOST>")), "jo@127.0.0.1");
    EXPECT_EQ(str(convert_to_ip("jo@nohost.invalid")), "jo@nohost.invalid");
    EXPECT_EQ(str(convert_to_name("jo@192.0.2.9")), "jo@192.0.2.9");

    // Without a user or a host the answer is empty, not the last one.
    for (const char *bad : {static_cast<const char *>(nullptr), "@localhost", "localhost", "jo@"}) {
        EXPECT_EQ(str(convert_to_name(bad)), "") << str(bad);
        EXPECT_EQ(str(convert_to_ip(bad)), "") << str(bad);
    }
}

// The host-detail caches live for the whole process, so this is the one
// test that calls host_details and oldhost_details.
TEST_F(HostLookup, LocalHostDetailsAreCachedOnceFound) {
    const char *saved_setting = dmsg_setting;
    dmsg_setting = "true";

    spy.hostname_fails = true;
    std::string out = stdout_of([] { EXPECT_EQ(str(host_details()), "NONAME"); });
    EXPECT_EQ(out, "Error: host_details: gethostname failed returning NONAME\n");
    stdout_of([] { EXPECT_EQ(str(host_details()), "NONAME"); });
    EXPECT_EQ(spy.hostname_calls, 2);

    // A name that does not resolve is kept bare, and kept for good.
    spy.hostname_fails = false;
    spy.hostname = "nohost.invalid";
    out = stdout_of([] { EXPECT_EQ(str(host_details()), "nohost.invalid"); });
    EXPECT_EQ(out, "Debug: host_details: Error on gethostbyname\n");

    // The official name of the host replaces the one it calls itself.
    spy.hostname = "LOCALHOST";
    EXPECT_EQ(str(oldhost_details()), "localhost:127.0.0.1");

    spy = resolver_spy();
    EXPECT_EQ(str(host_details()), "nohost.invalid");
    EXPECT_EQ(str(oldhost_details()), "localhost:127.0.0.1");
    EXPECT_EQ(spy.hostname_calls, 0);
    EXPECT_EQ(spy.lookups, 0);

    dmsg_setting = saved_setting;
}

TEST_F(HostLookup, TcpHostname) {
    std::string name = tcp_hostname();
    EXPECT_FALSE(name.empty());
    EXPECT_LT(name.size(), 191u);

    spy.hostname = std::string(300, 'h');
    std::string out = stdout_of([] { tcp_hostname(); });
    EXPECT_EQ(out, "tcp: Can't get host name\n");
    spy.hostname.clear();
    EXPECT_LT(std::string(tcp_hostname()).size(), 200u);
}

TEST_F(HostLookup, CompareEmailAddresses) {
    EXPECT_EQ(compare_email_addresses("Jo@Mail.Example", "jO@mAIL.eXAMPLE", 1), 1);
    EXPECT_EQ(compare_email_addresses("\"Jo\" <jo@mail>", "jo@MAIL (Jo)", 0), 1);
    EXPECT_EQ(compare_email_addresses("jo@mail", "ann@mail", 1), 0);
    EXPECT_EQ(compare_email_addresses("jo@mail", "jo@other", 0), 0);
    EXPECT_EQ(compare_email_addresses("@mail", "@mail", 1), 0);
    EXPECT_EQ(compare_email_addresses("jo@", "jo@", 1), 0);
    EXPECT_EQ(compare_email_addresses(nullptr, "jo@mail", 1), 0);
    EXPECT_EQ(compare_email_addresses("jo@mail", nullptr, 1), 0);
    EXPECT_EQ(spy.lookups, 0);

    EXPECT_EQ(compare_email_addresses("jo@localhost", "JO@127.0.0.1", 1), 1);
    EXPECT_EQ(compare_email_addresses("jo@localhost", "jo@nohost.invalid", 1), 0);
    EXPECT_EQ(compare_email_addresses("jo@nohost.invalid", "jo@localhost", 1), 0);
    // A dotted first host is never compared by address.
    EXPECT_EQ(compare_email_addresses("jo@127.0.0.1", "jo@localhost", 1), 0);
}
