#include <gtest/gtest.h>
#include <random>
#include <string>

#include "codec_util.h"
#include "common/fake_server.h"

namespace {

const unsigned char *octets_of(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

data_element header_of(const std::string &hex_text)
{
    static std::string keep;
    keep = hex_bytes(hex_text);
    return data_break_down(octets_of(keep), static_cast<int>(keep.size()));
}

// A SearchResultEntry with ID 7: cn=a,o=b with cn: a and mail: x, y.
const char ENTRY[] =
    "30 2E 02 01 07 64 29 04 08 63 6E 3D 61 2C 6F 3D 62 30 1D"
    " 30 09 04 02 63 6E 31 03 04 01 61"
    " 30 10 04 04 6D 61 69 6C 31 08 04 01 78 04 01 79 05 00";

// n levels of SEQUENCE (four length octets each) around an empty OCTET STRING.
std::string nested(int levels)
{
    std::string element;
    for (int i = levels; i > 0; i--) {
        uint32_t length = 2 + 6 * (i - 1);
        element += "\x30\x84";
        for (int shift = 24; shift >= 0; shift -= 8)
            element += static_cast<char>(length >> shift);
    }
    return element + std::string("\x04\x00", 2);
}

}  // namespace

TEST(BerDecode, Headers)
{
    data_element e = data_break_down(nullptr, 5);
    EXPECT_EQ(-2, e.length);
    e = data_break_down(octets_of("\x04"), 1);
    EXPECT_EQ(0u, e.tag);
    EXPECT_EQ(-2, e.length);
    EXPECT_EQ(nullptr, e.content);
    EXPECT_EQ(0, e.header);

    std::string two = hex_bytes("04 00");
    e = data_break_down(octets_of(two), 2);
    EXPECT_EQ(0x04u, e.tag);
    EXPECT_EQ(0, e.length);
    EXPECT_EQ(2, e.header);
    EXPECT_EQ(octets_of(two) + 2, e.content);

    e = header_of("04 81 05 61 62 63 64 65");
    EXPECT_EQ(5, e.length);
    EXPECT_EQ(3, e.header);
    e = header_of("04 81 05 61 62 63 64");  // one octet short
    EXPECT_EQ(-2, e.length);
    EXPECT_EQ(nullptr, e.content);
    EXPECT_EQ(3, e.header);
    e = header_of("04 82 01 00 61 62");
    EXPECT_EQ(-2, e.length);
    EXPECT_EQ(4, e.header);
    e = header_of("04 82 01");  // length octets cut
    EXPECT_EQ(-2, e.length);
    EXPECT_EQ(0, e.header);
    e = header_of("04 84 FF FF FF FF 00 00 00 00 00 00");
    EXPECT_EQ(-2, e.length);
    e = header_of("04 84 80 00 00 00 00 00");
    EXPECT_EQ(-2, e.length);
    e = header_of("04 80 61 62");  // open-ended form reads as empty
    EXPECT_EQ(0, e.length);
    EXPECT_EQ(2, e.header);
    e = header_of("04 83 00 00 02 61 62 63");
    EXPECT_EQ(2, e.length);
    EXPECT_EQ(5, e.header);
    e = header_of("04 85 01 00 00 00 02 61 62");  // five octets: the last four count
    EXPECT_EQ(2, e.length);
    EXPECT_EQ(7, e.header);
    std::string entry = hex_bytes(ENTRY);
    e = data_break_down_length(octets_of(entry), 48);
    EXPECT_EQ(46, e.length);
    EXPECT_EQ(2, e.header);
    e = data_break_down_length(octets_of(entry), 47);
    EXPECT_EQ(-2, e.length);
}

TEST(BerDecode, WorkedMessages)
{
    ldap_handle ldap;
    ldap_init(&ldap, record_sink, record_sink);
    sink_lines.clear();
    List bind = decode_message(hex_bytes("30 0C 02 01 05 61 07 0A 01 00 04 00 04 00"), nullptr,
                               &ldap);
    ASSERT_FALSE(is_invalid(bind));
    ASSERT_TRUE(bind);
    EXPECT_EQ(1, lresult_application(bind.get()));
    EXPECT_EQ(5, lresult_id(bind.get()));
    ASSERT_EQ(3, lresult_size(bind.get()));
    EXPECT_EQ(10, lresult_get(bind.get(), 0)->type);
    EXPECT_EQ(-1, lresult_get_choice(bind.get(), 0));
    EXPECT_EQ(0, lresult_get_int(bind.get(), 0));
    EXPECT_EQ(4, lresult_get(bind.get(), 1)->type);
    EXPECT_EQ(0, lresult_get(bind.get(), 1)->size);
    EXPECT_EQ(nullptr, lresult_get_char(bind.get(), 1));
    ASSERT_EQ(1u, sink_lines.size());
    EXPECT_EQ("LDAP: decoded 14 data: {5}{no error}", sink_lines[0]);

    // A primitive operation: the list holds the operation as one text node.
    List unbind = decode_message(hex_bytes("30 05 02 01 03 42 00"));
    ASSERT_TRUE(unbind && !is_invalid(unbind));
    EXPECT_EQ(2, lresult_application(unbind.get()));
    EXPECT_EQ(3, lresult_id(unbind.get()));
    ASSERT_EQ(1, lresult_size(unbind.get()));
    EXPECT_EQ(4, lresult_get(unbind.get(), 0)->type);
    EXPECT_EQ(0, lresult_get(unbind.get(), 0)->size);

    List del = decode_message(hex_bytes("30 09 02 01 03 4A 04 63 6E 3D 61"));
    ASSERT_TRUE(del && !is_invalid(del));
    EXPECT_EQ(10, lresult_application(del.get()));
    EXPECT_STREQ("cn=a", lresult_get_char(del.get(), 0));

    // Controls are handed out separately.
    lresult *controls = reinterpret_cast<lresult *>(1);
    List with = decode_message(hex_bytes("30 1B 02 01 02 65 07 0A 01 00 04 00 04 00"
                                         " A0 0D 30 0B 04 03 31 2E 32 01 01 FF 04 01 78"),
                               &controls);
    List owned_controls(controls);
    ASSERT_TRUE(with && !is_invalid(with));
    EXPECT_EQ(5, lresult_application(with.get()));
    ASSERT_NE(nullptr, controls);
    lresult *control = lresult_get_result(controls, 0, 0);
    EXPECT_STREQ("1.2", lresult_get_char(control, 0));
    EXPECT_EQ(255, lresult_get_int(control, 1));
    EXPECT_STREQ("x", lresult_get_char(control, 2));

    controls = reinterpret_cast<lresult *>(1);
    List without = decode_message(hex_bytes("30 05 02 01 03 42 00"), &controls);
    EXPECT_EQ(nullptr, controls);

    // Decodes, but is not a message.
    sink_lines.clear();
    List not_message = decode_message(hex_bytes("30 03 04 01 61"), nullptr, &ldap);
    EXPECT_EQ(nullptr, not_message.get());
    ASSERT_EQ(1u, sink_lines.size());
    EXPECT_EQ("LDAP: decoded 5 data: {??}{??}", sink_lines[0]);
    EXPECT_EQ(nullptr, ldap_decode_data(&ldap, nullptr, 5, nullptr));
    EXPECT_EQ(nullptr, ldap_decode_data_input(&ldap, nullptr, 5));
}

TEST(BerDecode, ElementKinds)
{
    struct Case {
        const char *octets;
        int type;
        int choice;
        int integer;
        const char *text;
    };
    const Case cases[] = {
        {"02 02 FF FF", 2, -1, 65535, nullptr},
        {"02 05 00 FF FF FF FF", 2, -1, -1, nullptr},
        {"02 01 FF", 2, -1, 255, nullptr},
        {"02 00", 2, -1, 0, nullptr},
        {"01 01 FF", 1, -1, 255, nullptr},
        {"0A 01 03", 10, -1, 3, nullptr},
        {"04 03 61 62 63", 4, -1, 0, "abc"},
        {"13 02 61 62", 19, -1, 0, "ab"},
        {"16 02 61 62", 22, -1, 0, "ab"},
        {"03 02 00 61", 3, -1, 0, ""},
        {"87 02 63 6E", 0x87, 7, 0, "cn"},
        {"C3 01 7A", 0xC3, 3, 0, "z"},
        {"9F 01 7A", 0x9F, 15, 0, "z"},
        {"44 02 61 62", 4, -1, 0, "ab"},  // primitive APPLICATION reads as text
    };
    for (const Case &c : cases) {
        std::string octets = hex_bytes(std::string("30 00 ") + c.octets);
        octets[1] = static_cast<char>(octets.size() - 2);
        List list(ldap_decode_data_input(nullptr, octets_of(octets),
                                         static_cast<int>(octets.size())));
        ASSERT_TRUE(list && !is_invalid(list)) << c.octets;
        ASSERT_EQ(1, lresult_size(list.get())) << c.octets;
        lresult_node *node = lresult_get(list.get(), 0);
        EXPECT_EQ(c.type, node->type) << c.octets;
        EXPECT_EQ(c.choice, node->choice) << c.octets;
        if (c.text) {
            EXPECT_STREQ(c.text, lresult_get_char(list.get(), 0)) << c.octets;
            EXPECT_EQ(0, static_cast<char *>(node->value)[node->size]);
        } else {
            EXPECT_EQ(c.integer, lresult_get_int(list.get(), 0)) << c.octets;
        }
    }

    // Skipped types leave no node; a primitive SEQUENCE's contents join the list.
    std::string mixed = hex_bytes("30 14 05 00 06 01 2A 09 00 11 00 17 00 18 00 10 04 02 01 01 04 00");
    List list(ldap_decode_data_input(nullptr, octets_of(mixed), static_cast<int>(mixed.size())));
    ASSERT_TRUE(list && !is_invalid(list));
    ASSERT_EQ(2, lresult_size(list.get()));
    EXPECT_EQ(2, lresult_get(list.get(), 0)->type);
    EXPECT_EQ(4, lresult_get(list.get(), 1)->type);

    // Constructed elements of every class nest, choice from the low four bits.
    std::string tagged = hex_bytes("30 08 A3 02 04 00 78 02 04 00");
    List outer(ldap_decode_data_input(nullptr, octets_of(tagged), static_cast<int>(tagged.size())));
    ASSERT_EQ(2, lresult_size(outer.get()));
    EXPECT_EQ(16, lresult_get(outer.get(), 0)->type);
    EXPECT_EQ(3, lresult_get_choice(outer.get(), 0));
    EXPECT_EQ(8, lresult_get_choice(outer.get(), 1));
    EXPECT_EQ(24, outer->application);
}

TEST(BerDecode, SearchEntry)
{
    List entry = decode_message(hex_bytes(ENTRY));
    ASSERT_TRUE(entry && !is_invalid(entry));
    EXPECT_EQ(4, lresult_application(entry.get()));
    EXPECT_EQ(7, lresult_id(entry.get()));
    EXPECT_STREQ("cn=a,o=b", lresult_get_char(entry.get(), 0));
    lresult *attributes = lresult_get_result(entry.get(), 1, 0);
    ASSERT_EQ(2, lresult_size(attributes));
    lresult *mail = lresult_get_result(attributes, 1, 0);
    EXPECT_STREQ("mail", lresult_get_char(mail, 0));
    lresult *values = lresult_get_result(mail, 1, 0);
    EXPECT_EQ(1, lresult_get_choice(mail, 1));
    ASSERT_EQ(2, lresult_size(values));
    EXPECT_STREQ("y", lresult_get_char(values, 1));
}

TEST(BerDecode, JunkIsRefused)
{
    ldap_handle ldap;
    ldap_init(&ldap, record_sink, record_sink);

    sink_lines.clear();
    EXPECT_TRUE(is_invalid(decode_message(hex_bytes("30 05 02 01"), nullptr, &ldap)));
    ASSERT_EQ(1u, sink_lines.size());
    EXPECT_EQ("LDAP: Invalid Input Data (-2): Size=4", sink_lines[0]);

    sink_lines.clear();
    EXPECT_TRUE(is_invalid(decode_message(hex_bytes("30 05 02 01 03 07 00"), nullptr, &ldap)));
    ASSERT_EQ(1u, sink_lines.size());
    EXPECT_EQ("LDAP: decoded -1 data: {0}{Unknown Type} - Expected Junk Data", sink_lines[0]);

    // An inner element longer than its container.
    sink_lines.clear();
    EXPECT_TRUE(is_invalid(decode_message(hex_bytes("30 07 02 01 03 61 05 04 00"), nullptr, &ldap)));
    EXPECT_EQ("LDAP: decoded -1 data: {0}{Unknown Type} - Expected Junk Data", sink_lines.at(0));
    EXPECT_TRUE(is_invalid(decode_message(hex_bytes("30 04 30 02 04 05"))));
    EXPECT_TRUE(is_invalid(decode_message(hex_bytes("30 03 30 01 04"))));
    EXPECT_TRUE(is_invalid(decode_message(hex_bytes("30 04 1F 02 61 62"))));  // tag number 31

    // A primitive element decoded straight into a list.
    lresult list;
    lresult_init(&list);
    data_element e = header_of("07 00");
    EXPECT_EQ(-1, ldap_decode_BD(nullptr, &e, &list));
    EXPECT_STREQ("Unknown Type", list.error);
    EXPECT_EQ(0, ldap_decode_BD(nullptr, nullptr, &list));
    e = header_of("04 05 61");
    EXPECT_EQ(-1, ldap_decode_BD(nullptr, &e, &list));
    e = header_of("04 01 61");
    EXPECT_EQ(3, ldap_decode_BD(nullptr, &e, &list));
    EXPECT_EQ(1, lresult_size(&list));
    lresult_clear(&list);
}

TEST(BerDecode, NestingDepthLimit)
{
    ldap_handle ldap;
    ldap_init(&ldap, record_sink, nullptr);
    List ok(ldap_decode_data_input(nullptr, octets_of(nested(64)), static_cast<int>(nested(64).size())));
    ASSERT_TRUE(ok && !is_invalid(ok));
    sink_lines.clear();
    std::string deep = nested(65);
    List refused(ldap_decode_data_input(&ldap, octets_of(deep), static_cast<int>(deep.size())));
    EXPECT_TRUE(is_invalid(refused));
    EXPECT_EQ("LDAP: decoded -1 data: {0}{Nesting Too Deep} - Expected Junk Data", sink_lines.at(0));
    std::string very_deep = nested(200000);
    EXPECT_TRUE(is_invalid(decode_message(very_deep)));
}

TEST(BerDecode, TruncatedAndOverlongInput)
{
    std::string entry = hex_bytes(ENTRY);
    // Every cut of a whole message is refused, never read beyond its end.
    for (size_t cut = 0; cut < entry.size(); cut++) {
        std::string part(entry, 0, cut);
        std::unique_ptr<unsigned char[]> exact(new unsigned char[cut + 1]);
        memcpy(exact.get(), part.data(), cut);
        List list(ldap_decode_data(nullptr, exact.get(), static_cast<int>(cut), nullptr));
        EXPECT_TRUE(is_invalid(list)) << cut;
    }
    // Octets after the message belong to the next one and are left alone.
    List list = decode_message(entry + entry.substr(0, 10));
    ASSERT_TRUE(list && !is_invalid(list));
    EXPECT_EQ(7, lresult_id(list.get()));
    // Lengths that claim more than there is, in every length form.
    for (const char *bad : {"30 84 7F FF FF FF 02 01 01", "30 81 FF 02 01 01", "30 83 01 00 00 02",
                            "30 06 02 01 01 64 84 FF FF FF F0", "30 05 02 84 00 00 00 09",
                            "30 80 02 01 01 00 00"}) {
        List refused = decode_message(hex_bytes(bad));
        EXPECT_TRUE(!refused || is_invalid(refused)) << bad;
    }
}

TEST(BerDecode, RandomInput)
{
    // Random octets and random mutations of a valid entry: any outcome but a
    // crash or a read beyond the input (the sanitizer build checks that).
    std::mt19937 random(12345);
    std::string entry = hex_bytes(ENTRY);
    for (int round = 0; round < 20000; round++) {
        std::string octets;
        if (round % 2) {
            octets = entry;
            int changes = 1 + random() % 4;
            for (int i = 0; i < changes; i++)
                octets[random() % octets.size()] = static_cast<char>(random());
            octets.resize(random() % (octets.size() + 1));
        } else {
            octets.resize(random() % 64);
            for (char &c : octets)
                c = static_cast<char>(random() % 4 ? random() : "\x30\x04\x02\x84\x80\x81\x0A\x64"[random() % 8]);
        }
        std::unique_ptr<unsigned char[]> exact(new unsigned char[octets.size() + 1]);
        memcpy(exact.get(), octets.data(), octets.size());
        lresult *controls = nullptr;
        List list(ldap_decode_data(nullptr, exact.get(), static_cast<int>(octets.size()), &controls));
        List owned(controls);
        List input(ldap_decode_data_input(nullptr, exact.get(), static_cast<int>(octets.size())));
    }
}
