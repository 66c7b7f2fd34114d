// Shared by the address-book tests against a scripted directory (the fake
// server): answers built per message ID, a bind and the schema read after
// it, pages, and the configuration that reaches the server.
#pragma once
#include <chrono>
#include <functional>
#include <string>

#include "book_testing.h"
#include "common/fake_server.h"

using Clock = std::chrono::steady_clock;
using Make = std::function<std::string(int id)>;

inline double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The next request, answered by what make builds for its message ID.
inline void answer(FakeServer &fake, Make make)
{
    fake.read_request().reply([make](const std::string &request) { return make(ber_message_id(request)); });
}

// Entries cn=a, cn=b, ... (from cn=first on) of a search.
inline std::string entries(int id, int count, char first = 'a')
{
    std::string out;
    for (char c = first; c < first + count; c++)
        out += ldap_entry_bytes(id, std::string("cn=") + c, "cn", std::string(1, c));
    return out;
}

inline const Make BIND_OK = [](int id) { return ldap_result_bytes(0x61, id, 0); };
inline const Make TWO = [](int id) { return entries(id, 2) + ldap_result_bytes(0x65, id, 0); };
inline const std::string ALL = "SEARCH AND 1-0 name=*";
inline const std::string TWO_FOUND = "cn!3Da,\ncn!3Db" + located(2);
// Short waits: one second each, so a whole command may take three.
inline const std::string QUICK = "connect_timeout 1\ntimeout 1\ntime_limit 1\n";

// The bind answered by bind, and the reading of the schema after a
// successful one refused.
inline void bind_ok(FakeServer &fake, Make bind = BIND_OK)
{
    answer(fake, bind);
    answer(fake, [](int id) { return ldap_result_bytes(0x65, id, 50, "no schema for you"); });
}

// A SearchResultDone of success with the paged-results control: the next
// page's cookie, or a malformed control value.
inline std::string page_done(int id, const std::string &cookie, bool malformed = false)
{
    std::string value = ber_element(0x30, ber_integer(0x02, 0) + ber_element(0x04, cookie));
    std::string control = ber_element(0x04, "1.2.840.113556.1.4.319") + ber_element(0x04, malformed ? "junk" : value);
    return ber_element(0x30, ber_integer(0x02, id) + ber_element(0x65, hex_bytes("0a 01 00 04 00 04 00")) +
                                 ber_element(0xA0, ber_element(0x30, control)));
}

inline std::string fake_config(const FakeServer &fake, const std::string &more = "")
{
    return "host 127.0.0.1\nport " + std::to_string(fake.port()) + "\nfield name STRING cn true\n" + more;
}
