// Helpers for the LDAP client tests: a handle whose error sink is recorded,
// result lists that release themselves, and a suite sharing one slapd.
#pragma once
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "common/message_log.h"
#include "common/slapd.h"
#include "ldap/ldap.h"

// An initialised handle, released at the end of the scope.
struct TestHandle : ldap_handle {
    TestHandle()
    {
        ldap_init(this, log_message, nullptr);
        logged_messages.clear();
    }
    ~TestHandle() { ldap_clear(this); }
    TestHandle(const TestHandle &) = delete;
    TestHandle &operator=(const TestHandle &) = delete;
};

// A search result list, cleared at the end of the scope.
struct ResultList : static_list {
    ResultList() { static_init(this, nullptr); }
    ~ResultList() { ldap_clear_result_list(this); }
    ResultList(const ResultList &) = delete;
    ResultList &operator=(const ResultList &) = delete;
    int size() { return static_size(this); }
    // The DNs of the entries, in arrival order.
    std::vector<std::string> dns()
    {
        std::vector<std::string> out;
        for (lresult *e = ldap_first_entry(this); e; e = ldap_next_entry(this))
            out.push_back(ldap_get_dn(e) ? ldap_get_dn(e) : "(null)");
        return out;
    }
};

inline std::string text_or_null(const char *text)
{
    return text ? text : "(null)";
}

// Gives the handle an owned channel to host:port, without a bind.
inline void attach(ldap_handle *ldap, const char *host, int port)
{
    chan_rec *chan = static_cast<chan_rec *>(malloc(sizeof(chan_rec)));
    chan_init(chan);
    ASSERT_EQ(1, chan_open(chan, host, port, 5));
    ldap->chan = chan;
    ldap->own_chan = 1;
}

// A suite whose tests share one private slapd, started once; a suite that
// needs other options defines its own SetUpTestSuite calling start().
class SlapdSuite : public ::testing::Test {
protected:
    static void start(const SlapdOptions &options = SlapdOptions())
    {
        server = new Slapd(options);
        server->start();
    }
    static void SetUpTestSuite() { start(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->running()) << server->error(); }
    // Connects the handle and binds as the directory's root.
    static void bind_root(ldap_handle *ldap)
    {
        ldap_setup(ldap, server->host(), server->port());
        ASSERT_EQ(0, ldap_connect(ldap, server->options().rootdn.c_str(),
                                  server->options().rootpw.c_str()));
    }
    inline static Slapd *server = nullptr;
};
