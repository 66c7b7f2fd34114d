// extern_book when the directory misbehaves or turns hostile: a scripted
// server that ends searches on a time limit, sends junk, announces replies
// too large to buffer, falls silent, drips, or hides lines in its texts; a
// slapd killed in the middle of a long search. Each fault fails one command
// in good time, and the next one is answered.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "scripted_directory.h"

static std::string repeated(const std::string &piece, int count)
{
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(count));
    for (int i = 0; i < count; i++)
        out += piece;
    return out;
}

TEST(ScriptedDirectory, FaultsFailOneCommandEach)
{
    std::mt19937 random(20261207);
    std::string noise(2044, '\0');
    for (char &c : noise)
        c = static_cast<char>(random());
    const std::string huge = hex_bytes("30 84 04 00 00 01 02 01");  // 64 MiB + 1 announced
    // A search result whose code is not one: 2^32, 2^64 and 2^31 must not
    // pass for success (0) nor for the client's own failure (-1).
    auto done_coded = [](const std::string &code) {
        return [code](int id) {
            return entries(id, 1) + ldap_message(id, ber_element(0x65, hex_bytes(code) + hex_bytes("04 00 04 00")));
        };
    };
    const Make junk[] = {
        [](int) { return "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\nNot LDAP.\r\n"; },
        // An operation no server sends; a DN longer than its entry.
        [](int id) { return hex_bytes("30 05 02 01") + char(id) + hex_bytes("57 00"); },
        [](int id) { return hex_bytes("30 0c 02 01") + char(id) + hex_bytes("64 07 04 40 63 6e 3d 61 30"); },
        // A value announcing 64 MiB + 1 inside a small message.
        [](int id) {
            return hex_bytes("30 19 02 01") + char(id) +
                   hex_bytes("64 14 04 04 63 6e 3d 61 30 0c 30 0a 04 02 63 6e 31 84 04 00 00 01");
        },
        // A notice of disconnection (message ID 0) instead of the reply.
        [](int) {
            return hex_bytes("30 24 02 01 00 78 1f 0a 01 02 04 00 04 00 8a 16") + "1.3.6.1.4.1.1466.20036";
        },
        [noise](int) { return hex_bytes("30 82 07 fc") + noise; },  // random octets, well wrapped
        // A message of 64 MiB + 1, alone or after an entry in the same read.
        [huge](int id) { return huge + char(id) + "\x64"; },
        [huge](int id) { return entries(id, 1) + huge + char(id) + "\x64"; },
        done_coded("0a 05 01 00 00 00 00"),
        done_coded("0a 09 01 00 00 00 00 00 00 00 00"),
        done_coded("0a 04 80 00 00 00"),
        done_coded("04 00"),
    };
    FakeServer fake;
    bind_ok(fake);
    answer(fake, [](int id) { return entries(id, 3) + ldap_result_bytes(0x65, id, 3, "out of time"); });
    answer(fake, [](int id) { return ldap_result_bytes(0x65, id, 3, "out of time"); });
    answer(fake, [](int id) { return entries(id, 2) + ldap_result_bytes(0x65, id, 11, "look-through limit"); });
    // Junk for the search, on a connection left open: refused at once. The
    // bind of the one retry gets junk too, on a connection also left open:
    // the command fails without waiting for an answer to its unbind. The
    // next one reconnects and is served.
    for (const Make &make : junk) {
        answer(fake, make);
        answer(fake.next_connection(true), make);
        bind_ok(fake.next_connection(true));
        answer(fake, TWO);
    }
    fake.start();

    Book book(fake_config(fake, QUICK));
    const std::string limit = "Error: LDAP: Search {Time Limit Exceeded - out of time}\n";
    book.converse({{"SEARCH AND 2-0 name=*", limit + "cn!3Db,\ncn!3Dc" + located(3)},
                   {ALL, limit + NONE},
                   {ALL, "Error: LDAP: Search {Admin Limit Exceeded - look-through limit}\n" + TWO_FOUND}});
    // A search asks for DNs only, with the configured time limit, and for
    // the first page of 500 entries with a control that is not critical.
    EXPECT_TRUE(ends_with(fake.requests().at(2), hex_bytes("02 01 01 01 01 00 87 02") + "cn" +
                                                     hex_bytes("30 05 04 03") + "1.1" + hex_bytes("a0 27 30 25 04 16") +
                                                     "1.2.840.113556.1.4.319" + hex_bytes("01 01 00 04 08 30 06 02 02 01 f4 04 00")));
    for (size_t i = 0; i < std::size(junk); i++) {
        auto start = Clock::now();
        EXPECT_TRUE(ends_with(book.ask(ALL), NONE)) << "junk " << i;
        EXPECT_LT(seconds_since(start), 0.9) << "junk " << i;
        EXPECT_EQ(book.ask(ALL), TWO_FOUND) << "junk " << i;
    }
}

