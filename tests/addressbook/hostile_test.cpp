// extern_book fed what a hostile directory sends: entries of odd shapes,
// texts that try to forge reply lines, and floods of entries and
// references. What reaches the host stays in its lines, and memory stays
// bounded.
#include "book_testing.h"

// Entries of every shape: those read where they lie and those left to the
// decoder (which decodes them all when debugging) are listed, counted and
// shown alike.
TEST(ScriptedDirectory, EntriesOfEveryShapeListAlike)
{
    const Make shapes = [](int id) {
        auto entry = [id](const std::string &fields, const std::string &more = "") {
            return ber_element(0x30, ber_integer(0x02, id) + ber_element(0x64, fields) + more);
        };
        const std::string none = ber_element(0x30, "");
        return ldap_entry_bytes(id, "cn=a", "cn", "a") +
               entry(ber_element(0x04, "cn=b") + none, ber_element(0xA0, ber_element(0x30, ""))) + entry("") +
               entry(ber_element(0x04, "") + none) +  // no DN: counted only
               entry(ber_element(0x04, std::string("cn=c\0x", 6)) + none) +
               entry(hex_bytes("05 00") + ber_element(0x04, "cn=d")) +  // the decoder's alone
               ldap_entry_bytes(id + 1, "cn=x", "cn", "x") +            // another request's
               hex_bytes("30 82 00 0f 02 01") + char(id) + hex_bytes("64 82 00 08 04 04") + "cn=e" +
               hex_bytes("30 00") + ldap_result_bytes(0x65, id, 0);
    };
    // A GET's entry, its values amid elements the decoder skips.
    const Make entry = [](int id) {
        const std::string null = hex_bytes("05 00"), cn = ber_element(0x04, "cn");
        const std::string values = ber_element(0x31, ber_element(0x04, "c") + null + ber_element(0x04, "d"));
        return ldap_message(id, ber_element(0x64, null + ber_element(0x04, "cn=a") +
                                                      ber_element(0x30, null + ber_element(0x30, cn + values)))) +
               entries(id, 1) + ldap_result_bytes(0x65, id, 0);
    };
    // DNs that share 128 octets (two base-128 digits) with the one before,
    // or end before it (on '0', as the octet after a DN in an entry is), or
    // share more with one kept earlier; the base (ou=P) cut off all but one.
    const std::string a = "cn=" + std::string(125, 'a'), coded = "cn!3D" + std::string(125, 'a');
    const Make alike = [a](int id) {
        std::string out;
        for (const std::string &dn :
             {a + "b,ou=P", a + "0,ou=P", a, std::string("ou=Q,ou=P"), a + "c,ou=P", std::string("ou=P")})
            out += ldap_entry_bytes(id, dn, "cn", "a");
        return out + ldap_result_bytes(0x65, id, 0);
    };
    for (const std::string debug : {"", "debug true\n"}) {
        FakeServer fake;
        bind_ok(fake);
        answer(fake, shapes);
        answer(fake, shapes);
        answer(fake, entry);
        answer(fake, alike);
        // An entry without DN is no entry; one lost with its connection is
        // forgotten, and the retry's is shown.
        answer(fake, [](int id) { return ldap_entry_bytes(id, "", "cn", "a") + ldap_result_bytes(0x65, id, 0); });
        fake.read_request().reply([](const std::string &request) { return entries(ber_message_id(request), 1); });
        fake.close().next_connection();
        bind_ok(fake);
        answer(fake, [](int id) { return entries(id, 1, 'b') + ldap_result_bytes(0x65, id, 0); });
        fake.start();
        // Debugging, the decoder's lines come first.
        Book(fake_config(fake, "base_dn ou=P\n" + debug))
            .expect({{ALL, "cn!3Da,\ncn!3Db,\ncn!3Dc,\ncn!3Dd,\ncn!3De" + located(7)},
                     {"SEARCH AND 2-5 name=*", "cn!3Db,\ncn!3Dc" + located(7)},
                     {"GET cn!3Da", "the first is shown\nname=c\nname=d\n+success 'cn!3Da' located.\n"},
                     {ALL, coded + "b!2Cou!3DP,\n" + coded + "0!2Cou!3DP,\n" + coded + ",\nou!3DQ!2Cou!3DP,\n" + coded +
                               "c!2Cou!3DP,\nou!3DP" + located(6)},
                     {"GET cn!3Da", "-failure 'cn!3Da' Failed.\n"},
                     {"GET cn!3Da", "name=b\n+success 'cn!3Da' located.\n"}},
                    true);
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
        {std::string(600, 'x') + " data 533", std::string(400, 'x') + " (account disabled)"},
    };
    for (const auto &[text, reason] : refusals) {
        FakeServer fake;
        answer(fake, [&](int id) { return ldap_result_bytes(0x61, id, 49, text); });
        fake.start();
        const std::string why = "Invalid Credentials - " + reason;
        EXPECT_EQ(run_book(fake_config(fake), "COMMANDS\n").out,
                  "Error: LDAP: Connect {" + why + "}\n" +
                      startup_failure("127.0.0.1:" + std::to_string(fake.port()), why));
    }
    FakeServer fake;
    bind_ok(fake, [&](int id) { return ldap_result_bytes(0x61, id, 0, forged); });
    answer(fake, [&](int id) { return ldap_result_bytes(0x65, id, 32, forged); });
    answer(fake, [&](int id) { return ldap_result_bytes(0x65, id, 32, "", forged); });
    answer(fake, [&](int id) {
        std::string reference = ldap_message(id, ber_element(0x73, ber_element(0x04, forged)));
        return entries(id, 1) + reference +
               ldap_result_bytes(0x65, id, 10, forged, "", ber_element(0xA3, ber_element(0x04, forged)));
    });
    answer(fake,
           [&](int) { return ldap_result_bytes(0x78, 0, 2, forged, "", ber_element(0x8A, "1.3.6.1.4.1.1466.20036")); });
    bind_ok(fake.next_connection(true), [&](int id) { return ldap_result_bytes(0x61, id, 0, forged); });
    answer(fake, TWO);
    answer(fake, [&](int id) {
        return ldap_entry_bytes(id, "cn=a",
                                {{"", {"v"}}, {"mail", {"", forged, "b@x"}}, {"cn", {"c"}}, {"MAIL", {"again"}}}) +
               ldap_result_bytes(0x65, id, 0);
    });
    fake.start();

    std::string error = "Error: LDAP: Search {No Such Object - " + shown + "}\n";
    // Values keep all but their line ends; a type seen before shows its
    // own values. GET names the attributes it wants, and pages not.
    const std::string mail = "email=\nemail=x  +success 99 located. -failure\x01\x7f\nemail=b@x\n";
    Book(fake_config(fake, "field email STRING mail false\ndebug true\n"))
        .expect({{ALL, error + NONE},
                 {"GET cn!3Da", error + "-failure 'cn!3Da' Failed {No Such Object - " + shown + "}.\n"},
                 {ALL, "cn!3Da" + located(1)},
                 {ALL, TWO_FOUND},
                 {"GET cn!3Da", "\n" + mail + "name=c\nemail=again\n+success 'cn!3Da' located.\n"}},
                true);
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
    answer(fake,
           [](int id) { return entries(id, 1) + repeated(entries(id, 1), flood) + ldap_result_bytes(0x65, id, 0); });
    answer(fake, [&](int id) {
        return repeated(ldap_message(id, ber_element(0x73, ber_element(0x04, url))), 500000) + TWO(id);
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
    // The schema read at start-up, its base search answered by the flood:
    // it starts in as little memory as one refused.
    FakeServer flooded;
    answer(flooded, BIND_OK);
    answer(flooded, [](int id) {
        return repeated(ldap_entry_bytes(id, "", "subschemaSubentry", "cn=Subschema"), flood) +
               ldap_result_bytes(0x65, id, 0);
    });
    answer(flooded, [](int id) { return ldap_result_bytes(0x65, id, 50, "no schema for you"); });
    flooded.start();
    Book second(fake_config(flooded));
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(process_status_kb(second.process().pid(), "VmHWM") - before, 20000);
#endif
}

// Values returned in ranges ("member;range=0-1"), as Active Directory does
// past 1,500, come whole and in their attribute's place, or the GET fails:
// never part of them shown as all. A range option that is no range cannot
// tell which values came.
TEST(ScriptedDirectory, RangedValuesComeWholeOrNotAtAll)
{
    auto chunk = [](const std::string &range, const std::vector<std::string> &values, bool first = false) {
        return Make([=](int id) {
            LdapAttributes attributes = {{"member;" + range, values}};
            if (first) attributes = {{"cn", {"a"}}, attributes[0], {"mail", {"m"}}};
            return ldap_entry_bytes(id, "cn=a", attributes) + ldap_result_bytes(0x65, id, 0);
        });
    };
    FakeServer fake;
    bind_ok(fake);
    for (const Make &make : std::vector<Make>{
             chunk("range=0-1", {"1", "2"}, true), chunk("Range=2-3", {"3", "4"}), chunk("range=4-*", {"5"}),
             chunk("range=0-1", {"1", "2"}, true), chunk("range=0-1", {"1", "2"}), chunk("range=0-1", {"1", "2"}, true),
             Make([](int id) { return ldap_result_bytes(0x65, id, 51, "busy"); }), chunk("range=abc", {"1"}, true),
             chunk("range=0-1", {"1", "2"}, true), TWO, chunk("range=0-1", {"1", "2"}, true),
             chunk("range=2-5", {"3", "4"}), chunk("range=6-*", {"7"})})
        answer(fake, make);
    fake.start();
    const std::string members = "members=1\nmembers=2\nmembers=3\nmembers=4\nmembers=5\n";
    const std::string failed = "-failure 'cn!3Da' Failed {the directory sent ";
    Book(fake_config(fake, "field members STRING member false\nfield email STRING mail false\n"))
        .expect({{"GET cn!3Da", "name=a\n" + members + "email=m\n+success 'cn!3Da' located.\n"},
                 {"GET cn!3Da", failed + "values 0-1 of member where values from 2 on were due}.\n"},
                 {"GET cn!3Da", "Error: LDAP: Search {Busy - busy}\n-failure 'cn!3Da' Failed {Busy - busy}.\n"},
                 {"GET cn!3Da", failed + "values of member in a range that reads as none}.\n"},
                 {"GET cn!3Da", failed + "no values of member from 2 on}.\n"},
                 {"GET cn!3Da", failed + "values 6-* of member where values from 4 on were due}.\n"}});
    EXPECT_TRUE(ends_with(fake.requests().at(3), "member;range=2-*"));
    EXPECT_TRUE(ends_with(fake.requests().at(4), "member;range=4-*"));
}
