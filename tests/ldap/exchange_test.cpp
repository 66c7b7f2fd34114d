// Message exchange against the scripted fake server: exact request octets,
// replies split and batched, junk, closes, silence and oversized messages.
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "common/fake_server.h"
#include "common/tempdir.h"
#include "ldap_testing.h"

namespace {

// Opens an owned channel from the handle to the fake server, without a bind.
void attach(ldap_handle *ldap, const FakeServer &fake)
{
    chan_rec *chan = static_cast<chan_rec *>(malloc(sizeof(chan_rec)));
    chan_init(chan);
    ASSERT_EQ(1, chan_open(chan, fake.host(), fake.port(), 5));
    ldap->chan = chan;
    ldap->own_chan = 1;
}

struct Message {
    lresult *m;
    explicit Message(lresult *message) : m(message) {}
    ~Message()
    {
        if (m && m != LRESULT_INVALID) {
            lresult_clear(m);
            free(m);
        }
    }
};

const std::string BIND_OK_1 = hex_bytes("30 0c 02 01 01 61 07 0a 01 00 04 00 04 00");

}  // namespace

TEST(Exchange, RequestsGoOutByteForByte)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    for (int i = 0; i < 6; i++)
        fake.read_request();
    fake.start();
    attach(&h, fake);

    xmsg_id = 1;
    ldap_request unbind = {};
    unbind.op = LDAP_UNBIND_REQUEST;
    EXPECT_EQ(1, ldap_send(&h, &unbind, 0, nullptr));
    EXPECT_EQ(2, xmsg_id);

    ldap_request del = {};
    del.op = LDAP_DEL_REQUEST;
    del.dn = "cn=a";
    EXPECT_EQ(1, ldap_send(&h, &del, 3, nullptr));
    EXPECT_EQ(2, xmsg_id);  // a given ID leaves the counter alone

    ldap_request abandon = {};
    abandon.op = LDAP_ABANDON_REQUEST;
    abandon.abandon_id = 5;
    EXPECT_EQ(1, ldap_send(&h, &abandon, 6, nullptr));

    ldap_request bind = {};
    bind.op = LDAP_BIND_REQUEST;
    bind.version = 3;
    bind.name = "cn=x";
    bind.password = "pw";
    EXPECT_EQ(1, ldap_send(&h, &bind, 1, nullptr));

    static_list urls;
    static_init(&urls, nullptr);
    ldap_request reference = {};
    reference.op = LDAP_SEARCH_REFERENCE;
    reference.urls = &urls;
    EXPECT_EQ(1, ldap_send(&h, &reference, 9, nullptr));

    static_list controls;
    static_init(&controls, nullptr);
    ldap_cr *cr = ldap_cr_init("1.2.3", 1);
    ldap_cr_set(cr, "ab", 2);
    static_add(&controls, cr);
    EXPECT_EQ(1, ldap_send(&h, &unbind, 4, &controls));
    ldap_cr_clear(cr);
    static_clear(&controls);

    // An extended request is never sent, but still uses up an ID.
    ldap_request extended = {};
    extended.op = LDAP_EXTENDED_REQUEST;
    EXPECT_EQ(0, ldap_send(&h, &extended, 0, nullptr));
    EXPECT_EQ(3, xmsg_id);

    fake.wait();
    std::vector<std::string> got = fake.requests();
    ASSERT_EQ(6u, got.size());
    EXPECT_EQ(hex_bytes("30 05 02 01 02 42 00"), got[0]);
    EXPECT_EQ(hex_bytes("30 09 02 01 03 4A 04 63 6E 3D 61"), got[1]);
    EXPECT_EQ(hex_bytes("30 06 02 01 06 50 01 05"), got[2]);
    EXPECT_EQ(hex_bytes("30 12 02 01 01 60 0d 02 01 03 04 04 63 6e 3d 78 80 02 70 77"), got[3]);
    EXPECT_EQ(hex_bytes("30 05 02 01 09 53 00"), got[4]);
    EXPECT_EQ(hex_bytes("30 17 02 01 04 42 00 A0 10 30 0E 04 05 31 2E 32 2E 33 01 01 FF 04 02 61 62"),
              got[5]);
}

TEST(Exchange, SendWithoutChannelStillTakesAnId)
{
    TestHandle h;
    ldap_request unbind = {};
    unbind.op = LDAP_UNBIND_REQUEST;
    int before = xmsg_id;
    EXPECT_EQ(0, ldap_send(&h, &unbind, 0, nullptr));
    EXPECT_EQ(before + 1, xmsg_id);
    EXPECT_EQ(0, ldap_send(nullptr, &unbind, 0, nullptr));
    EXPECT_EQ(before + 2, xmsg_id);
    xmsg_id = INT_MAX;  // the last ID there is: the count starts over
    EXPECT_EQ(0, ldap_send(&h, &unbind, 0, nullptr));
    EXPECT_EQ(1, xmsg_id);

    Message error(ldap_receive(&h, nullptr));
    ASSERT_NE(nullptr, error.m);
    EXPECT_EQ(-1, error.m->application);
    EXPECT_EQ(0, error.m->id);
    EXPECT_EQ(0, lresult_size(error.m));
    EXPECT_STREQ("LDAP Chanel not setup", error.m->error);
    EXPECT_EQ(nullptr, ldap_receive(nullptr, nullptr));
}

