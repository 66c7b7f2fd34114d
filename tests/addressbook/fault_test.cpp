// extern_book when the directory misbehaves: a scripted server that ends
// searches on a limit, sends junk, announces replies too large to buffer,
// falls silent, drips or pages badly. Each fault fails one command in good
// time, and the next one is answered.
#include "book_testing.h"

TEST(ScriptedDirectory, FaultsFailOneCommandEach)
{
    const std::string huge = hex_bytes("30 84 04 00 00 01 02 01");  // 64 MiB + 1 announced
    // A search result whose code is not one: 2^32, 2^64 and 2^31 must not
    // pass for success (0) nor for the client's own failure (-1).
    auto done_coded = [](const std::string &code) {
        return [code](int id) {
            return entries(id, 1) + ldap_message(id, ber_element(0x65, hex_bytes(code + " 04 00 04 00")));
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
        [](int) { return hex_bytes("30 24 02 01 00 78 1f 0a 01 02 04 00 04 00 8a 16") + "1.3.6.1.4.1.1466.20036"; },
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
    // next one reconnects and is served. A GET failing so names why the
    // re-bind failed.
    for (const Make &make : junk) {
        answer(fake, make);
        answer(fake.next_connection(true), make);
        bind_ok(fake.next_connection(true));
        answer(fake, TWO);
    }
    // Junk for both tries' searches, then the next command's connection
    // lost at its search: that command still has its one retry.
    answer(fake, junk[0]);
    bind_ok(fake.next_connection(true));
    answer(fake, junk[0]);
    bind_ok(fake.next_connection(true));
    fake.read_request().close().next_connection();
    bind_ok(fake);
    answer(fake, TWO);
    answer(fake, junk[0]);
    answer(fake.next_connection(true), junk[0]);
    fake.start();

    Book book(fake_config(fake, QUICK));
    const int open_fds = process_open_fds(book.process().pid());
    const std::string limit = "Error: LDAP: Search {Time Limit Exceeded - out of time}\n";
    EXPECT_EQ(book.ask("SEARCH AND 2-0 name=*"), limit + "cn!3Db,\ncn!3Dc" + located(3));
    EXPECT_EQ(book.ask(ALL), limit + NONE);
    EXPECT_EQ(book.ask(ALL), "Error: LDAP: Search {Admin Limit Exceeded - look-through limit}\n" + TWO_FOUND);
    // A search asks for DNs only, with the configured time limit, and for
    // the first page of 500 entries with a control that is not critical.
    EXPECT_TRUE(ends_with(fake.requests().at(2), hex_bytes("02 01 01 01 01 00 87 02") + "cn" +
                                                     hex_bytes("30 05 04 03") + "1.1" + hex_bytes("a0 24 30 22 04 16") +
                                                     "1.2.840.113556.1.4.319" +
                                                     hex_bytes("04 08 30 06 02 02 01 f4 04 00")));
    for (size_t i = 0; i < std::size(junk); i++) {
        double took;
        EXPECT_TRUE(ends_with(book.ask(ALL, 5000, &took), NONE)) << "junk " << i;
        EXPECT_LT(took, 0.9) << "junk " << i;
        EXPECT_EQ(book.ask(ALL), TWO_FOUND) << "junk " << i;
    }
    EXPECT_EQ(process_open_fds(book.process().pid()), open_fds);  // none left by the 22 reconnections
    EXPECT_EQ(book.ask(ALL), NONE);
    EXPECT_TRUE(ends_with(book.ask(ALL), TWO_FOUND));
    EXPECT_EQ(book.ask("GET cn!3Da"),
              "-failure 'cn!3Da' Failed {LDAP server failed to return back 'BIND_RESPONSE' {NULL}}.\n");
}

// A directory that is slow, silent or drips its answers, at start-up or in
// a command, or pages badly: every wait ends in time, and one that ran out is
// not repeated. Paging that does not advance, or outlasts the command's
// deadline, ends with what came; a garbled control or a lost connection
// voids what came, and the search is tried once more, from the first page.
// (slapd pages in service_test.cpp.)
TEST(ScriptedDirectory, WaitsAndPagesEndInTime)
{
    {  // a schema read answered drop by drop holds start-up for one wait at most
        FakeServer fake;
        answer(fake, BIND_OK);
        fake.read_request().send(ldap_entry_bytes(2, "", "subschemaSubentry", "cn=Subschema"), 1, 300);
        fake.start();
        auto start = Clock::now();
        Book book(fake_config(fake, QUICK));
        EXPECT_LT(seconds_since(start), 1.8);
    }
    // A re-bind answered by other messages than the awaited answer, or one
    // octet at a time: neither may hold it beyond one wait for data.
    const std::string others = repeated(ldap_result_bytes(0x61, 99, 0), 40), bound = ldap_result_bytes(0x61, 1, 0);
    const std::string dripped = TWO(3);  // after the bind (1) and the schema read (2)
    // Entries, then success with the paged-results control: the next page's
    // cookie, or a malformed control value.
    auto page = [](int count, char first, const std::string &cookie, bool malformed = false) {
        std::string value = ber_element(0x30, ber_integer(0x02, 0) + ber_element(0x04, cookie));
        std::string control =
            ber_element(0x04, "1.2.840.113556.1.4.319") + ber_element(0x04, malformed ? "junk" : value);
        return [=](int id) {
            return entries(id, count, first) + ldap_message(id, ber_element(0x65, hex_bytes("0a 01 00 04 00 04 00")) +
                                                                    ber_element(0xA0, ber_element(0x30, control)));
        };
    };
    auto first_page = [](FakeServer &f) {  // answered only when its cookie is empty
        f.read_request().reply([](const std::string &request) {
            int id = ber_message_id(request);
            return ends_with(request, hex_bytes("01 f4 04 00")) ? TWO(id) : ldap_result_bytes(0x65, id, 1);
        });
    };
    const std::string loop = "Error: LDAP: Search {Loop Detect - ";
    const std::string lost = "Error: LDAP: Search {Error - Connection Closed by LDAP server}\n";
    const std::string late = "Error: SEARCH: the directory did not answer in time {LDAP server failed to return back "
                             "'LDAP_SEARCH_RESPONCE' {NULL}}\n";
    const std::string unbound = "Error: SEARCH: no connection to the directory {LDAP server failed to return back "
                                "'BIND_RESPONSE' {NULL}}\n";
    const struct {
        const char *what;
        bool fresh;     // the next command on a connection of its own
        Script script;  // after the bind; TWO follows
        std::string reply;
        double at_least = 0, at_most = 3.6;  // seconds the reply took
        std::string next = TWO_FOUND;        // the reply to the next SEARCH
    } rows[] = {
        // In a command: the re-bind after a lost connection, a silent search
        // and a dripping one. Each fails within its bound, without a second
        // try; the next command connects afresh and is served.
        {"re-bind answered by others", true,
         [&](FakeServer &f) {
             f.read_request().close().next_connection().read_request().send(others, int(others.size() / 40), 100);
         },
         lost + unbound + NONE, 0.9, 3.0},
        {"re-bind dripped", true,
         [&](FakeServer &f) { f.read_request().close().next_connection().read_request().send(bound, 1, 400); },
         lost + unbound + NONE, 0.9, 3.0},
        {"silent search", true, [](FakeServer &f) { f.read_request(); }, late + NONE, 0.9, 2.0},
        // The next command's fresh connection is lost at its search: that
        // command still has its one retry.
        {"silent search, then the fresh connection lost", true,
         [](FakeServer &f) {
             f.read_request();
             bind_ok(f.next_connection(true));
             f.read_request().close();
         },
         late + NONE, 0.9, 2.0, lost + TWO_FOUND},
        // Ended by the search's own deadline (its time limit and one wait: 2 s),
        // well before the command's.
        {"dripped search", true, [&](FakeServer &f) { f.read_request().send(dripped, 1, 100); }, late + NONE, 1.9, 2.5},
        // Lost after 1.5 s, well before the search's own 2 s wait ends: the
        // second try has only what is left of three.
        {"retry within the command's deadline", true,
         [&](FakeServer &f) {
             f.read_request().send(dripped.substr(0, 15), 1, 100).close().next_connection();
             bind_ok(f);
             f.read_request().send(dripped, 1, 100);
         },
         lost + late + NONE, 2.8, 3.6},
        // Pages.
        {"a cookie again", false,
         [&](FakeServer &f) {
             answer(f, page(2, 'a', "1"));
             answer(f, page(2, 'c', "2"));
             answer(f, page(1, 'e', "1"));
         },
         loop + "the directory repeated a cookie on page 3}\ncn!3Da,\ncn!3Db,\ncn!3Dc,\ncn!3Dd,\ncn!3De" + located(5)},
        // Samba keeps one cookie ("1\0" for its first stored search) for
        // every page of a search.
        {"the same cookie on every page", false,
         [&](FakeServer &f) {
             for (int i = 0; i < 2; i++) answer(f, page(2, char('a' + 2 * i), std::string("1\0", 2)));
             answer(f, page(1, 'e', ""));
         },
         "cn!3Da,\ncn!3Db,\ncn!3Dc,\ncn!3Dd,\ncn!3De" + located(5)},
        {"pages without entries", false,
         [&](FakeServer &f) {
             answer(f, page(2, 'a', "1"));
             for (const char *cookie : {"2", "3", "4"}) answer(f, page(0, 'c', cookie));
         },
         loop + "3 pages in a row brought no entry}\n" + TWO_FOUND},
        // Pages of 1.5 s each (message IDs: bind 1, schema 2, pages from 3):
        // the third outlasts the command's 3 s.
        {"past the deadline", true,
         [&](FakeServer &f) {
             answer(f, page(1, 'a', "1"));
             f.read_request().send(page(1, 'b', "2")(4), 10, 250);
             f.read_request().send(page(1, 'c', "3")(5), 10, 250);
         },
         "Error: LDAP: Search {Time Limit Exceeded - time ran out on page 3 of a paged search}\n"
         "cn!3Da,\ncn!3Db,\ncn!3Dc" +
             located(3)},
        {"a garbled control", false,
         [&](FakeServer &f) {
             answer(f, page(2, 'c', "1", true));
             bind_ok(f.next_connection(true));
             first_page(f);
         },
         TWO_FOUND},
        // The next page's request, its cookie sent back, fills the socket
        // of a directory that reads nothing more: sending ends at the deadline.
        {"a cookie the directory does not take back", true,
         [&](FakeServer &f) {
             answer(f, page(2, 'a', std::string(8 << 20, 'x')));
             f.send(ldap_result_bytes(0x65, 99, 0), 1, 250);
         },
         "Error: LDAP: Search {Time Limit Exceeded - time ran out on page 2 of a paged search}\n" + TWO_FOUND},
        {"the connection lost", false,
         [&](FakeServer &f) {
             answer(f, page(2, 'c', "1"));
             f.read_request().close().next_connection();
             bind_ok(f);
             first_page(f);
         },
         lost + TWO_FOUND},
        // The retry's first DN is the lost try's last: listed whole all the same.
        {"the connection lost, the same entries again", false,
         [&](FakeServer &f) {
             answer(f, page(2, 'c', "1"));
             f.read_request().close().next_connection();
             bind_ok(f);
             answer(f, page(2, 'd', ""));
         },
         lost + "cn!3Dd,\ncn!3De" + located(2)},
    };
    for (const auto &row : rows) {
        FakeServer fake;
        bind_ok(fake);
        row.script(fake);
        if (row.fresh) bind_ok(fake.next_connection(true));
        answer(fake, TWO);
        fake.start();
        Book book(fake_config(fake, QUICK));
        double took;
        EXPECT_EQ(book.ask(ALL, 5000, &took), row.reply) << row.what;
        EXPECT_GT(took, row.at_least) << row.what;
        EXPECT_LT(took, row.at_most) << row.what;
        EXPECT_EQ(book.ask(ALL), row.next) << row.what;
    }
}