// A directory that is slow, silent or drips its answers, at start-up or in
// a command: every wait ends in time, and one that ran out is not repeated.
TEST(ScriptedDirectory, EveryWaitIsBounded)
{
    // Other messages than the awaited answer, and the answer one octet at a
    // time: neither may hold a bind beyond one wait for data.
    const std::string others = repeated(ldap_result_bytes(0x61, 99, 0), 40);
    const std::string bound = ldap_result_bytes(0x61, 1, 0);
    const std::function<void(FakeServer &)> slow_binds[] = {
        [&](FakeServer &f) { f.read_request().send(others, static_cast<int>(others.size() / 40), 100); },
        [&](FakeServer &f) { f.read_request().send(bound, 1, 400); },
    };
    const std::string no_bind = "(LDAP server failed to return back 'BIND_RESPONSE' {NULL})\n";
    for (const auto &slow_bind : slow_binds) {
        FakeServer fake;
        slow_bind(fake);
        fake.start();
        auto start = Clock::now();
        ProcessResult r = run_book(fake_config(fake, QUICK), "COMMANDS\n");
        EXPECT_EQ(r.out, "-failure Failed to connect to host {127.0.0.1:" + std::to_string(fake.port()) + "}" +
                             no_bind);
        EXPECT_EQ(r.status, 1);
        EXPECT_LT(seconds_since(start), 3.0);
    }

    {  // a schema read answered drop by drop holds start-up for one wait at most
        FakeServer fake;
        answer(fake, BIND_OK);
        fake.read_request().send(ldap_entry_bytes(2, "", "subschemaSubentry", "cn=Subschema"), 1, 300);
        fake.start();
        auto start = Clock::now();
        Book book(fake_config(fake, QUICK));
        EXPECT_LT(seconds_since(start), 1.8);
    }

    // In a command: the re-bind after a lost connection, a silent search and
    // a dripping one. Each fails within its bound, without a second try; the
    // next command connects afresh and is served.
    const std::string dripped = TWO(3);  // after the bind (1) and the schema read (2)
    const struct {
        const char *what;
        std::function<void(FakeServer &)> script;
        double at_least, at_most;
    } rows[] = {
        {"re-bind answered by others", [&](FakeServer &f) { answer(f, [](int) { return std::string(); });
                                                           f.close().next_connection(); slow_binds[0](f); }, 0.9, 3.0},
        {"re-bind dripped", [&](FakeServer &f) { answer(f, [](int) { return std::string(); });
                                                f.close().next_connection(); slow_binds[1](f); }, 0.9, 3.0},
        {"silent search", [](FakeServer &f) { f.read_request(); }, 0.9, 2.0},
        {"dripped search", [&](FakeServer &f) { f.read_request().send(dripped, 1, 100); }, 1.9, 3.0},
        // Lost after 1.5 s, well before the search's own 2 s wait ends: the
        // second try has only what is left of three.
        {"retry within the command's deadline", [&](FakeServer &f) {
             f.read_request().send(dripped.substr(0, 15), 1, 100).close().next_connection();
             bind_ok(f);
             f.read_request().send(dripped, 1, 100); }, 2.8, 3.6},
    };
    for (const auto &row : rows) {
        FakeServer fake;
        bind_ok(fake);
        row.script(fake);
        bind_ok(fake.next_connection(true));
        answer(fake, TWO);
        fake.start();
        Book book(fake_config(fake, QUICK));
        auto start = Clock::now();
        EXPECT_TRUE(ends_with(book.ask(ALL), NONE)) << row.what;
        EXPECT_GT(seconds_since(start), row.at_least) << row.what;
        EXPECT_LT(seconds_since(start), row.at_most) << row.what;
        EXPECT_EQ(book.ask(ALL), TWO_FOUND) << row.what;
    }
}

