#include <climits>
#include <gtest/gtest.h>
#include <string>

#include "codec_util.h"

TEST(BerEncode, WorkedEncodings)
{
    struct Case {
        void (*encode)(data_buf *);
        const char *expected;
    };
    const Case cases[] = {
        {[](data_buf *b) { data_add_integer(b, 0); }, "020100"},
        {[](data_buf *b) { data_add_integer(b, 5); }, "020105"},
        {[](data_buf *b) { data_add_integer(b, 127); }, "02017F"},
        {[](data_buf *b) { data_add_integer(b, 128); }, "02020080"},
        {[](data_buf *b) { data_add_integer(b, 256); }, "02020100"},
        {[](data_buf *b) { data_add_integer(b, 0x12345678); }, "020412345678"},
        {[](data_buf *b) { data_add_integer(b, 0x80000000u); }, "02050080000000"},
        {[](data_buf *b) { data_add_integer(b, 0xFFFFFFFFu); }, "020500FFFFFFFF"},
        {[](data_buf *b) { data_add_integer(b, static_cast<uint32_t>(-1)); }, "020500FFFFFFFF"},
        {[](data_buf *b) { data_add_bool(b, 1); }, "0101FF"},
        {[](data_buf *b) { data_add_bool(b, 42); }, "0101FF"},
        {[](data_buf *b) { data_add_bool(b, 0); }, "010100"},
        {[](data_buf *b) { data_add_enum(b, 2); }, "0A0102"},
        {[](data_buf *b) { data_add_enum(b, 300); }, "0A012C"},
        {[](data_buf *b) { data_add_string(b, "abc"); }, "0403616263"},
        {[](data_buf *b) { data_add_ldapdn(b, "abc"); }, "0403616263"},
        {[](data_buf *b) { data_add_string(b, ""); }, "0400"},
        {[](data_buf *b) { data_add_string(b, nullptr); }, "0400"},
        {[](data_buf *b) { data_add_IA5string(b, "abc"); }, "1603616263"},
        {[](data_buf *b) { data_add_binary(b, "a\0b", 3); }, "0403610062"},
        {[](data_buf *b) { data_add_binary(b, nullptr, 3); }, "0400"},
        {[](data_buf *b) { data_upper_app(b, 2); }, "4200"},
        {[](data_buf *b) { data_upper_app(b, 0x23); }, "4300"},  // never constructed when empty
        {[](data_buf *b) { data_add_string(b, ""); data_upper_app(b, 0x23); }, "63020400"},
        {[](data_buf *b) { data_add_integer(b, 5); data_add_upper(b, 0x30); }, "3003020105"},
        {[](data_buf *b) {
             data_add_integer(b, 5);
             data_add_bool(b, 0);
             data_add_string(b, "x");
             data_add_upper(b, 0x30);
         },
         "3009020105010100040178"},
    };
    for (const Case &c : cases) {
        Buf buf;
        c.encode(&buf.b);
        EXPECT_EQ(c.expected, buf.hex());
        EXPECT_EQ(0, buf.b.indefinite);
    }
}

TEST(BerEncode, LengthForms)
{
    struct Case {
        int length;
        const char *header;
    };
    // Two length octets from 128 to 31999, then the definite long forms.
    const Case cases[] = {{0, "0400"},           {127, "047F"},
                          {128, "04820080"},     {200, "048200C8"},
                          {255, "048200FF"},     {31999, "04827CFF"},
                          {32000, "0483007D00"}, {65536, "0483010000"},
                          {0xFFFFFF, "0483FFFFFF"}, {0x1000000, "048401000000"},
                          {INT_MAX, "04847FFFFFFF"}};
    for (const Case &c : cases) {
        Buf buf;
        data_start(&buf.b, 0x04, c.length);
        EXPECT_EQ(c.header, buf.hex()) << c.length;
        EXPECT_EQ(0, buf.b.indefinite);
        data_end(&buf.b);  // closes without adding anything
        EXPECT_EQ(c.header, buf.hex());
        EXPECT_EQ(0, buf.b.data[buf.b.length]);
    }

    // A whole long element: header, content, nothing after it.
    std::string text(40000, 'x');
    Buf big;
    data_add_string(&big.b, text.c_str());
    ASSERT_EQ(5 + 40000, big.b.length);
    EXPECT_EQ("0483009C40", hex(big.b.data, 5));
    EXPECT_EQ('x', big.b.data[big.b.length - 1]);
    EXPECT_EQ(0, big.b.data[big.b.length]);
    data_add_upper(&big.b, 0x30);
    EXPECT_EQ("3083009C45", hex(big.b.data, 5));
    EXPECT_EQ(5 + 40005, big.b.length);
}

