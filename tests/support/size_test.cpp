#include "support/size.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct texts {
    std::string full, k, space;
};

texts texts_of(const size_counter &c)
{
    char *a = size_get(&c), *b = size_get_k(&c), *s = size_get_space(&c);
    texts t{a, b, s};
    free(a);
    free(b);
    free(s);
    return t;
}

TEST(Size, AddsAndCarries)
{
    size_counter c;
    size_init(&c);
    texts t = texts_of(c);
    EXPECT_EQ(t.full + t.k + t.space, "000");

    size_add(&c, 999999);
    size_add(&c, 1);
    EXPECT_EQ(c.units, 0u);
    EXPECT_EQ(c.millions, 1u);
    t = texts_of(c);
    EXPECT_EQ(t.full, "1000000");
    EXPECT_EQ(t.space, "1M");

    size_init(&c);
    size_add(&c, 1234567890);
    EXPECT_EQ(c.millions, 1234u);
    EXPECT_EQ(c.units, 567890u);
    t = texts_of(c);
    EXPECT_EQ(t.full, "1234567890");
    EXPECT_EQ(t.k, "1234567");
    EXPECT_EQ(t.space, "1234M");

    size_init(&c);
    size_add(&c, 4294967295u);
    EXPECT_EQ(c.millions, 4294u);
    EXPECT_EQ(c.units, 967295u);

    c = size_counter{7, 5, 0};
    EXPECT_EQ(texts_of(c).full, "5000007");
    EXPECT_EQ(texts_of(c).k, "5000");
}

TEST(Size, ShortFiguresAndLargeTotals)
{
    size_counter c{1000, 0, 0};
    EXPECT_EQ(texts_of(c).space, "1000");
    c.units = 1001;
    EXPECT_EQ(texts_of(c).space, "1k");
    c.units = 999;
    EXPECT_EQ(texts_of(c).k, "0");

    // A million additions of 4 GB: far past 32 and 64 bits of millions.
    size_init(&c);
    for (int i = 0; i < 1000000; i++)
        size_add(&c, 4294967295u);
    EXPECT_EQ(texts_of(c).full, "4294967295000000");
    EXPECT_EQ(texts_of(c).space, "4294T");
    size_add_size(&c, &c);
    EXPECT_EQ(texts_of(c).full, "8589934590000000");
    c = size_counter{999999, 999999, 4294967295u};
    texts t = texts_of(c);
    EXPECT_EQ(t.full, "4294967295999999999999");
    EXPECT_EQ(t.k, "4294967295999999999");
    EXPECT_EQ(t.space, "4294967295T");

    size_counter a{999999, 999999, 0}, b{1, 0, 0};
    size_add_size(&a, &b);
    EXPECT_EQ(texts_of(a).full, "1000000000000");
    EXPECT_EQ(size_maxed(&a), 0);
    a.trillions = 1000000;
    EXPECT_EQ(size_maxed(&a), 0);
    a.trillions = 1000001;
    EXPECT_EQ(size_maxed(&a), 1);
}

TEST(Size, NullCounters)
{
    size_counter c{1, 0, 0};
    size_init(nullptr);
    size_add(nullptr, 5);
    size_add_size(nullptr, &c);
    size_add_size(&c, nullptr);
    EXPECT_EQ(c.units, 1u);
    EXPECT_EQ(size_get(nullptr), nullptr);
    EXPECT_EQ(size_get_k(nullptr), nullptr);
    EXPECT_EQ(size_get_space(nullptr), nullptr);
    EXPECT_EQ(size_maxed(nullptr), 0);
}

}  // namespace
