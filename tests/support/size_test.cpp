// Byte counters: carries between the three parts and the three texts.
#include "support/size.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// "full|k|space" of a counter.
std::string texts(const size_counter &c)
{
    std::string out;
    for (char *t : {size_get(&c), size_get_k(&c), size_get_space(&c)}) {
        out += (out.empty() ? "" : "|") + std::string(t);
        free(t);
    }
    return out;
}

TEST(Size, AddsCarriesAndPrints)
{
    size_counter c;
    size_init(&c);
    EXPECT_EQ(texts(c), "0|0|0");
    size_add(&c, 999999);
    size_add(&c, 1);
    EXPECT_EQ(c.millions * 1000000ull + c.units, 1000000ull);
    EXPECT_EQ(texts(c), "1000000|1000|1M");
    size_init(&c);
    size_add(&c, 4294967295u);  // no overflow on the way
    EXPECT_EQ(texts(c), "4294967295|4294967|4294M");

    struct {
        size_counter c;
        const char *texts;
    } cases[] = {
        {{1000, 0, 0}, "1000|1|1000"},
        {{1001, 0, 0}, "1001|1|1k"},
        {{999, 0, 0}, "999|0|999"},
        {{7, 5, 0}, "5000007|5000|5M"},  // lower parts always in full width
        {{999999, 999999, 4294967295u}, "4294967295999999999999|4294967295999999999|4294967295T"},
    };
    for (const auto &k : cases)
        EXPECT_EQ(texts(k.c), k.texts);

    // A million additions of 4 GB: far past 64 bits of bytes in millions.
    size_init(&c);
    for (int i = 0; i < 1000000; i++)
        size_add(&c, 4294967295u);
    EXPECT_EQ(texts(c), "4294967295000000|4294967295000|4294T");
    size_add_size(&c, &c);
    EXPECT_EQ(texts(c), "8589934590000000|8589934590000|8589T");
    size_counter a{999999, 999999, 0}, one{1, 0, 0};
    size_add_size(&a, &one);
    EXPECT_EQ(texts(a), "1000000000000|1000000000|1T");
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
    for (char *text : {size_get(nullptr), size_get_k(nullptr), size_get_space(nullptr)})
        EXPECT_EQ(text, nullptr);
    EXPECT_EQ(size_maxed(nullptr), 0);
}

}  // namespace
