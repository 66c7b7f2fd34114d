// Message exchange against the fake server: exact request octets, junk,
// closes and silence.
#include <chrono>
#include <climits>

#include "ldap_testing.h"

namespace {

const std::string BIND_OK_1 = hex_bytes("30 0c 02 01 01 61 07 0a 01 00 04 00 04 00");

ldap_request request(int op)
{
    ldap_request r = {};
    r.op = op;
    return r;
}

}  // namespace

class Exchange : public FakeTest {};

TEST_F(Exchange, RequestOctetsAndIds)
{
    fake.read_request().read_request();
    start();
    // Criticality FALSE is the default, so it is left out (RFC 4511 5.1); one
    // without value goes without (ManageDsaIT with an empty one is refused).
    static_list controls;
    static_init(&controls, nullptr);
    for (auto [oid, critical, value] :
         {std::tuple<const char *, int, const char *>{"1.2.3", 1, "ab"}, {"1.2.4", 0, "c"}, {"1.2.5", 1, nullptr}}) {
        ldap_cr *cr = ldap_cr_init(oid, critical);
        if (value) ldap_cr_set(cr, value, static_cast<int>(strlen(value)));
        static_add(&controls, cr);
    }
    static_add(&controls, ldap_page_control(1000, "\x00\xff", 2));  // paged results, not critical
    ldap_request unbind = request(LDAP_UNBIND_REQUEST), abandon = request(LDAP_ABANDON_REQUEST);
    abandon.abandon_id = 5;
    xmsg_id = 1;
    EXPECT_EQ(1, ldap_send(&h, &abandon, 6, nullptr));  // a given ID leaves the count alone
    EXPECT_EQ(1, ldap_send(&h, &unbind, 0, &controls));
    static_clear_release(&controls, [](void *cr) { ldap_cr_clear(static_cast<ldap_cr *>(cr)); });
    fake.wait();
    EXPECT_EQ((std::vector<std::string>{
                  hex_bytes("30 06 02 01 06 50 01 05"),
                  hex_bytes("30 55 02 01 02 42 00 A0 4E 30 0E 04 05 31 2E 32 2E 33 01 01 FF 04 02 61 62"
                            "30 0A 04 05 31 2E 32 2E 34 04 01 63 30 0A 04 05 31 2E 32 2E 35 01 01 FF"
                            "30 24 04 16 31 2E 32 2E 38 34 30 2E 31 31 33 35 35 36 2E 31 2E 34 2E 33 31 39"
                            "04 0A 30 08 02 02 03 E8 04 02 00 FF")}),
              fake.requests());

    // An operation no client sends is never sent, and nothing goes without a
    // channel, but each still takes an ID; after the last ID there is, 1
    // comes again.
    ldap_request unknown = request(LDAP_SEARCH_REFERENCE + 1);
    TestHandle alone;
    EXPECT_EQ(0, ldap_send(&h, &unknown, 0, nullptr));
    EXPECT_EQ(0, ldap_send(&alone, &unbind, 0, nullptr));
    EXPECT_EQ(4, xmsg_id);
    xmsg_id = INT_MAX;
    ldap_send(nullptr, &unbind, 0, nullptr);
    EXPECT_EQ(1, xmsg_id);
    List error(ldap_receive(&alone, nullptr));
    EXPECT_STREQ("LDAP Chanel not setup", error ? error->error : nullptr);
}

// Streams that are cut, junk, oversized or silent: nothing but an error record where the
// server hung up, at once (well within the channel's five seconds) or at the short time-out.
TEST(ExchangeBroken, Streams)
{
    const std::string padding(100, '\0');
    const struct {
        std::string bytes;
        const char *error;  // the error record's text; null: no record
        int buffered;       // 0: junk, the channel is closed; else it stays open
    } cases[] = {
        {BIND_OK_1.substr(0, 7), "Connection Closed by LDAP server", 7},        // then a close
        {"220 mail.example.com ready\r\n", nullptr, 0},                         // not a message
        {hex_bytes("30 84 04 00 00 01") + padding, nullptr, 0},                 // over 64 MiB
        {hex_bytes("30 89 01 00 00 00 00 00 00 00 00") + padding, nullptr, 0},  // nine length octets
        {BIND_OK_1.substr(0, 5), nullptr, 5},
        {hex_bytes("30 0B 02 01 01 61 06 0A 00 04 00 04 00"), nullptr, 0},  // a result code without octets
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        TestHandle h;  // outlives the server: ldap_clear sees it hang up
        FakeServer fake;
        fake.send(c.bytes);
        if (c.error) fake.close();
        fake.start();
        attach(&h, fake);
        ldap_timeout(&h, 0, 200000);
        auto start = std::chrono::steady_clock::now();
        List got(ldap_receive(&h, nullptr));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_STREQ(c.error, got ? got->error : nullptr);
        EXPECT_EQ(c.buffered, h.rx_len);
        EXPECT_EQ(c.buffered != 0, chan_isopen(h.chan) != 0);
    }
}
