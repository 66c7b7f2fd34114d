// Helpers of the LDAP client tests: self-releasing buffers, lists, handles
// and modification lists, a fake-server fixture and a shared slapd suite.
#pragma once
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "common/fake_server.h"
#include "common/message_log.h"
#include "common/slapd.h"
#include "ldap/ldap.h"
#include "ldap/reply.h"

struct Buf {
    data_buf b;
    Buf() { data_init(&b); }
    ~Buf() { data_clear(&b); }
    std::string hex() const
    {  // upper-case, without separators
        std::string text;
        for (int i = 0; i < b.length; i++)
            text += {"0123456789ABCDEF"[b.data[i] >> 4], "0123456789ABCDEF"[b.data[i] & 15]};
        return text;
    }
};

// A decoded list released with its record; LRESULT_INVALID and null kept.
struct ListDeleter {
    void operator()(lresult *list) const { ldap_free_message(list); }
};
using List = std::unique_ptr<lresult, ListDeleter>;

// Decoded from a copy of exactly their size, so the sanitizers see any read
// beyond the octets: one message, or (element) one element of any kind.
inline List decode_message(const std::string &octets, lresult **controls = nullptr, ldap_handle *ldap = nullptr,
                           bool element = false)
{
    std::vector<unsigned char> exact(octets.begin(), octets.end());
    int size = static_cast<int>(exact.size());
    return List(element ? ldap_decode_data_input(ldap, exact.data(), size)
                        : ldap_decode_data(ldap, exact.data(), size, controls));
}

// The list as the trace prints it; "" for none.
inline std::string printed(lresult *list)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    lresult_log(list, out, "");
    fclose(out);
    std::string result(text, size);
    free(text);
    return result;
}

// An initialised handle whose errors are recorded.
struct TestHandle : ldap_handle {
    TestHandle()
    {
        ldap_init(this, log_message, nullptr);
        logged_messages.clear();
    }
    ~TestHandle() { ldap_clear(this); }
};

struct ResultList : static_list {
    ResultList() { static_init(this, nullptr); }
    ~ResultList() { ldap_clear_result_list(this); }
    std::vector<std::string> dns()
    {
        std::vector<std::string> out;
        for (lresult *e = ldap_first_entry(this); e; e = ldap_next_entry(this))
            out.push_back(ldap_get_dn(e) ? ldap_get_dn(e) : "(null)");
        return out;
    }
};

struct ModList : ldap_mod {
    ModList() { ldap_mod_init(this); }
    ~ModList() { ldap_mod_clear(this); }
    ModList &add(int operation, const char *type, const char *value)
    {
        ldap_mod_add(this, operation, type, value);
        return *this;
    }
    ModList &more(const char *type, const char *value)
    {
        ldap_mod_add_value(this, type, value);
        return *this;
    }
};

// Each item of a modification list as "operation type: values...".
inline std::vector<std::string> items_of(ldap_mod &mod)
{
    std::vector<std::string> items;
    for (int i = 0; i < static_size(&mod.items); i++) {
        auto *item = static_cast<ldap_mod_item *>(static_get_num(&mod.items, i));
        items.push_back(std::to_string(item->operation) + " " + item->type + ":");
        for (int v = 0; v < static_size(&item->values); v++)
            items.back().append(" ").append(static_cast<char *>(static_get_num(&item->values, v)));
    }
    return items;
}

// A fake-server reply step that accepts a bind.
inline std::string bind_ok(const std::string &request) { return ldap_result_bytes(0x61, ber_message_id(request), 0); }

// Gives the handle an owned channel to the fake server, without a bind.
inline void attach(ldap_handle *ldap, const FakeServer &fake)
{
    ldap->chan = static_cast<chan_rec *>(malloc(sizeof(chan_rec)));
    chan_init(ldap->chan);
    ldap->own_chan = 1;
    ASSERT_EQ(1, chan_open(ldap->chan, fake.host(), fake.port(), 5));
}

// A handle and a fake server whose script the test writes before start().
class FakeTest : public ::testing::Test {
  protected:
    // Plays the script and attaches the handle, or connects it with a bind
    // (which the script must answer first).
    void start(bool bind = false)
    {
        fake.start();
        ldap_setup(&h, fake.host(), fake.port());
        if (!bind) return attach(&h, fake);
        ASSERT_EQ(0, ldap_connect(&h, "", ""));
    }
    TestHandle h;  // outlives the server: ldap_clear sees it hang up
    FakeServer fake;
};

// A suite whose tests share one private slapd, started once, with a
// referral object; each test's handle is bound as the directory's root.
class SlapdSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        SlapdOptions options;
        options.ldif.push_back("tests/data/referral.ldif");
        server = new Slapd(options);
        server->start();
    }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override
    {
        ASSERT_TRUE(server->running()) << server->error();
        ldap_setup(&h, server->host(), server->port());
        ASSERT_EQ(0, ldap_connect(&h, server->options().rootdn.c_str(), server->options().rootpw.c_str()));
    }
    TestHandle h;
    inline static Slapd *server = nullptr;
};