// Texts the directory sends reach the host only within their own line, and
// an empty value or attribute type is shown like any other.
TEST(ScriptedDirectory, DirectoryTextsCannotForgeLines)
{
    const std::string forged = "x\r\n+success 99 located.\n-failure\x01\x7f";
    const std::string shown = "x  +success 99 located. -failure  ";
    // A refused bind, its text shown with what an Active Directory sub-code
    // in it means (the text cut to leave room for that).
    const std::string ad = "80090308: LdapErr: DSID-0C09042A, comment: AcceptSecurityContext error, data ";
    const std::pair<std::string, std::string> refusals[] = {
        {forged, shown},
        {ad + "532, v3839", ad + "532, v3839 (password expired)"},
        {ad + "775, v3839\r\n+success", ad + "775, v3839  +success (account locked out)"},
        {std::string(600, 'x') + " data 533", std::string(400, 'x') + " (account disabled)"},
    };
    for (const auto &refusal : refusals) {
        FakeServer fake;
        answer(fake, [&](int id) { return ldap_result_bytes(0x61, id, 49, refusal.first); });
        fake.start();
        ProcessResult r = run_book(fake_config(fake), "COMMANDS\n");
        std::string reason = "Invalid Credentials - " + refusal.second;
        EXPECT_EQ(r.out, "Error: LDAP: Connect {" + reason + "}\n-failure Failed to connect to host "
                         "{127.0.0.1:" + std::to_string(fake.port()) + "}(" + reason + ")\n");
    }
    FakeServer fake;
    bind_ok(fake, [&](int id) { return ldap_result_bytes(0x61, id, 0, forged); });
    answer(fake, [&](int id) { return ldap_result_bytes(0x65, id, 32, forged); });
    answer(fake, [&](int id) { return ldap_result_bytes(0x65, id, 32, "", forged); });
    answer(fake, [&](int id) {
        std::string reference = ldap_message(id, ber_element(0x73, ber_element(0x04, forged)));
        std::string referral = ber_element(0xA3, ber_element(0x04, forged));
        return entries(id, 1) + reference + ldap_result_bytes(0x65, id, 10, forged, "", referral);
    });
    answer(fake, [&](int) { return ldap_result_bytes(0x78, 0, 2, forged, "", ber_element(0x8A, "1.3.6.1.4.1.1466.20036")); });
    bind_ok(fake.next_connection(true), [&](int id) { return ldap_result_bytes(0x61, id, 0, forged); });
    answer(fake, TWO);
    answer(fake, [&](int id) {
        return ldap_entry_bytes(id, "cn=a", {{"", {"v"}}, {"mail", {"", forged, "b@x"}}, {"cn", {"c"}},
                                             {"MAIL", {"again"}}}) +
               ldap_result_bytes(0x65, id, 0);
    });
    fake.start();

    Book book(fake_config(fake, "field email STRING mail false\ndebug true\n"));
    std::string error = "Error: LDAP: Search {No Such Object - " + shown + "}\n";
    EXPECT_TRUE(ends_with(book.ask(ALL), error + NONE));
    EXPECT_TRUE(ends_with(book.ask("GET cn!3Da"), error + "-failure 'cn!3Da' Failed {No Such Object - " + shown + "}.\n"));
    EXPECT_TRUE(ends_with(book.ask(ALL), "cn!3Da" + located(1)));
    EXPECT_TRUE(ends_with(book.ask(ALL), TWO_FOUND));
    // Values keep all but their line ends; a type seen before shows the
    // first one's values again. GET names the attributes it wants, and
    // pages not.
    const std::string mail = "email=\nemail=x  +success 99 located. -failure\x01\x7f\nemail=b@x\n";
    EXPECT_TRUE(ends_with(book.ask("GET cn!3Da"), "\n" + mail + "name=c\n" + mail + "+success 'cn!3Da' located.\n"));
    EXPECT_TRUE(ends_with(fake.requests().back(), hex_bytes("30 0a 04 02") + "cn" + hex_bytes("04 04") + "mail"));
}
// A GET reads one entry and a search keeps a bounded number of referrals,
// whatever the directory sends: 200,000 entries for the one, 500,000
// references for the other cost no more memory than a few.
TEST(ScriptedDirectory, FloodsStayInBoundedMemory)
{
    const int flood = 200000;
    const std::string url = "ldap://elsewhere.example.com/" + std::string(70, 'u');
    FakeServer fake;
    bind_ok(fake);
    answer(fake, [](int id) { return entries(id, 1) + repeated(entries(id, 1), flood) + ldap_result_bytes(0x65, id, 0); });
    answer(fake, [&](int id) {
        std::string reference = ldap_message(id, ber_element(0x73, ber_element(0x04, url)));
        return repeated(reference, 500000) + TWO(id);
    });
    fake.start();
    Book book(fake_config(fake));
    [[maybe_unused]] long before = process_status_kb(book.process().pid(), "VmHWM");
    EXPECT_EQ(book.ask("GET cn!3Da", 60000), "Error: the directory sent " + std::to_string(flood) +
                                                 " more entries for one base entry; the first is shown\n"
                                                 "name=a\n+success 'cn!3Da' located.\n");
    EXPECT_EQ(book.ask(ALL, 60000), TWO_FOUND);
#ifndef __SANITIZE_ADDRESS__  // its allocator holds on to freed blocks
    EXPECT_LT(process_status_kb(book.process().pid(), "VmHWM") - before, 20000);
#endif
}

