#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "support/nlib.h"

namespace {

int compare_ints(const void *a, const void *b)
{
    int x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return (x > y) - (x < y);
}

long comparisons;

int counting_compare(const void *a, const void *b)
{
    comparisons++;
    return compare_ints(a, b);
}

struct record12 {
    int key;
    char tag[8];
};

int compare_records(const void *a, const void *b)
{
    return compare_ints(&((const record12 *)a)->key, &((const record12 *)b)->key);
}

void expect_sorts(std::vector<int> values)
{
    std::vector<int> expected = values;
    std::sort(expected.begin(), expected.end());
    myqsort(values.data(), (int)values.size(), sizeof(int), compare_ints);
    ASSERT_EQ(values, expected);
}

}  // namespace

TEST(Sort, ExchangeSwapsEveryByteAtAnyAlignment)
{
    unsigned char buf[64];
    for (int size : {0, 1, 3, 4, 8, 11}) {
        for (int offset : {0, 1, 3}) {
            for (int k = 0; k < 64; k++)
                buf[k] = (unsigned char)k;
            unsigned char *a = buf + offset, *b = buf + 32 + offset;
            exchange(a, b, size);
            for (int k = 0; k < size; k++) {
                ASSERT_EQ(a[k], 32 + offset + k) << size << " " << offset;
                ASSERT_EQ(b[k], offset + k);
            }
            ASSERT_EQ(a[size], offset + size);  // nothing beyond the blocks
            ASSERT_EQ(b[size], 32 + offset + size);
        }
    }
    exchange(buf, buf, 8);
    exchange(nullptr, buf, 4);
    exchange(buf, nullptr, 4);
    exchange(buf, buf + 8, -4);
    EXPECT_EQ(buf[3], 32 + 3);  // the last swap above, untouched since
    EXPECT_EQ(buf[35], 3);
}

TEST(Sort, SmallAndOddShapedArrays)
{
    myqsort(nullptr, 0, 4, compare_ints);
    int one = 5;
    myqsort(&one, 1, sizeof one, compare_ints);
    EXPECT_EQ(one, 5);
    int two[] = {2, 1};
    myqsort(two, 2, sizeof(int), compare_ints);
    EXPECT_EQ(two[0], 1);
    EXPECT_EQ(two[1], 2);
    myqsort(two, 2, sizeof(int), nullptr);

    record12 records[] = {{3, "c"}, {1, "a"}, {4, "d"}, {1, "b"}, {2, "x"}};
    static_assert(sizeof(record12) == 12, "12-byte elements");
    myqsort(records, 5, sizeof(record12), compare_records);
    int keys[5];
    for (int k = 0; k < 5; k++)
        keys[k] = records[k].key;
    EXPECT_EQ(std::vector<int>(keys, keys + 5), (std::vector<int>{1, 1, 2, 3, 4}));
    EXPECT_STREQ(records[3].tag, "c");
    EXPECT_STREQ(records[4].tag, "d");

    // Odd element sizes are unaligned in the array.
    char triples[] = "zzzaaammmbbb";
    myqsort(triples, 4, 3, [](const void *a, const void *b) { return std::memcmp(a, b, 3); });
    EXPECT_STREQ(triples, "aaabbbmmmzzz");
}

TEST(Sort, MatchesStdSortOnRandomData)
{
    std::mt19937 rng(3);
    for (int round = 0; round < 300; round++) {
        std::uniform_int_distribution<int> length(0, 400), spread(1, round % 3 == 0 ? 4 : 1000000);
        int range = spread(rng);
        std::uniform_int_distribution<int> value(-range, range);
        std::vector<int> values(length(rng));
        for (int &v : values)
            v = value(rng);
        expect_sorts(values);
    }
}

TEST(Sort, LargeOrderedReversedAndEqualListsStayFast)
{
    const int n = 100000;
    std::vector<int> ascending(n), descending(n), equal(n, 7), two_values(n);
    for (int k = 0; k < n; k++) {
        ascending[k] = k;
        descending[k] = n - k;
        two_values[k] = k % 2;
    }
    for (const std::vector<int> *values : {&ascending, &descending, &equal, &two_values}) {
        std::vector<int> copy = *values;
        comparisons = 0;
        myqsort(copy.data(), n, sizeof(int), counting_compare);
        ASSERT_TRUE(std::is_sorted(copy.begin(), copy.end()));
        EXPECT_LT(comparisons, 40L * n);  // n log n, far from n * n / 2
    }
}
