// The static list (growth, cursor, insertion, removal, clearing, messages,
// the fatal check of an uninitialised record) and the sorts beside it.
#include "support/static.h"

#include "common/message_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> strings;

// A list of texts (not owned) with the cursor at -1, cleared at the end.
struct text_list {
    static_list list;
    explicit text_list(std::vector<const char *> texts = {})
    {
        static_init(&list, log_message);
        for (const char *t : texts) static_add(&list, (void *)t);
    }
    ~text_list() { static_clear(&list); }
    std::string texts() const
    {  // "A|B|(none)"
        std::string out;
        for (int k = 0; k < list.count; k++)
            out += (k ? "|" : "") + std::string(list.items[k] ? (const char *)list.items[k] : "(none)");
        return out;
    }
};

char P[] = "P", Q[] = "Q", R[] = "R";

TEST(StaticList, GrowthClearingAndMessages)
{
    text_list l;
    EXPECT_EQ(static_add(&l.list, nullptr) + static_add(nullptr, P) + static_static(&l.list, nullptr), -7);
    static_setup(&l.list, 3);
    static strings cleared;
    static_add(&l.list, strdup("x"));
    static_add(&l.list, strdup("y"));
    EXPECT_EQ(static_clear_struct(&l.list, [](void *item) { cleared.push_back((char *)item); }), 1);
    EXPECT_EQ(cleared, (strings{"x", "y"}));  // in order, each item freed after it (LeakSanitizer)

    logged_messages.clear();
    EXPECT_EQ(static_emsg(&l.list, "bad %d of %s", 3, "x") + static_dmsg(&l.list, "silent"), 2);
    static_debug(&l.list, log_message);
    static_dmsg(&l.list, "loud");
    static_emsg(&l.list, "%s", std::string(3000, 'm').c_str());
    static_add(&l.list, P);
    l.list.count = INT_MAX / 2;  // a list that cannot grow: adds fail and leave it intact
    l.list.spare = 0;
    EXPECT_EQ(static_add(&l.list, Q) + static_add_pos(&l.list, Q, 0), -4);
    EXPECT_EQ(l.list.count, INT_MAX / 2);
    l.list.count = 1;
    EXPECT_EQ(logged_messages, (strings{"STATIC: bad 3 of x", "STATIC: loud", "STATIC: " + std::string(1015, 'm'),
                                        "STATIC: Memory Allocation Error in 'static_add'",
                                        "STATIC: Memory Allocation Error in 'static_add'"}));
}

