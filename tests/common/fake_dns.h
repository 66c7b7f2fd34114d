// A scripted DNS server on UDP port 53 of a loopback address (root only),
// answering from a table of whole replies, and builders for DNS messages.
// Point a resolver at it with run_with_resolver (common/private_resolver.h)
// and FAKE_DNS_RESOLV_CONF. One server per address at a time: tests that may
// run in parallel use addresses of their own (127.0.0.154, ...).
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A resolver configuration naming the server at its default address, with
// short time-outs.
#define FAKE_DNS_RESOLV_CONF "nameserver 127.0.0.153\noptions timeout:1 attempts:1\n"

class FakeDns {
  public:
    // A silent one reads the queries and answers none.
    explicit FakeDns(const std::string &address = "127.0.0.153", bool silent = false);
    ~FakeDns();  // stops the thread, closes the socket
    FakeDns(const FakeDns &) = delete;
    FakeDns &operator=(const FakeDns &) = delete;

    bool running() const { return fd_ >= 0; }
    // Answers queries whose question is reply's (name, in the same case, type
    // and class) with reply, its ID set to theirs. Others get NXDOMAIN.
    void serve(const std::string &reply);

  private:
    void loop();
    std::string answer(const std::string &query);

    int fd_ = -1;
    bool silent_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::map<std::string, std::string> replies_;  // by question
    std::thread thread_;
};

struct DnsSrv {
    int priority, weight, port;
    std::string target;
};

// A name in wire form ("a.b" -> 01 'a' 01 'b' 00; "" or "." the root).
std::string dns_name(const std::string &name);
// A reply (ID 0, no error unless rcode says) to the question for name and
// type, with count answer records given already encoded.
std::string dns_reply(const std::string &name, int type, int count, const std::string &answers, int rcode = 0);
// A reply of SRV records, each owned by the question's name.
std::string dns_srv_reply(const std::string &name, const std::vector<DnsSrv> &records);
