// SEARCH over entries of every shape: those whose DN is read where it lies
// and those left to the decoder (which decodes them all when debugging)
// are listed and counted alike.
#include <gtest/gtest.h>

#include "scripted_directory.h"

TEST(ScriptedDirectory, EntriesOfEveryShapeListAlike)
{
    const Make shapes = [](int id) {
        auto entry = [id](const std::string &fields, const std::string &more = "") {
            return ber_element(0x30, ber_integer(0x02, id) + ber_element(0x64, fields) + more);
        };
        const std::string none = ber_element(0x30, "");
        return ldap_entry_bytes(id, "cn=a", "cn", "a") +
               entry(ber_element(0x04, "cn=b") + none, ber_element(0xA0, ber_element(0x30, ""))) +
               entry("") + entry(ber_element(0x04, "") + none) +  // no DN: counted only
               entry(ber_element(0x04, std::string("cn=c\0x", 6)) + none) +
               entry(hex_bytes("05 00") + ber_element(0x04, "cn=d")) +  // the decoder's alone
               ldap_entry_bytes(id + 1, "cn=x", "cn", "x") +          // another request's
               hex_bytes("30 82 00 0f 02 01") + char(id) + hex_bytes("64 82 00 08 04 04") + "cn=e" +
               hex_bytes("30 00") + ldap_result_bytes(0x65, id, 0);
    };
    for (const std::string debug : {"", "debug true\n"}) {
        FakeServer fake;
        bind_ok(fake);
        answer(fake, shapes);
        answer(fake, shapes);
        fake.start();
        Book book(fake_config(fake, debug));
        // Debugging, the decoder's lines come first.
        EXPECT_TRUE(ends_with(book.ask(ALL), "cn!3Da,\ncn!3Db,\ncn!3Dc,\ncn!3Dd,\ncn!3De" + located(7)));
        EXPECT_TRUE(ends_with(book.ask("SEARCH AND 2-5 name=*"), "cn!3Db,\ncn!3Dc" + located(7)));
    }
}