TEST(BerEncode, BufferLifeAndNulls)
{
    Buf buf;
    data_clear(&buf.b);  // empty: unchanged
    EXPECT_EQ(0, buf.b.length);
    EXPECT_EQ(nullptr, buf.b.data);
    data_add_string(&buf.b, "abc");
    data_clear(&buf.b);
    data_add_integer(&buf.b, 1);  // reusable without data_init
    EXPECT_EQ("020101", buf.hex());

    // Text elements leave a counted-out zero octet after the encoding.
    data_clear(&buf.b);
    data_add_string(&buf.b, "abc");
    EXPECT_EQ(0, buf.b.data[buf.b.length]);

    // Null arguments are no-ops.
    data_init(nullptr);
    data_clear(nullptr);
    data_start(nullptr, 4, 1);
    data_add(nullptr, "a", 1);
    data_end(nullptr);
    data_add_integer(nullptr, 1);
    data_add_bool(nullptr, 1);
    data_add_enum(nullptr, 1);
    data_add_string(nullptr, "a");
    data_add_binary(nullptr, "a", 1);
    data_add_IA5string(nullptr, "a");
    data_add_upper(nullptr, 0x30);
    data_upper_app(nullptr, 1);
    data_data(nullptr, &buf.b, 0x30);
    data_add_data(nullptr, &buf.b);
    data_data(&buf.b, nullptr, 0x30);
    data_add_data(&buf.b, nullptr);
    data_add(&buf.b, nullptr, 5);
    data_add(&buf.b, "abc", 0);
    data_add(&buf.b, "abc", -1);
    EXPECT_EQ("0403616263", buf.hex());

    // Wrapping: data_data leaves the source alone; data_add_data copies raw.
    Buf child, parent;
    data_add_integer(&child.b, 5);
    data_add_integer(&child.b, 6);
    data_data(&parent.b, &child.b, 0xA0);
    data_add_data(&parent.b, &child.b);
    EXPECT_EQ("A006020105020106020105020106", parent.hex());
    EXPECT_EQ("020105020106", child.hex());
}

TEST(BerEncode, GrowthFailureIsSticky)
{
    // A count that cannot be held fails the buffer without reading the octets.
    Buf buf;
    data_add_string(&buf.b, "abc");
    data_add(&buf.b, "x", INT_MAX - 2);
    EXPECT_EQ(-1, buf.b.length);
    EXPECT_EQ(nullptr, buf.b.data);
    data_add_string(&buf.b, "more");
    data_add_upper(&buf.b, 0x30);
    data_upper_app(&buf.b, 3);
    EXPECT_EQ(-1, buf.b.length);

    // Failure spreads to whatever wraps or copies the failed buffer.
    Buf parent, raw;
    data_add_integer(&parent.b, 1);
    data_data(&parent.b, &buf.b, 0x30);
    EXPECT_EQ(-1, parent.b.length);
    data_add_data(&raw.b, &buf.b);
    EXPECT_EQ(-1, raw.b.length);

    data_clear(&buf.b);  // and data_clear makes it usable again
    data_add_enum(&buf.b, 1);
    EXPECT_EQ("0A0101", buf.hex());
}

TEST(BerEncode, MessageEnvelope)
{
    // Operation 2 with an empty body, message 3.
    Buf body, message;
    data_upper_app(&body.b, 2 | 0x20);
    data_add_integer(&message.b, 3);
    data_add_data(&message.b, &body.b);
    data_add_upper(&message.b, 0x30);
    EXPECT_EQ("30050201034200", message.hex());
}