TEST(Exchange, ReplySplitOverManyReads)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.send(BIND_OK_1, 1, 2);
    fake.start();
    attach(&h, fake);
    Message reply(ldap_receive(&h, nullptr));
    ASSERT_NE(nullptr, reply.m);
    EXPECT_EQ(LDAP_BIND_RESPONSE, reply.m->application);
    EXPECT_EQ(1, reply.m->id);
    EXPECT_EQ(3, lresult_size(reply.m));
    EXPECT_EQ(0, h.rx_len);
}

TEST(Exchange, TwoRepliesInOneRead)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.send(BIND_OK_1 + ldap_result_bytes(0x65, 2, 32, "gone"));
    fake.start();
    attach(&h, fake);
    Message first(ldap_receive(&h, nullptr));
    ASSERT_NE(nullptr, first.m);
    EXPECT_EQ(1, first.m->id);
    // The second comes from the buffer: without a channel any read would fail.
    chan_rec *chan = h.chan;
    h.chan = nullptr;
    Message second(ldap_receive(&h, nullptr));
    h.chan = chan;
    ASSERT_NE(nullptr, second.m);
    EXPECT_EQ(LDAP_SEARCH_DONE, second.m->application);
    EXPECT_EQ(2, second.m->id);
    EXPECT_EQ(32, lresult_get_int(second.m, 0));
    EXPECT_STREQ("gone", lresult_get_char(second.m, 2));
    EXPECT_EQ(0, h.rx_len);
    EXPECT_EQ(nullptr, h.rx_data);
}

TEST(Exchange, ServerClosesMidMessage)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.send(BIND_OK_1.substr(0, 7)).close();
    fake.start();
    attach(&h, fake);
    Message error(ldap_receive(&h, nullptr));
    ASSERT_NE(nullptr, error.m);
    EXPECT_EQ(-1, error.m->application);
    EXPECT_STREQ("Connection Closed by LDAP server", error.m->error);
    EXPECT_EQ(7, h.rx_len);  // the partial message stays buffered
}

TEST(Exchange, JunkClosesTheChannel)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.send(hex_bytes("30 05 02 01 01 07 00") + BIND_OK_1);  // universal tag 7
    fake.start();
    attach(&h, fake);
    EXPECT_EQ(nullptr, ldap_receive(&h, nullptr));
    ASSERT_NE(nullptr, h.chan);
    EXPECT_FALSE(chan_isopen(h.chan));
    EXPECT_EQ(0, h.rx_len);
    EXPECT_EQ(nullptr, h.rx_data);
}

TEST(Exchange, NonLdapBytesAreJunkAtOnce)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.send("220 mail.example.com ready\r\n");  // announces no length to wait for
    fake.start();
    attach(&h, fake);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, ldap_receive(&h, nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(chan_isopen(h.chan));
    EXPECT_EQ(0, h.rx_len);
}

TEST(Exchange, OversizedMessageIsRefused)
{
    for (const char *header : {"30 84 04 00 00 01", "30 84 7f ff ff ff", "30 85 01 00 00 00 00"}) {
        TestHandle h;  // outlives the server: ldap_clear sees it hang up
        FakeServer fake;
        fake.send(hex_bytes(header) + std::string(100, '\0'));
        fake.start();
        attach(&h, fake);
        EXPECT_EQ(nullptr, ldap_receive(&h, nullptr)) << header;
        EXPECT_FALSE(chan_isopen(h.chan)) << header;
        EXPECT_EQ(0, h.rx_len);
    }
}

TEST(Exchange, SilenceTimesOut)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.send(BIND_OK_1.substr(0, 5));
    fake.start();
    attach(&h, fake);
    ldap_timeout(&h, 0, 200000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, ldap_receive(&h, nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(chan_isopen(h.chan));
    EXPECT_EQ(5, h.rx_len);
}

TEST(Exchange, ManySmallMessagesAreReadInLinearTime)
{
    const int count = 20000;
    std::string stream;
    for (int id = 1; id <= count; id++)
        stream += ldap_result_bytes(0x61, id, 0);
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.send(stream);
    fake.start();
    attach(&h, fake);
    auto start = std::chrono::steady_clock::now();
    for (int id = 1; id <= count; id++) {
        Message reply(ldap_receive(&h, nullptr));
        ASSERT_NE(nullptr, reply.m);
        ASSERT_EQ(id, reply.m->id);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(0, h.rx_len);
}

TEST(Exchange, TraceWritesOneFilePerMessage)
{
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
    fake.read_request().send(BIND_OK_1);
    fake.start();
    TempDir dir;
    attach(&h, fake);
    ldap_set_log(&h, dir.path().c_str());
    ldap_request unbind = {};
    unbind.op = LDAP_UNBIND_REQUEST;
    ASSERT_EQ(1, ldap_send(&h, &unbind, 77, nullptr));
    Message reply(ldap_receive(&h, nullptr));
    ASSERT_NE(nullptr, reply.m);
    std::vector<std::string> names;
    for (const auto &file : std::filesystem::directory_iterator(dir.path()))
        names.push_back(file.path().filename().string().substr(0, 10));
    std::sort(names.begin(), names.end());
    ASSERT_EQ(2u, names.size());
    EXPECT_EQ("LDAP_1-IN_", names[0]);
    EXPECT_EQ("LDAP_77-OU", names[1]);
}
