// The BER decoder and the decoded lists with their accessors.
#include "ldap_testing.h"

namespace {

// "application/id/size" of a decoded message.
std::string shape(const List &list)
{
    if (!list || list.get() == LRESULT_INVALID)
        return list ? "invalid" : "null";
    return std::to_string(lresult_application(list.get())) + "/" +
           std::to_string(lresult_id(list.get())) + "/" + std::to_string(lresult_size(list.get()));
}

// A SearchResultEntry with ID 7: cn=a,o=b with cn: a and mail: x, y.
const std::string ENTRY = hex_bytes(
    "30 2E 02 01 07 64 29 04 08 63 6E 3D 61 2C 6F 3D 62 30 1D 30 09 04 02 63 6E 31 03 "
    "04 01 61 30 10 04 04 6D 61 69 6C 31 08 04 01 78 04 01 79 05 00");

// n levels of SEQUENCE (four length octets each) around an empty OCTET STRING.
std::string nested(int levels)
{
    std::string element;
    for (uint32_t i = levels, length; i > 0; i--) {
        length = 2 + 6 * (i - 1);
        element += {'\x30',      '\x84', char(length >> 24), char(length >> 16), char(length >> 8),
                    char(length)};
    }
    return element + std::string("\x04\x00", 2);
}

}  // namespace

TEST(BerDecode, WorkedMessages)
{
    ldap_handle ldap;
    ldap_init(&ldap, log_message, log_message);
    logged_messages.clear();
    List bind =
        decode_message(hex_bytes("30 0C 02 01 05 61 07 0A 01 00 04 00 04 00"), nullptr, &ldap);
    EXPECT_EQ("1/5/3", shape(bind));
    EXPECT_EQ(10, lresult_get(bind.get(), 0)->type);
    EXPECT_EQ(std::vector<std::string>{"LDAP: decoded 14 data: {5}{no error}"}, logged_messages);
    List del = decode_message(hex_bytes("30 09 02 01 03 4A 04 63 6E 3D 61"));
    EXPECT_STREQ("cn=a", lresult_get_char(del.get(), 0));  // a primitive operation: one text

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
    decode_message(hex_bytes("30 05 02 01 03 42 00"), &controls);
    EXPECT_EQ(nullptr, controls);

    // Decodes, but is not a message.
    logged_messages.clear();
    EXPECT_EQ("null", shape(decode_message(hex_bytes("30 03 04 01 61"), nullptr, &ldap)));
    EXPECT_EQ(std::vector<std::string>{"LDAP: decoded 5 data: {??}{??}"}, logged_messages);
    EXPECT_EQ(nullptr, ldap_decode_data(&ldap, nullptr, 5, nullptr));
    EXPECT_EQ(nullptr, ldap_decode_data_input(&ldap, nullptr, 5));
}

TEST(BerDecode, ElementKindsAndAccessors)
{
    // type, choice, lresult_check, lresult_get_size (text: + 1, terminated),
    // integer, text.
    const std::tuple<const char *, int, int, int, int, int, const char *> cases[] = {
        {"02 02 FF FF", 2, -1, 1, 2, 65535, nullptr},
        {"02 05 00 FF FF FF FF", 2, -1, 1, 5, -1, nullptr},
        {"02 00", 2, -1, 1, 0, 0, nullptr},
        {"01 01 FF", 1, -1, 1, 1, 255, nullptr},
        {"0A 01 03", 10, -1, 1, 1, 3, nullptr},
        {"04 05 68 65 6C 6C 6F", 4, -1, 2, 6, 0, "hello"},
        {"13 02 61 62", 19, -1, 2, 3, 0, "ab"},
        {"03 02 00 61", 3, -1, 2, 3, 0, ""},
        {"44 02 61 62", 4, -1, 2, 3, 0, "ab"},    // primitive APPLICATION reads as text
        {"87 02 63 6E", 0x87, 7, 4, 3, 0, "cn"},  // tagged primitives hold text
        {"9F 01 7A", 0x9F, 15, 4, 2, 0, "z"},
        {"A3 02 04 00", 16, 3, 3, 2, 0, nullptr},
        {"78 02 04 00", 16, 8, 3, 2, 0, nullptr},  // choice from the low four bits
    };
    for (const auto &[octets, type, choice, kind, size, integer, text] : cases) {
        std::string element = hex_bytes(octets);
        List list = decode_element(std::string{'\x30', char(element.size())} + element);
        lresult *l = list.get();
        ASSERT_EQ(1, lresult_size(l)) << octets;
        lresult_node *node = lresult_get(l, 0);
        EXPECT_EQ(std::make_tuple(type, choice, kind, size, integer),
                  std::make_tuple(node->type, lresult_get_choice(l, 0), lresult_check(l, 0),
                                  lresult_get_size(l, 0), lresult_get_int(l, 0)))
            << octets;
        EXPECT_STREQ(text, lresult_get_char(l, 0)) << octets;
        EXPECT_TRUE(!text || !static_cast<char *>(node->value)[node->size]) << octets;
        EXPECT_EQ(kind == 3, lresult_get_result(l, 0, 0) != nullptr) << octets;
        int data_size = 99;
        EXPECT_EQ(choice < 0 ? nullptr : node->value, lresult_get_choice_data(l, 0, &data_size))
            << octets;
        EXPECT_EQ(choice < 0 ? 0 : node->size, data_size) << octets;
    }
    // Skipped types leave no node; a primitive SEQUENCE's contents join the list.
    List mixed = decode_element(
        hex_bytes("30 14 05 00 06 01 2A 09 00 11 00 17 00 18 00 10 04 02 01 01 04 00"));
    ASSERT_EQ(2, lresult_size(mixed.get()));
    EXPECT_EQ(std::make_pair(2, 4),
              std::make_pair(lresult_get(mixed.get(), 0)->type, lresult_get(mixed.get(), 1)->type));
}

