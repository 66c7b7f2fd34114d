#include <climits>

#include "ldap_testing.h"

// Integers with a sign octet where the top bit is set, booleans as 0xFF;
// two length octets from 128 to 31999, then definite long forms only.
TEST(BerEncode, WorkedEncodings)
{
    Buf buf;
    data_add_integer(&buf.b, 128);
    data_add_integer(&buf.b, static_cast<uint32_t>(-1));
    data_add_bool(&buf.b, 42);
    data_add_string(&buf.b, nullptr);
    data_upper_app(&buf.b, 0x23);  // all of it wrapped, constructed
    EXPECT_EQ("631002020080020500FFFFFFFF0101FF0400", buf.hex());
    const std::pair<int, const char *> lengths[] = {
        {128, "04820080"}, {31999, "04827CFF"}, {32000, "0483007D00"}, {INT_MAX, "04847FFFFFFF"}};
    for (const auto &c : lengths) {
        Buf start;
        data_start(&start.b, 0x04, c.first);
        data_end(&start.b);
        EXPECT_EQ(c.second, start.hex());
    }
}

TEST(BerEncode, BufferLifeAndFailure)
{
    Buf buf, parent, raw;
    data_add_string(&buf.b, "abc");
    EXPECT_EQ(0, buf.b.data[buf.b.length]);  // the uncounted spare octet
    data_clear(&buf.b);
    data_add_integer(&buf.b, 1);         // reusable without data_init
    data_data(&parent.b, &buf.b, 0xA0);  // leaves the source alone
    data_add_data(&parent.b, &buf.b);    // copies it raw
    EXPECT_EQ("A003020101020101", parent.hex());
    EXPECT_EQ("020101", buf.hex());

    // A count that cannot be held fails the buffer without reading the
    // octets; the failure sticks and spreads to whatever wraps or copies it.
    data_add(&buf.b, "x", INT_MAX - 2);
    EXPECT_EQ(nullptr, buf.b.data);
    data_add_string(&buf.b, "more");
    data_data(&parent.b, &buf.b, 0x30);
    data_add_data(&raw.b, &buf.b);
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), (std::vector<int>{buf.b.length, parent.b.length, raw.b.length}));
    data_clear(&buf.b);  // and data_clear makes it usable again
    data_add_enum(&buf.b, 1);
    data_add_enum(&buf.b, 256);  // all of it: a scope of 256 is no base search
    EXPECT_EQ("0A01010A020100", buf.hex());
}
