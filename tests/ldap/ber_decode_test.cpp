// The BER decoder and the decoded lists with their accessors.
#include <random>

#include "ldap_testing.h"

namespace {

const unsigned char *octets_of(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

// "application/id/size" of a decoded message.
std::string shape(const List &list)
{
    if (!list || is_invalid(list))
        return is_invalid(list) ? "invalid" : "null";
    return std::to_string(lresult_application(list.get())) + "/" + std::to_string(lresult_id(list.get())) +
           "/" + std::to_string(lresult_size(list.get()));
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
    const struct {
        const char *octets;
        int length, header;
    } cases[] = {
        {"04", -2, 0},
        {"04 00", 0, 2},
        {"04 81 05 61 62 63 64 65", 5, 3},
        {"04 81 05 61 62 63 64", -2, 3},  // one octet short
        {"04 82 01", -2, 0},              // length octets cut
        {"04 84 FF FF FF FF 00 00 00 00 00 00", -2, 6},
        {"04 80 61 62", 0, 2},  // the open-ended form reads as empty
        {"04 83 00 00 02 61 62 63", 2, 5},
        {"04 85 01 00 00 00 02 61 62", 2, 7},  // only the last four octets count
    };
    for (const auto &c : cases) {
        std::string octets = hex_bytes(c.octets);
        data_element e = data_break_down_length(octets_of(octets), static_cast<int>(octets.size()));
        EXPECT_EQ(std::make_pair(c.length, c.header), std::make_pair(e.length, e.header)) << c.octets;
        EXPECT_EQ(c.length == -2 ? nullptr : octets_of(octets) + c.header, e.content) << c.octets;
        EXPECT_EQ(octets.size() < 2 ? 0u : 4u, e.tag) << c.octets;
    }
    EXPECT_EQ(-2, data_break_down(nullptr, 5).length);
}

TEST(BerDecode, WorkedMessages)
{
    ldap_handle ldap;
    ldap_init(&ldap, log_message, log_message);
    logged_messages.clear();
    List bind = decode_message(hex_bytes("30 0C 02 01 05 61 07 0A 01 00 04 00 04 00"), nullptr, &ldap);
    EXPECT_EQ("1/5/3", shape(bind));
    EXPECT_EQ(10, lresult_get(bind.get(), 0)->type);
    EXPECT_EQ(nullptr, lresult_get_char(bind.get(), 1));
    EXPECT_EQ(std::vector<std::string>{"LDAP: decoded 14 data: {5}{no error}"}, logged_messages);

    // Primitive operations: the list holds the operation as one text node.
    EXPECT_EQ("2/3/1", shape(decode_message(hex_bytes("30 05 02 01 03 42 00"))));
    EXPECT_STREQ("cn=a", lresult_get_char(decode_message(hex_bytes("30 09 02 01 03 4A 04 63 6E 3D 61")).get(), 0));

    // Controls are handed out separately, or null when there are none.
    lresult *controls = nullptr;
    List with = decode_message(hex_bytes("30 1B 02 01 02 65 07 0A 01 00 04 00 04 00"
                                         " A0 0D 30 0B 04 03 31 2E 32 01 01 FF 04 01 78"),
                               &controls);
    List owned_controls(controls);
    EXPECT_EQ("5/2/3", shape(with));
    lresult *control = lresult_get_result(controls, 0, 0);
    EXPECT_STREQ("1.2", lresult_get_char(control, 0));
    EXPECT_EQ(255, lresult_get_int(control, 1));
    controls = reinterpret_cast<lresult *>(1);
    decode_message(hex_bytes("30 05 02 01 03 42 00"), &controls);
    EXPECT_EQ(nullptr, controls);

    List entry = decode_message(hex_bytes(ENTRY));
    EXPECT_EQ("4/7/2", shape(entry));
    EXPECT_STREQ("cn=a,o=b", lresult_get_char(entry.get(), 0));
    lresult *mail = lresult_get_result(lresult_get_result(entry.get(), 1, 0), 1, 0);
    EXPECT_STREQ("mail", lresult_get_char(mail, 0));
    EXPECT_EQ(1, lresult_get_choice(mail, 1));
    EXPECT_STREQ("y", lresult_get_char(lresult_get_result(mail, 1, 0), 1));

    // Decodes, but is not a message.
    logged_messages.clear();
    EXPECT_EQ(nullptr, decode_message(hex_bytes("30 03 04 01 61"), nullptr, &ldap).get());
    EXPECT_EQ(std::vector<std::string>{"LDAP: decoded 5 data: {??}{??}"}, logged_messages);
    EXPECT_EQ(nullptr, ldap_decode_data(&ldap, nullptr, 5, nullptr));
    EXPECT_EQ(nullptr, ldap_decode_data_input(&ldap, nullptr, 5));
}

TEST(BerDecode, ElementKindsAndAccessors)
{
    // kind is lresult_check's; size is lresult_get_size's (text: + 1).
    const struct {
        const char *octets;
        int type, choice, kind, size, integer;
        const char *text;
    } cases[] = {
        {"02 02 FF FF", 2, -1, 1, 2, 65535, nullptr},
        {"02 05 00 FF FF FF FF", 2, -1, 1, 5, -1, nullptr},
        {"02 00", 2, -1, 1, 0, 0, nullptr},
        {"01 01 FF", 1, -1, 1, 1, 255, nullptr},
        {"0A 01 03", 10, -1, 1, 1, 3, nullptr},
        {"04 05 68 65 6C 6C 6F", 4, -1, 2, 6, 0, "hello"},
        {"13 02 61 62", 19, -1, 2, 3, 0, "ab"},
        {"16 02 61 62", 22, -1, 2, 3, 0, "ab"},
        {"03 02 00 61", 3, -1, 2, 3, 0, ""},
        {"44 02 61 62", 4, -1, 2, 3, 0, "ab"},    // primitive APPLICATION reads as text
        {"87 02 63 6E", 0x87, 7, 4, 3, 0, "cn"},  // tagged primitives hold text
        {"C3 01 7A", 0xC3, 3, 4, 2, 0, "z"},
        {"9F 01 7A", 0x9F, 15, 4, 2, 0, "z"},
        {"A3 02 04 00", 16, 3, 3, 2, 0, nullptr},
        {"78 02 04 00", 16, 8, 3, 2, 0, nullptr},  // choice from the low four bits
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.octets);
        std::string octets = hex_bytes(std::string("30 00 ") + c.octets);
        octets[1] = static_cast<char>(octets.size() - 2);
        List list = decode_element(octets);
        ASSERT_EQ(1, lresult_size(list.get()));
        lresult_node *node = lresult_get(list.get(), 0);
        EXPECT_EQ(c.type, node->type);
        EXPECT_EQ(c.choice, lresult_get_choice(list.get(), 0));
        EXPECT_EQ(c.kind, lresult_check(list.get(), 0));
        EXPECT_EQ(c.size, lresult_get_size(list.get(), 0));
        EXPECT_EQ(c.integer, lresult_get_int(list.get(), 0));
        EXPECT_STREQ(c.text, lresult_get_char(list.get(), 0));
        if (c.text) {
            EXPECT_EQ(0, static_cast<char *>(node->value)[node->size]);
        }
        EXPECT_EQ(c.kind == 3, lresult_get_result(list.get(), 0, 0) != nullptr);
        int size = 99;
        EXPECT_EQ(c.choice < 0 ? nullptr : node->value, lresult_get_choice_data(list.get(), 0, &size));
        EXPECT_EQ(c.choice < 0 ? 0 : node->size, size);
    }

    // Skipped types leave no node; a primitive SEQUENCE's contents join the list.
    List mixed = decode_element(hex_bytes("30 14 05 00 06 01 2A 09 00 11 00 17 00 18 00 10 04 02 01 01 04 00"));
    ASSERT_EQ(2, lresult_size(mixed.get()));
    EXPECT_EQ(2, lresult_get(mixed.get(), 0)->type);
    EXPECT_EQ(4, lresult_get(mixed.get(), 1)->type);
}

TEST(BerDecode, JunkDeepTruncatedAndOverlong)
{
    ldap_handle ldap;
    ldap_init(&ldap, log_message, nullptr);
    // An unknown tag, an inner element longer than its container, a cut
    // inner header, a multi-octet tag.
    for (const char *junk : {"30 05 02 01 03 07 00", "30 07 02 01 03 61 05 04 00", "30 03 30 01 04",
                             "30 04 1F 02 61 62"}) {
        logged_messages.clear();
        EXPECT_TRUE(is_invalid(decode_message(hex_bytes(junk), nullptr, &ldap))) << junk;
        EXPECT_EQ(std::vector<std::string>{"LDAP: decoded -1 data: {0}{Unknown Type} - Expected Junk Data"},
                  logged_messages);
    }
    logged_messages.clear();
    EXPECT_TRUE(is_invalid(decode_element(nested(65), &ldap)));
    EXPECT_EQ("LDAP: decoded -1 data: {0}{Nesting Too Deep} - Expected Junk Data", logged_messages.at(0));
    EXPECT_EQ(1, lresult_size(decode_element(nested(64)).get()));
    EXPECT_TRUE(is_invalid(decode_message(nested(200000))));

    // Every cut of a message is refused (with its size when the first
    // element is cut); octets after it are left alone.
    logged_messages.clear();
    decode_message(hex_bytes("30 05 02 01"), nullptr, &ldap);
    EXPECT_EQ("LDAP: Invalid Input Data (-2): Size=4", logged_messages.at(0));
    std::string entry = hex_bytes(ENTRY);
    for (size_t cut = 1; cut < entry.size(); cut++)
        EXPECT_TRUE(is_invalid(decode_message(entry.substr(0, cut)))) << cut;
    EXPECT_EQ("4/7/2", shape(decode_message(entry + entry.substr(0, 10))));
    // Lengths that claim more than there is, in every length form.
    for (const char *bad : {"30 84 7F FF FF FF 02 01 01", "30 81 FF 02 01 01", "30 83 01 00 00 02",
                            "30 06 02 01 01 64 84 FF FF FF F0", "30 05 02 84 00 00 00 09",
                            "30 80 02 01 01 00 00"}) {
        std::string got = shape(decode_message(hex_bytes(bad)));
        EXPECT_TRUE(got == "null" || got == "invalid") << bad;
    }

    // Random mutations of the entry: any outcome but a crash or a read
    // beyond the input (the sanitizer build checks that).
    std::mt19937 random(12345);
    for (int round = 0; round < 10000; round++) {
        std::string octets = entry;
        for (int changes = 1 + random() % 4; changes > 0; changes--)
            octets[random() % octets.size()] = static_cast<char>(random());
        octets.resize(random() % (octets.size() + 1));
        lresult *controls = nullptr;
        List message = decode_message(octets, &controls);
        List owned(controls);
        decode_element(octets);
    }
}

TEST(LResult, MissesRemovalAndClearing)
{
    // INTEGER of 2 octets, OCTET STRING "hello", nested [3] {04 00}, [7] "cn".
    List list = decode_element(hex_bytes("30 13 02 02 01 00 04 05 68 65 6C 6C 6F A3 02 04 00 87 02 63 6E"));
    for (lresult *l : {static_cast<lresult *>(nullptr), LRESULT_INVALID, list.get()}) {
        int position = l == list.get() ? 4 : 0;  // one past the end
        int size = 99;
        EXPECT_EQ(0, lresult_check(l, position));
        EXPECT_EQ(nullptr, lresult_get(l, -1));
        EXPECT_EQ(-1, lresult_get_choice(l, position));
        EXPECT_EQ(nullptr, lresult_get_choice_data(l, position, &size));
        EXPECT_EQ(0, size);
        EXPECT_EQ(nullptr, lresult_get_result(l, position, 1));
        EXPECT_EQ(0, lresult_get_int(l, position));
        EXPECT_EQ(nullptr, lresult_get_char(l, position));
        EXPECT_EQ(0, lresult_get_size(l, position));
        lresult_remove(l, position);
    }
    lresult_init(LRESULT_INVALID);
    lresult_clear(LRESULT_INVALID);
    EXPECT_EQ(0, lresult_size(LRESULT_INVALID) + lresult_application(LRESULT_INVALID) + lresult_id(nullptr));

    // A nested list taken out survives the clearing of its parent, which
    // keeps its application and ID.
    lresult *l = list.get();
    l->application = 4;
    l->id = 9;
    List nested(lresult_get_result(l, 2, 1));
    EXPECT_STREQ("cn", lresult_get_char(l, 2));
    lresult_remove(l, 0);
    EXPECT_STREQ("hello", lresult_get_char(l, 0));
    lresult_clear(l);
    EXPECT_EQ(1, lresult_size(nested.get()));
    EXPECT_EQ("4/9/0", shape(list));
}
