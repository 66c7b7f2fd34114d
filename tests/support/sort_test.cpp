// The block exchange and the two quicksorts, myqsort over fixed-size
// elements and the list's own static_sort_data, checked against std::sort
// and for their work on large ordered and equal inputs.
#include "support/static.h"

#include "common/message_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> strings;
long comparisons;

int compare_ints(const void *a, const void *b)
{
    comparisons++;
    int x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return (x > y) - (x < y);
}

int compare_items(void *a, void *b, void *descending)
{
    comparisons++;
    int order = ((intptr_t)a > (intptr_t)b) - ((intptr_t)a < (intptr_t)b);
    return *(bool *)descending ? -order : order;
}

// A list of the values as items (0 included, which static_add refuses).
void fill(static_list *l, const std::vector<int> &values)
{
    for (int v : values) {
        int k = static_add_empty(l);
        l->items[k] = (void *)(intptr_t)v;
    }
}

// Sorts values with both sorts of our own and checks them against std::sort.
void expect_sorted_like_std(std::vector<int> values, bool descending)
{
    std::vector<int> expected = values;
    std::sort(expected.begin(), expected.end());
    if (descending)
        std::reverse(expected.begin(), expected.end());
    static_list l;
    static_init(&l, nullptr);
    fill(&l, values);
    static_sort_data(&l, &descending, compare_items, nullptr);
    for (int k = 0; k < l.count; k++)
        ASSERT_EQ((intptr_t)l.items[k], expected[size_t(k)]) << k;
    static_clear(&l);
    if (!descending) {
        myqsort(values.data(), (int)values.size(), sizeof(int), compare_ints);
        ASSERT_EQ(values, expected);
    }
}

TEST(Sort, ExchangeSwapsEveryByteAtAnyAlignment)
{
    unsigned char buf[64];
    for (int size : {0, 1, 3, 4, 8, 11}) {
        for (int offset : {0, 1, 3}) {
            for (int k = 0; k < 64; k++)
                buf[k] = (unsigned char)k;
            exchange(buf + offset, buf + 32 + offset, size);
            for (int k = 0; k <= size; k++) {  // and nothing past the blocks
                ASSERT_EQ(buf[offset + k], k < size ? 32 + offset + k : offset + k) << size;
                ASSERT_EQ(buf[32 + offset + k], k < size ? offset + k : 32 + offset + k);
            }
        }
    }
    exchange(nullptr, buf, 4);
    exchange(buf, buf + 8, -4);
    EXPECT_EQ(buf[0], 0);
}

TEST(Sort, SmallAndOddShapedArrays)
{
    myqsort(nullptr, 0, 4, compare_ints);
    int one = 5;
    myqsort(&one, 1, sizeof one, compare_ints);
    EXPECT_EQ(one, 5);
    struct record12 {
        int key;
        char tag[8];
    } records[] = {{3, "c"}, {1, "a"}, {4, "d"}, {1, "b"}, {2, "x"}};
    static_assert(sizeof(record12) == 12, "12-byte elements");
    myqsort(records, 5, sizeof(record12), compare_ints);  // by the leading key
    std::string order;
    for (const auto &r : records)
        order += std::to_string(r.key) + r.tag[0];
    EXPECT_TRUE(order == "1a1b2x3c4d" || order == "1b1a2x3c4d") << order;
}

TEST(Sort, BothSortsMatchStdSortOnRandomData)
{
    std::mt19937 rng(3);
    for (int round = 0; round < 300; round++) {
        int range = round % 3 == 0 ? 4 : 1000000;
        std::uniform_int_distribution<int> length(0, 400), value(-range, range);
        std::vector<int> values(size_t(length(rng)));
        for (int &v : values)
            v = value(rng);
        expect_sorted_like_std(values, round % 2);
    }
}

// n log n comparisons, far from n * n / 2, on the shapes that break a naive
// quicksort; the list's sort then finds nothing left for its final pass.
TEST(Sort, LargeOrderedReversedAndEqualInputsStayFast)
{
    const int n = 100000;
    for (int shape = 0; shape < 4; shape++) {
        std::vector<int> values(n);
        for (int k = 0; k < n; k++)
            values[size_t(k)] = shape == 0 ? k : shape == 1 ? n - k : shape == 2 ? 7 : k % 3;
        std::vector<int> copy = values;
        comparisons = 0;
        myqsort(copy.data(), n, sizeof(int), compare_ints);
        EXPECT_TRUE(std::is_sorted(copy.begin(), copy.end())) << shape;
        EXPECT_LT(comparisons, 40L * n) << shape;

        static_list l;
        static_init(&l, nullptr);
        static_setup(&l, n);
        fill(&l, values);
        bool descending = false;
        logged_messages.clear();
        comparisons = 0;
        static_sort_data(&l, &descending, compare_items, log_message);
        EXPECT_TRUE(std::is_sorted(l.items, l.items + n, [](void *a, void *b) { return (intptr_t)a < (intptr_t)b; }))
            << shape;
        EXPECT_LT(comparisons, 40L * n) << shape;
        EXPECT_EQ(logged_messages, (strings{"STATIC: Sorting 100000 items", "STATIC: Exited on cycle 0/99999"}));
        static_clear(&l);
    }
}

}  // namespace