TEST(BerDecode, JunkDeepTruncatedAndOverlong)
{
    ldap_handle ldap;
    ldap_init(&ldap, log_message, nullptr);
    // An unknown tag, an inner element longer than its container, a cut
    // inner header, a multi-octet tag.
    const std::string unknown = "LDAP: decoded -1 data: {0}{Unknown Type} - Expected Junk Data";
    for (const char *junk : {"30 05 02 01 03 07 00", "30 07 02 01 03 61 05 04 00", "30 03 30 01 04",
                             "30 04 1F 02 61 62"}) {
        logged_messages.clear();
        EXPECT_EQ("invalid", shape(decode_message(hex_bytes(junk), nullptr, &ldap))) << junk;
        EXPECT_EQ(std::vector<std::string>{unknown}, logged_messages);
    }
    logged_messages.clear();
    EXPECT_EQ("invalid", shape(decode_element(nested(65), &ldap)));
    EXPECT_EQ("LDAP: decoded -1 data: {0}{Nesting Too Deep} - Expected Junk Data",
              logged_messages.at(0));
    EXPECT_EQ(1, lresult_size(decode_element(nested(64)).get()));
    EXPECT_EQ(-2, data_break_down(nullptr, 5).length);
    EXPECT_EQ("invalid", shape(decode_message(nested(200000))));

    // Every cut of a message is refused (with its size when the first
    // element is cut); octets after it are left alone.
    logged_messages.clear();
    decode_message(hex_bytes("30 05 02 01"), nullptr, &ldap);
    EXPECT_EQ("LDAP: Invalid Input Data (-2): Size=4", logged_messages.at(0));
    for (size_t cut = 1; cut < ENTRY.size(); cut++)
        EXPECT_EQ("invalid", shape(decode_message(ENTRY.substr(0, cut)))) << cut;
    EXPECT_EQ("4/7/2", shape(decode_message(ENTRY + ENTRY.substr(0, 10))));
    // Lengths that claim more than there is, in every length form.
    for (const char *bad :
         {"30 84 7F FF FF FF 02 01 01", "30 81 FF 02 01 01", "30 83 01 00 00 02",
          "30 06 02 01 01 64 84 FF FF FF F0", "30 05 02 84 00 00 00 09", "30 80 02 01 01 00 00"}) {
        std::string got = shape(decode_message(hex_bytes(bad)));
        EXPECT_TRUE(got == "null" || got == "invalid") << bad;
    }
}

TEST(LResult, MissesAreHarmless)
{
    List list = decode_element(hex_bytes("30 02 04 00"));
    for (lresult *l : {static_cast<lresult *>(nullptr), LRESULT_INVALID, list.get()}) {
        int position = l == list.get() ? 1 : 0, size = 99;  // one past the end
        EXPECT_TRUE(!lresult_get(l, -1) && !lresult_get_choice_data(l, position, &size) &&
                    !lresult_get_result(l, position, 1) && !lresult_get_char(l, position));
        EXPECT_EQ(
            std::make_tuple(0, -1, 0, 0, 0),
            std::make_tuple(lresult_check(l, position), lresult_get_choice(l, position),
                            lresult_get_int(l, position), lresult_get_size(l, position), size));
        lresult_remove(l, position);
    }
    lresult_init(LRESULT_INVALID);
    lresult_clear(LRESULT_INVALID);
    EXPECT_EQ(0, lresult_size(LRESULT_INVALID) + lresult_application(LRESULT_INVALID) +
                     lresult_id(nullptr));
}