TEST(StaticList, CursorInsertionAndRemoval)
{
    text_list l({P, Q, R}), empty;
    std::string walked = std::to_string(static_start(&l.list));
    while (void *item = static_get(&l.list)) walked += (char *)item;
    for (walked += std::to_string(static_end(&l.list)); void *item = static_get_back(&l.list);) walked += (char *)item;
    EXPECT_EQ(walked, "1PQR2RQP");
    EXPECT_EQ(static_end(&empty.list) + static_back(&empty.list, 1), -5);
    // static_back wraps once through -1; static_forward never does; neither
    // leaves the cursor outside -1 .. count - 1.
    const int moves[][5] = {
        // from, steps, forward, result, cursor
        {0, 2, 0, 1, 2},  {0, 1, 0, -4, -1},  {0, -5, 0, -4, -1},
        {-1, 1, 1, 1, 0}, {-1, 4, 1, -4, -1}, {2, INT_MAX, 1, -4, -1},
    };
    for (const auto &m : moves) {
        l.list.cursor = m[0];
        EXPECT_EQ(m[2] ? static_forward(&l.list, m[1]) : static_back(&l.list, m[1]), m[3]) << m[0] << " " << m[1];
        EXPECT_EQ(l.list.cursor, m[4]);
    }

    // Insertion and removal keep the cursor on its item.
    text_list ab({"A", "B"}), grown({"end"});
    ab.list.cursor = 1;
    EXPECT_EQ(static_add_pos(&ab.list, (void *)"X", 0) + static_add_pos(&ab.list, (void *)"Y", 2), 2);
    EXPECT_EQ(ab.list.cursor, 3);  // still on B
    EXPECT_EQ(static_add_pos(&ab.list, nullptr, 0) + static_add_pos(&ab.list, P, -1), -2);
    ab.list.cursor = 1;
    EXPECT_EQ(static_add_current(&ab.list, (void *)"C"), 1);  // in front of A
    EXPECT_EQ(ab.texts(), "X|C|A|Y|B");
    for (const char *d : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"})  // growing under the moving items
        ASSERT_EQ(static_add_pos(&grown.list, (void *)d, 0), 0);
    EXPECT_EQ(grown.texts(), "9|8|7|6|5|4|3|2|1|0|end");

    static_get_num(&l.list, 1);            // the cursor after Q
    EXPECT_EQ(static_remove(&l.list), Q);  // the one the last static_get gave
    EXPECT_EQ(static_get(&l.list), R);
    EXPECT_EQ(static_remove(&l.list), R);  // cursor -1: the last one
    for (char *t : {Q, R}) static_add(&l.list, t);
    l.list.cursor = 1;  // on Q, which goes: the cursor stays, on R
    EXPECT_EQ(static_remove_num(&l.list, 1), Q);
    EXPECT_EQ(static_current(&l.list), 1);
    EXPECT_EQ(static_remove_num(&l.list, 2), static_remove_num(&l.list, -1));  // just past the end
    EXPECT_EQ(static_remove_num(&l.list, 1), R);                               // under the cursor, and last
    EXPECT_EQ(l.texts() + std::to_string(static_current(&l.list)), "P0");
}

TEST(StaticList, AppendingTokenizingAndTextSorts)
{
    text_list target({"A"}), other({"B", "C"}), l({"beta", "Alpha", "gamma", "alpha", "Be"});
    EXPECT_EQ(static_static(&target.list, &other.list) + static_static(&target.list, &target.list), 2);
    EXPECT_EQ(target.texts(), "A|B|C|A|B|C");  // a list appended to itself
    text_list grown({"A"}), seven({"1", "2", "3", "4", "5", "6", "7"});
    EXPECT_EQ(static_static(&grown.list, &seven.list), 1);
    for (int i = 0; i < 11; i++) static_add(&grown.list, (void *)"x");  // well past the room the append made
    EXPECT_EQ(grown.texts(), "A|1|2|3|4|5|6|7|x|x|x|x|x|x|x|x|x|x|x");
    for (const auto &t : {std::pair<const char *, const char *>{"a,,b", "a|b/2"}, {"a,", "a|/2"}, {"", "/0"}}) {
        text_list split;
        EXPECT_EQ(static_tok(&split.list, t.first, ","), 1);
        EXPECT_EQ(split.texts() + "/" + std::to_string(split.list.count), t.second) << t.first;
        static_clear_dealloc(&split.list);  // LeakSanitizer sees the items go
    }
    static_sort(&l.list, sort_string_case, log_message);
    EXPECT_EQ(l.texts(), "Alpha|Be|alpha|beta|gamma");
}

TEST(StaticListDeathTest, UseBeforeInitEndsTheProcess)
{
    static_list l = {};
    l.magic = 31999;
    EXPECT_EXIT(static_add_pos(&l, P, 0), testing::ExitedWithCode(1), "Error Using Static List before Init: add_pos");
}

long comparisons;

int compare_ints(const void *a, const void *b)
{
    comparisons++;
    int x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return (x > y) - (x < y);
}

// Both sorts sort (myqsort also 7-byte elements: a word and three odd bytes
// exchanged, unaligned) in n log n comparisons on random values and on the
// shapes that break a naive quicksort; the list's sort then has nothing left
// for its final pass.
TEST(Sort, ExchangeAtAnyAlignmentAndFastSorts)
{
    char records[][7] = {{3, 0, 0, 0, 'c', 'C', 'c'}, {1, 0, 0, 0, 'a', 'A', 'a'}, {2, 0, 0, 0, 'b', 'B', 'b'}};
    myqsort(records, 3, 7, compare_ints);  // by the leading key
    EXPECT_EQ(std::string(&records[0][0], 21), std::string("\1\0\0\0aAa\2\0\0\0bBb\3\0\0\0cCc", 21));
    std::mt19937 rng(3);
    const int n = 100000;
    for (int shape = 0; shape < 5; shape++) {
        std::vector<int> values(n);
        text_list list;
        for (int k = 0; k < n; k++) {  // ascending, descending, all equal, three values, random
            values[size_t(k)] = shape == 0 ? k : shape == 1 ? n - k : shape == 2 ? 7 : shape == 3 ? k % 3 : int(rng());
            int slot = static_add_empty(&list.list);
            list.list.items[slot] = (void *)(intptr_t)values[size_t(k)];
        }
        comparisons = 0;
        myqsort(values.data(), n, sizeof(int), compare_ints);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()) && comparisons < 40L * n) << shape;
        comparisons = 0;
        logged_messages.clear();
        auto compare = [](void *a, void *b, void *) { return compare_ints(&a, &b); };
        static_sort_data(&list.list, nullptr, compare, log_message);
        EXPECT_TRUE(comparisons < 40L * n && int((intptr_t)list.list.items[n - 1]) == values.back()) << shape;
        EXPECT_EQ(logged_messages, (strings{"STATIC: Sorting 100000 items", "STATIC: Exited on cycle 0/99999"}));
    }
}

}  // namespace