// 10,000 people with long descriptions: a search of all of them is far
// larger than what the sockets can buffer.
class Outage : public BookTest {
protected:
    static const int PEOPLE = 10000;
    static void SetUpTestSuite()
    {
        TempDir data;
        std::ofstream ldif(data.file("people.ldif"));
        for (int i = 0; i < PEOPLE; i++)
            ldif << "dn: cn=Person " << i << ",ou=People,dc=example,dc=com\nobjectClass: inetOrgPerson\n"
                 << "cn: Person " << i << "\nsn: Bulk\nmail: person" << i << "@example.com\n"
                 << "description: " << std::string(1000, 'd') << "\n\n";
        ldif.close();
        SlapdOptions bulk = options();
        bulk.ldif.push_back(data.file("people.ldif"));
        start(bulk);
    }
};

// Octets the process has read so far, from any descriptor.
static long long bytes_read(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

TEST_F(Outage, DirectoryKilledMidSearchStoppedAndRestarted)
{
    Book &book = greeted("field fullname STRING cn true\nfield email STRING mail true\ndebug true\n");
    ChildProcess &child = book.process();
    // Stop the service as soon as entries come, so that slapd is blocked on
    // a full socket when it is killed.
    long long before = bytes_read(child.pid());
    ASSERT_GT(before, 0);
    child.write("SEARCH AND 1-0 fullname=Person*\n");
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (bytes_read(child.pid()) < before + 8192 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(kill(child.pid(), SIGSTOP), 0);
    slapd->stop();
    ASSERT_EQ(kill(child.pid(), SIGCONT), 0);
    std::string reply = child.read_reply(20000);
    EXPECT_NE(reply.find("Debug: reconnecting failed"), std::string::npos) << reply;
    EXPECT_TRUE(ends_with(reply, NONE));

    // Restarted between commands: the next command reconnects (same host,
    // same bind), and is retried there.
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    std::string person = "cn!3DPerson!2042!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom";
    std::string got = "fullname=Person 42\nemail=person42@example.com\n+success '" + person + "' located.\n";
    reply = book.ask("GET " + person);
    EXPECT_NE(reply.find("Debug: directory connection lost"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Debug: reconnected to 127.0.0.1:"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Debug: LDAP: decoded "), std::string::npos) << reply;  // the client's own
    EXPECT_TRUE(ends_with(reply, got)) << reply;

    // Down between commands: they fail; back again: they work.
    slapd->stop();
    reply = book.ask("GET " + person);
    EXPECT_TRUE(ends_with(reply, "' Failed {Connection to Socket Failed.}.\n")) << reply;
    ASSERT_TRUE(slapd->restart()) << slapd->error();
    EXPECT_TRUE(ends_with(book.ask("GET " + person), got));
    std::string all = book.ask("SEARCH AND 1-0 fullname=Person*", 60000);
    EXPECT_TRUE(ends_with(all, located(PEOPLE)));
    EXPECT_EQ(std::count(all.begin(), all.end(), ','), PEOPLE - 1);
}
