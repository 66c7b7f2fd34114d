#include <climits>

#include "ldap_testing.h"

TEST(BerEncode, WorkedEncodings) {
    using Encode = void (*)(data_buf *);
    const std::pair<Encode, const char *> cases[] = {
        {[](data_buf *b) { data_add_integer(b, 128); }, "02020080"},
        {[](data_buf *b) { data_add_integer(b, static_cast<uint32_t>(-1)); }, "020500FFFFFFFF"},
        {[](data_buf *b) { data_add_bool(b, 42); }, "0101FF"},
        {[](data_buf *b) { data_add_enum(b, 300); }, "0A012C"},
        {[](data_buf *b) { data_add_string(b, nullptr); }, "0400"},
        {[](data_buf *b) { data_add_binary(b, "a\0b", 3); }, "0403610062"},
        {[](data_buf *b) { data_upper_app(b, 0x23); }, "4300"},  // never constructed when empty
    };
    for (const auto &c : cases) {
        Buf buf;
        c.first(&buf.b);
        EXPECT_EQ(c.second, buf.hex());
    }
    // Two length octets from 128 to 31999, then definite long forms only.
    const std::pair<int, const char *> lengths[] = {
        {128, "04820080"}, {31999, "04827CFF"}, {32000, "0483007D00"},
        {0x1000000, "048401000000"}, {INT_MAX, "04847FFFFFFF"}};
    for (const auto &c : lengths) {
        Buf buf;
        data_start(&buf.b, 0x04, c.first);
        data_end(&buf.b);
        EXPECT_EQ(c.second, buf.hex());
    }
    Buf big;
    data_add_string(&big.b, std::string(40000, 'x').c_str());
    data_add_upper(&big.b, 0x30);  // constructed
    EXPECT_EQ(10 + 40000, big.b.length);
    EXPECT_EQ("3083009C450483009C40", big.hex().substr(0, 20));
}

TEST(BerEncode, BufferLifeAndFailure) {
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
    EXPECT_EQ((std::vector<int>{-1, -1, -1}),
              (std::vector<int>{buf.b.length, parent.b.length, raw.b.length}));
    data_clear(&buf.b);  // and data_clear makes it usable again
    data_add_enum(&buf.b, 1);
    EXPECT_EQ("0A0101", buf.hex());
}
