// The BER decoder and the decoded lists with their accessors.
#include <climits>

#include "ldap_testing.h"

namespace {

// "application/id/size" of a decoded message.
std::string shape(const List &list)
{
    if (!list || list.get() == LRESULT_INVALID) return list ? "invalid" : "null";
    return std::to_string(lresult_application(list.get())) + "/" + std::to_string(lresult_id(list.get())) + "/" +
           std::to_string(lresult_size(list.get()));
}

// n levels of SEQUENCE (four length octets each) around an empty OCTET STRING.
std::string nested(int levels)
{
    std::string element;
    for (uint32_t i = levels, length; i > 0; i--) {
        length = 2 + 6 * (i - 1);
        element += {'\x30', '\x84', char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
    }
    return element + std::string("\x04\x00", 2);
}

}  // namespace

TEST(BerDecode, ElementKindsAndAccessors)
{
    // type, choice, lresult_check, lresult_get_size (text: + 1), integer, text.
    const std::tuple<const char *, int, int, int, int, int, const char *> cases[] = {
        {"02 02 FF FF", 2, -1, 1, 2, 65535, nullptr},
        {"02 05 00 FF FF FF FF", 2, -1, 1, 5, -1, nullptr},
        {"02 05 01 00 00 00 00", 2, -1, 1, 5, INT_MIN, nullptr},  // 2^32 is not 0
        {"04 05 68 65 6C 6C 6F", 4, -1, 2, 6, 0, "hello"},
        {"87 02 63 6E", 0x87, 7, 4, 3, 0, "cn"},   // tagged primitives hold text
        {"78 02 04 00", 16, 8, 3, 2, 0, nullptr},  // choice from the low four bits
    };
    for (const auto &[octets, type, choice, kind, size, integer, text] : cases) {
        std::string element = hex_bytes(octets);
        List list = decode_message(std::string{'\x30', char(element.size())} + element, nullptr, nullptr, true);
        lresult *l = list.get();
        ASSERT_EQ(1, lresult_size(l)) << octets;
        lresult_node *node = lresult_get(l, 0);
        EXPECT_EQ(std::make_tuple(type, choice, kind, size, integer),
                  std::make_tuple(node->type, lresult_get_choice(l, 0), lresult_check(l, 0), lresult_get_size(l, 0),
                                  lresult_get_int(l, 0)))
            << octets;
        EXPECT_STREQ(text, lresult_get_char(l, 0)) << octets;
        EXPECT_EQ(kind == 3, lresult_get_result(l, 0, 0) != nullptr) << octets;
        EXPECT_EQ(choice < 0 ? nullptr : node->value, lresult_get_choice_data(l, 0, nullptr)) << octets;
    }
    // Skipped types leave no node; a primitive SEQUENCE's contents join the list.
    List mixed = decode_message(hex_bytes("30 14 05 00 06 01 2A 09 00 11 00 17 00 18 00 10 04 02 01 01 04 00"), nullptr,
                                nullptr, true);
    ASSERT_EQ(2, lresult_size(mixed.get()));
    EXPECT_EQ(2 * 16 + 4, lresult_get(mixed.get(), 0)->type * 16 + lresult_get(mixed.get(), 1)->type);
    // Null, failed and one past the end all miss.
    for (lresult *l : {static_cast<lresult *>(nullptr), LRESULT_INVALID, mixed.get()})
        EXPECT_TRUE(!lresult_get(l, 2) && !lresult_get_char(l, 2) && !lresult_get_result(l, 2, 0) &&
                    lresult_get_choice(l, 2) == -1 && lresult_get_int(l, 2) == 0);
}

TEST(BerDecode, JunkDepthAndCuts)
{
    TestHandle ldap;
    EXPECT_EQ("invalid", shape(decode_message(hex_bytes("30 05 02 01 03 07 00"), nullptr, &ldap)));
    EXPECT_EQ("invalid", shape(decode_message(nested(65), nullptr, &ldap, true)));
    EXPECT_EQ(1, lresult_size(decode_message(nested(64), nullptr, nullptr, true).get()));
    // Read in place, an entry nested as deep as the decoder takes, and no deeper.
    for (int levels : {62, 63}) {
        std::string octets = ldap_message(7, ber_element(0x64, nested(levels)));
        int id = 0;
        ldap_entry_view entry = {nullptr, 0, nullptr};
        EXPECT_EQ(levels == 62 ? 1 : -1, ldap_entry_read(reinterpret_cast<const unsigned char *>(octets.data()),
                                                         static_cast<int>(octets.size()), &id, &entry));
        EXPECT_EQ(levels == 62, shape(decode_message(octets)) != "invalid") << levels;
    }
    decode_message(hex_bytes("30 05 02 01"), nullptr, &ldap);  // cut
    EXPECT_EQ((std::vector<std::string>{"LDAP: decoded -1 data: {0}{Unknown Type} - Expected Junk Data",
                                        "LDAP: decoded -1 data: {0}{Nesting Too Deep} - Expected Junk Data",
                                        "LDAP: Invalid Input Data (-2): Size=4"}),
              logged_messages);
}

TEST(BerDecode, EntryReadInPlace)
{
    // The octets; what ldap_entry_read answers and the DN ldap_view_dn reads
    // ("-" for none). Whatever it reads, the decoder must read alike.
    const std::tuple<std::string, int, const char *> cases[] = {
        {"30 0D 02 01 07 64 08 04 04 63 6E 3D 61 30 00", 1, "cn=a"},
        {"30 82 00 0F 02 01 07 64 82 00 08 04 04 63 6E 3D 61 30 00", 1, "cn=a"},     // long forms
        {"30 0D 02 01 07 64 08 04 04 63 00 3D 61 30 00", 1, "c"},                    // up to a zero
        {"30 07 02 01 07 64 02 04 00", 1, "-"},                                      // empty: none
        {"30 0B 02 01 07 64 06 05 00 04 02 63 6E", 1, "cn"},                         // the decoder skips the NULL
        {"30 0B 02 01 07 64 06 80 02 63 6E 30 00", 1, "cn"},                         // a tagged DN
        {"30 0A 02 01 07 64 05 02 01 05 30 00", 1, "-"},                             // a number
        {"30 0C 02 01 07 64 04 04 02 63 6E 04 01 78", 0, "-"},                       // more after the entry
        {"30 0C 02 01 07 65 07 0A 01 00 04 00 04 00", 0, "-"},                       // another operation
        {"31 0D 02 01 07 64 08 04 04 63 6E 3D 61 30 00", 0, "-"},                    // no SEQUENCE around it
        {"30 0F 02 01 07 64 06 04 00 30 02 31 00 A0 00 05 00", 0, "-"},              // more after the controls
        {"30 0D 02 01 07 64 08 04 04 63 6E 3D 61 07 00", -1, "-"},                   // an unknown type
        {"30 0D 02 01 07 64 08 04 07 63 6E 3D 61 30 00", -1, "-"},                   // a DN past its entry
        {"30 12 02 01 07 64 0D 04 85 01 00 00 00 04 63 6E 3D 61 30 00", -1, "-"},    // a length of 2^32 + 4
        {"30 12 02 01 07 64 0D 04 85 00 00 00 00 04 63 6E 3D 61 30 00", 1, "cn=a"},  // 4, in five octets
        {"30 0F 02 01 07 64 06 04 00 30 02 31 00 A0 02 31 00", 1, "-"},
        {"30 0F 02 01 07 64 06 04 00 30 02 31 00 A0 02 1F 00", -1, "-"},  // junk controls
    };
    for (const auto &[hex, expected, dn] : cases) {
        std::string octets = hex_bytes(hex);
        int id = 0, length = 0;
        ldap_entry_view entry = {nullptr, 0, nullptr};
        EXPECT_EQ(expected, ldap_entry_read(reinterpret_cast<const unsigned char *>(octets.data()),
                                            static_cast<int>(octets.size()), &id, &entry))
            << hex;
        const char *read = ldap_view_dn(expected == 1 ? &entry : nullptr, &length);
        EXPECT_EQ(dn, read ? std::string(read, static_cast<size_t>(length)) : "-") << hex;
        List decoded = decode_message(octets);
        if (expected == -1) {
            EXPECT_EQ("invalid", shape(decoded)) << hex;
        } else if (expected == 1) {
            const char *text = ldap_get_dn(decoded.get());
            EXPECT_EQ(dn, std::string(text ? text : "-")) << hex;
            EXPECT_TRUE(id == 7 && lresult_application(decoded.get()) == LDAP_SEARCH_ENTRY) << hex;
        }
    }
}
