// SEARCH against a scripted directory that pages: paging that does not
// advance, or outlasts the command's deadline, ends with what came; a
// garbled control or a lost connection voids what came, and the search is
// tried once more, from the first page. (slapd pages in service_test.cpp.)
#include <gtest/gtest.h>

#include "scripted_directory.h"

TEST(ScriptedDirectory, PagesListedAsOneSearch)
{
    auto page = [](int count, char first, const std::string &cookie, bool malformed = false) {
        return [=](int id) { return entries(id, count, first) + page_done(id, cookie, malformed); };
    };
    auto first_page = [](FakeServer &f) {  // answered only when its cookie is empty
        f.read_request().reply([](const std::string &request) {
            int id = ber_message_id(request);
            return ends_with(request, hex_bytes("01 f4 04 00")) ? TWO(id) : ldap_result_bytes(0x65, id, 1);
        });
    };
    const std::string loop = "Error: LDAP: Search {Loop Detect - ";
    const struct {
        const char *what;
        std::function<void(FakeServer &)> script;
        std::string reply;
    } rows[] = {
        {"a cookie again", [&](FakeServer &f) { answer(f, page(2, 'a', "1")); answer(f, page(2, 'c', "2"));
                                               answer(f, page(1, 'e', "1")); answer(f, TWO); },
         loop + "the directory repeated a cookie on page 3}\ncn!3Da,\ncn!3Db,\ncn!3Dc,\ncn!3Dd,\ncn!3De" + located(5)},
        {"pages without entries", [&](FakeServer &f) { answer(f, page(2, 'a', "1"));
                                                      for (const char *cookie : {"2", "3", "4"}) answer(f, page(0, 'c', cookie));
                                                      answer(f, TWO); },
         loop + "3 pages in a row brought no entry}\n" + TWO_FOUND},
        // Pages of 1.5 s each (message IDs: bind 1, schema 2, pages from 3):
        // the third outlasts the command's 3 s.
        {"past the deadline", [&](FakeServer &f) { answer(f, page(1, 'a', "1"));
                                                  f.read_request().send(page(1, 'b', "2")(4), 10, 250);
                                                  f.read_request().send(page(1, 'c', "3")(5), 10, 250);
                                                  bind_ok(f.next_connection(true)); answer(f, TWO); },
         "Error: LDAP: Search {Time Limit Exceeded - time ran out on page 3 of a paged search}\n"
         "cn!3Da,\ncn!3Db,\ncn!3Dc" + located(3)},
        {"a garbled control", [&](FakeServer &f) { answer(f, page(2, 'c', "1", true));
                                                  bind_ok(f.next_connection(true)); first_page(f); answer(f, TWO); }, TWO_FOUND},
        {"the connection lost", [&](FakeServer &f) { answer(f, page(2, 'c', "1")); f.read_request().close().next_connection();
                                                    bind_ok(f); first_page(f); answer(f, TWO); },
         "Error: LDAP: Search {Error - Connection Closed by LDAP server}\n" + TWO_FOUND},
    };
    for (const auto &row : rows) {
        FakeServer fake;
        bind_ok(fake);
        row.script(fake);
        fake.start();
        Book book(fake_config(fake, QUICK));
        auto start = Clock::now();
        EXPECT_EQ(book.ask(ALL), row.reply) << row.what;
        EXPECT_LT(seconds_since(start), 3.6) << row.what;
        EXPECT_EQ(book.ask(ALL), TWO_FOUND) << row.what;
    }
}
