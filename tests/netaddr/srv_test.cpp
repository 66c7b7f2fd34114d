// SRV look-ups against a scripted DNS server, through the system resolver in
// a private mount namespace; and the order of targets within a priority.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ber.h"
#include "common/fake_dns.h"
#include "common/loopback.h"
#include "common/private_resolver.h"
#include "common/process.h"
#include "netaddr/net_fns.h"

namespace {

// "host:port ..." in list order, or the failure text.
std::string targets(srv_list *list, int result)
{
    std::string text = result ? "" : list->error;
    for (int i = 0; i < list->count; i++)
        text += (i ? " " : "") + std::string(list->targets[i].host) + ":" + std::to_string(list->targets[i].port);
    return text;
}

std::string srv_name(const std::string &domain) { return "_ldap._tcp." + domain; }

}  // namespace

// Each row a look-up through name servers at 127.0.0.N ("157": the scripted
// one, "158" to "160" silent), within its time-out (0: none, in process).
// A look-up ends within its time-out, however many name servers are silent,
// and when a truncated answer sends it to a TCP server that never answers.
TEST(SrvLookup, AnswersOfTheNameServer)
{
    // SRV records owned by the question's name, their data given in hex.
    // (Reading past the answer and looping names are the srv fuzz target's.)
    auto raw = [](const char *domain, const std::string &data, int count = 1) {
        return dns_reply(srv_name(domain), 33, count, hex_bytes(data));
    };
    const std::string head = "c00c 0021 0001 0000003c ";
    std::string cut = dns_srv_reply(srv_name("cut.test"), {{0, 0, 389, "a.cut.test"}});
    std::string truncated = dns_srv_reply(srv_name("tc.test"), {{0, 0, 389, "a.tc.test"}});
    truncated[2] |= 0x02;
    std::string label(60, 'a'), long_name = label + "." + label + "." + label + "." + label + "." + label;
    // A large domain's servers, hundreds of them, listed last priority first.
    std::vector<DnsSrv> many;
    std::string many_listed;
    for (int i = 0; i < 300; i++) {
        many.push_back({300 - i, 0, 389, "h" + std::to_string(i) + ".many.test"});
        many_listed = "h" + std::to_string(i) + ".many.test:389" + (i ? " " : "") + many_listed;
    }
    const std::string failed = "SRV look-up for _ldap._tcp.", lookup_failure = " failed: Host name lookup failure";
    const struct {
        std::string domain, reply, expected, servers = "157";
        int timeout = 0;
        bool starved = false;  // no descriptor for the look-up's child: said so, not taken for a time-out
    } rows[] = {
        {"order.test",
         dns_srv_reply(srv_name("order.test"), {{20, 0, 389, "b.order.test"}, {10, 5, 636, "A.Order.test"}}),
         "A.Order.test:636 b.order.test:389"},
        {"missing.test", "", "no SRV records for _ldap._tcp.missing.test"},
        {"empty.test", dns_reply(srv_name("empty.test"), 33, 0, ""), "no SRV records for _ldap._tcp.empty.test"},
        {"none.test", dns_srv_reply(srv_name("none.test"), {{0, 0, 0, "."}}),
         "service not available at _ldap._tcp.none.test (SRV target \".\")"},
        {"cut.test", cut.substr(0, cut.size() - 3), "malformed SRV answer for _ldap._tcp.cut.test"},
        // Data too short for the fixed fields, or a target running past the data.
        {"short.test", raw("short.test", head + "0006 0000 0000 0185"),
         "malformed SRV answer for _ldap._tcp.short.test"},
        {"over.test", raw("over.test", head + "0008 0000 0000 0185 0161 " + head + "0008 0000 0000 0185 c00c", 2),
         "malformed SRV answer for _ldap._tcp.over.test"},
        {"long.test", dns_srv_reply(srv_name("long.test"), {{0, 0, 389, long_name}}),  // 306 octets
         "malformed SRV answer for _ldap._tcp.long.test"},
        {"many.test", dns_srv_reply(srv_name("many.test"), many), many_listed},
        {"tc.test", truncated, failed + "tc.test" + lookup_failure, "157", 1},
        {"ok.test", dns_srv_reply(srv_name("ok.test"), {{0, 0, 389, "a.ok.test"}}), "a.ok.test:389", "157", INT_MAX},
        {"ok.test", "", failed + "ok.test" + lookup_failure, "158 159 160", 1},
        {"ok.test", "", "a.ok.test:389", "158 157", 2},  // the time shared, not spent on the first
        {"ok.test", "", failed + "ok.test failed: Too many open files", "157", 1, true},
    };
    FakeDns dns("127.0.0.157");
    int tcp_port = 53, tcp = loopback_listen("127.0.0.157", &tcp_port);
    FakeDns silent[] = {FakeDns("127.0.0.158", true), FakeDns("127.0.0.159", true), FakeDns("127.0.0.160", true)};
    ASSERT_TRUE(dns.running() && tcp >= 0 && silent[2].running()) << "cannot serve DNS (root needed)";
    for (const auto &row : rows)
        if (!row.reply.empty()) dns.serve(row.reply);
    for (const auto &row : rows) {
        std::string conf;
        for (size_t at = 0; at < row.servers.size(); at += 4)
            conf += "nameserver 127.0.0." + row.servers.substr(at, 3) + "\n";
        auto start = std::chrono::steady_clock::now();
        std::string result = run_with_resolver(conf, "", [&] {
            std::optional<NoSpareDescriptors> none;
            if (row.starved) none.emplace();
            srv_list list = {};
            std::string text = targets(&list, srv_lookup(&list, "_ldap._tcp", row.domain.c_str(), row.timeout));
            srv_clear(&list);
            return text;
        });
        EXPECT_EQ(result, row.expected) << row.domain << " " << row.servers;
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        // Those with a time-out end within it (or 2 s), with room.
        EXPECT_LT(row.timeout ? waited.count() : 0, std::min(row.timeout, 2) * 1000 + 900) << row.servers;
    }
    close(tcp);
}

// Within a priority, weight 0 goes first only on a draw of 0, and the
// draws follow the running sums of the weights.
TEST(SrvLookup, OrderWithinAPriority)
{
    std::string reply = dns_srv_reply("w.test", {{1, 2, 1, "c"}, {0, 5, 2, "z"}, {1, 0, 3, "a"}, {1, 1, 4, "b"}});
    const auto *bytes = reinterpret_cast<const unsigned char *>(reply.data());
    srv_list list = {};
    const struct {
        long (*pick)(long);
        const char *expected;
    } rows[] = {{[](long) { return 0L; }, "z:2 a:3 c:1 b:4"}, {[](long upper) { return upper; }, "z:2 b:4 c:1 a:3"}};
    for (const auto &row : rows) {
        ASSERT_EQ(1, srv_parse(&list, bytes, int(reply.size()), "w.test"));
        srv_order(&list, row.pick);
        EXPECT_EQ(targets(&list, 1), row.expected);
    }
    // The random draw: weight 3 of 1 + 3 goes first on 3 of the 5 draws 0..4.
    reply = dns_srv_reply("w.test", {{0, 1, 1, "light"}, {0, 3, 2, "heavy"}});
    bytes = reinterpret_cast<const unsigned char *>(reply.data());
    int heavy_first = 0;
    for (int i = 0; i < 2000; i++) {
        srv_parse(&list, bytes, int(reply.size()), "w.test");
        srv_order(&list, nullptr);
        heavy_first += list.targets[0].port == 2;
    }
    EXPECT_TRUE(heavy_first > 1000 && heavy_first < 1400) << heavy_first;
    srv_clear(&list);
}
