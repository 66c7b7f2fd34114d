#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/static.h"

namespace {

std::vector<std::string> messages;

int record(const char *format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    messages.push_back(text);
    return 0;
}

// A list of the given texts (not owned), cursor at -1.
struct text_list {
    static_list list;
    explicit text_list(std::vector<const char *> texts = {})
    {
        static_init(&list, record);
        for (const char *t : texts)
            static_add(&list, (void *)t);
        list.cursor = -1;
    }
    ~text_list() { static_clear(&list); }
    text_list(const text_list &) = delete;
    text_list &operator=(const text_list &) = delete;
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (int k = 0; k < list.count; k++)
            out.push_back(list.items[k] ? (const char *)list.items[k] : "(none)");
        return out;
    }
};

typedef std::vector<std::string> strings;

long comparisons;

int compare_numbers(void *a, void *b, void *descending)
{
    comparisons++;
    long x = (long)(intptr_t)a, y = (long)(intptr_t)b;
    int order = (x > y) - (x < y);
    return *(bool *)descending ? -order : order;
}

}  // namespace

TEST(StaticExtras, InsertionByPosition)
{
    text_list l({"A", "B"});
    l.list.cursor = 1;
    EXPECT_EQ(static_add_pos(&l.list, (void *)"X", 0), 0);
    EXPECT_EQ(l.texts(), (strings{"X", "A", "B"}));
    EXPECT_EQ(l.list.cursor, 2);  // still on B
    EXPECT_EQ(static_add_pos(&l.list, (void *)"Y", 2), 2);
    EXPECT_EQ(l.list.cursor, 3);
    EXPECT_EQ(static_add_pos(&l.list, (void *)"Z", 1), 1);
    EXPECT_EQ(l.list.cursor, 4);
    EXPECT_EQ(static_add_pos(&l.list, (void *)"E", 99), 5);
    EXPECT_EQ(l.texts(), (strings{"X", "Z", "A", "Y", "B", "E"}));
    EXPECT_EQ(l.list.cursor, 4);
    EXPECT_EQ(static_add_pos(&l.list, nullptr, 0), -1);
    EXPECT_EQ(static_add_pos(&l.list, (void *)"N", -1), -1);
    EXPECT_EQ(static_add_pos(nullptr, (void *)"N", 0), -3);
    EXPECT_EQ(l.list.count, 6);

    EXPECT_EQ(static_add_pos_empty(&l.list, nullptr, 0), 0);
    EXPECT_EQ(static_add_pos_empty(&l.list, nullptr, l.list.count), -1);
    EXPECT_EQ(static_add_pos_empty(&l.list, (void *)"T", l.list.count), 7);
    EXPECT_EQ(l.texts(), (strings{"(none)", "X", "Z", "A", "Y", "B", "E", "T"}));

    // Many inserts at the front grow the array step by step.
    text_list grown;
    static const char *digits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    static_add(&grown.list, (void *)"end");
    for (const char *d : digits)
        ASSERT_EQ(static_add_pos(&grown.list, (void *)d, 0), 0);
    EXPECT_EQ(grown.texts(), (strings{"9", "8", "7", "6", "5", "4", "3", "2", "1", "0", "end"}));
    EXPECT_EQ(grown.list.count + grown.list.spare, 15);
}

TEST(StaticExtras, InsertionAtTheCursor)
{
    text_list l({"A", "B"});
    EXPECT_EQ(static_add_current(&l.list, (void *)"C"), 2);
    EXPECT_EQ(l.list.cursor, 2);  // left on the appended item
    l.list.cursor = 1;
    EXPECT_EQ(static_add_current(&l.list, (void *)"X"), 1);
    EXPECT_EQ(l.texts(), (strings{"A", "X", "B", "C"}));
    EXPECT_EQ(static_get(&l.list), (void *)"B");
    l.list.cursor = -1;
    EXPECT_EQ(static_add_current(&l.list, nullptr), -1);
    EXPECT_EQ(l.list.cursor, -1);  // a refused item leaves no cursor past the end
    EXPECT_EQ(static_add_current(nullptr, (void *)"X"), -3);
}

TEST(StaticExtras, WalkingBackwardsAndBySteps)
{
    text_list l({"P", "Q", "R"});
    EXPECT_EQ(static_end(&l.list), 2);
    EXPECT_EQ(static_get_back(&l.list), (void *)"R");
    EXPECT_EQ(static_get_back(&l.list), (void *)"Q");
    EXPECT_EQ(static_get_back(&l.list), (void *)"P");
    EXPECT_EQ(l.list.cursor, -1);
    EXPECT_EQ(static_get_back(&l.list), nullptr);
    EXPECT_EQ(static_get_back(nullptr), nullptr);
    EXPECT_EQ(static_end(nullptr), -3);

    l.list.cursor = 0;
    EXPECT_EQ(static_back(&l.list, 2), 1);
    EXPECT_EQ(l.list.cursor, 2);
    l.list.cursor = 0;
    EXPECT_EQ(static_back(&l.list, 1), -4);
    EXPECT_EQ(l.list.cursor, -1);
    EXPECT_EQ(static_back(&l.list, 1), 1);  // -1 wraps to the last item
    EXPECT_EQ(l.list.cursor, 2);
    EXPECT_EQ(static_back(&l.list, 100), -4);
    EXPECT_EQ(static_back(&l.list, -5), -4);
    EXPECT_EQ(l.list.cursor, -1);

    EXPECT_EQ(static_forward(&l.list, 1), 1);
    EXPECT_EQ(l.list.cursor, 0);
    EXPECT_EQ(static_forward(&l.list, 2), 1);
    EXPECT_EQ(l.list.cursor, 2);
    l.list.cursor = -1;
    EXPECT_EQ(static_forward(&l.list, 4), -4);
    EXPECT_EQ(l.list.cursor, -1);
    l.list.cursor = 1;
    EXPECT_EQ(static_forward(&l.list, -9), -4);
    EXPECT_EQ(l.list.cursor, -1);
    EXPECT_EQ(static_forward(&l.list, 2147483647), -4);
    EXPECT_EQ(static_forward(nullptr, 1), -3);
    EXPECT_EQ(static_back(nullptr, 1), -3);

    text_list empty;
    EXPECT_EQ(static_end(&empty.list), -1);
    EXPECT_EQ(static_back(&empty.list, 1), -4);
    EXPECT_EQ(static_is_first(&empty.list, nullptr), 0);
    EXPECT_EQ(static_is_last(&empty.list, nullptr), 0);
    EXPECT_EQ(static_is_first(&l.list, (void *)"P"), 1);
    EXPECT_EQ(static_is_first(&l.list, (void *)"R"), 0);
    EXPECT_EQ(static_is_last(&l.list, (void *)"R"), 1);
    EXPECT_EQ(static_is_last(nullptr, (void *)"R"), 0);
}

TEST(StaticExtras, AppendingAListAndReversing)
{
    text_list target({"A"}), other({"B", "C"}), empty;
    void **before = target.list.items;
    EXPECT_EQ(static_static(&target.list, &empty.list), 1);
    EXPECT_EQ(target.list.items, before);
    EXPECT_EQ(static_static(&target.list, &other.list), 1);
    EXPECT_EQ(target.texts(), (strings{"A", "B", "C"}));
    EXPECT_EQ(other.texts(), (strings{"B", "C"}));
    EXPECT_EQ(target.list.spare, 4);
    EXPECT_EQ(static_static(&target.list, &target.list), 1);
    EXPECT_EQ(target.texts(), (strings{"A", "B", "C", "A", "B", "C"}));
    for (int k = 6; k < 40; k++)  // the grown array takes further appends
        ASSERT_EQ(static_add(&target.list, (void *)"D"), k);
    EXPECT_EQ(target.texts()[39], "D");
    EXPECT_EQ(static_static(nullptr, &other.list), -3);
    EXPECT_EQ(static_static(&target.list, nullptr), -3);

    text_list l({"P", "Q", "R"});
    l.list.cursor = 0;
    EXPECT_EQ(static_reverse(&l.list), 1);
    EXPECT_EQ(l.texts(), (strings{"R", "Q", "P"}));
    EXPECT_EQ(l.list.cursor, 0);
    text_list one({"S"});
    EXPECT_EQ(static_reverse(&one.list), 1);
    EXPECT_EQ(one.texts(), (strings{"S"}));
    EXPECT_EQ(static_reverse(nullptr), -3);

    void *a = (void *)"a", *b = (void *)"b";
    static_exchange(&a, &b);
    EXPECT_STREQ((const char *)a, "b");
    static_exchange(&a, nullptr);
}

TEST(StaticExtras, Tokenizing)
{
    struct case_ {
        const char *text, *delims;
        strings expected;
    } cases[] = {
        {"a,,b", ",", {"a", "b"}},
        {"a,", ",", {"a", ""}},
        {",,,", ",", {""}},
        {",a", ",", {"a"}},
        {"", ",", {}},
        {"one two;three", " ;", {"one", "two", "three"}},
        {"whole", "", {"whole"}},
    };
    for (const case_ &c : cases) {
        static_list list;
        static_init(&list, record);
        EXPECT_EQ(static_tok(&list, c.text, c.delims), 1);
        std::vector<std::string> got;
        for (int k = 0; k < list.count; k++)
            got.push_back((const char *)list.items[k]);
        EXPECT_EQ(got, c.expected) << c.text;
        static_clear_dealloc(&list);
    }
    static_list list;
    static_init(&list, record);
    EXPECT_EQ(static_tok(&list, nullptr, ","), 0);
    EXPECT_EQ(static_tok(&list, "a", nullptr), 0);
    EXPECT_EQ(static_tok(nullptr, "a", ","), 0);
    EXPECT_EQ(list.count, 0);
}

TEST(StaticExtras, SortingThroughQsort)
{
    text_list l({"beta", "Alpha", "gamma", "alpha", "Be"});
    messages.clear();
    static_sort(&l.list, sort_string_case, record);
    EXPECT_EQ(l.texts(), (strings{"Alpha", "Be", "alpha", "beta", "gamma"}));
    EXPECT_EQ(messages, (strings{"STATIC: Sorting 5 items (qsort)", "STATIC: Exited on cycle 1"}));
    EXPECT_EQ(l.list.dmsg_fn, (msg_fn)record);

    static_sort(&l.list, sort_string, nullptr);
    EXPECT_EQ(l.list.dmsg_fn, nullptr);
    EXPECT_EQ(s_stricmp((const char *)l.list.items[0], "alpha"), 0);
    EXPECT_EQ(s_stricmp((const char *)l.list.items[1], "alpha"), 0);
    EXPECT_EQ(l.texts()[2], "Be");
    EXPECT_EQ(l.texts()[4], "gamma");

    static_sort(&l.list, sort_string_len, nullptr);
    for (int k = 1; k < l.list.count; k++)
        EXPECT_LE(s_strlen((const char *)l.list.items[k - 1]), s_strlen((const char *)l.list.items[k]));
    EXPECT_EQ(l.texts()[0], "Be");

    text_list one({"x"});
    messages.clear();
    static_sort(&one.list, sort_string, record);
    EXPECT_TRUE(messages.empty());
    static_sort(nullptr, sort_string, record);
}

TEST(StaticExtras, OwnSortOrdersEveryShapeOfList)
{
    std::mt19937 rng(5);
    bool descending = false;
    for (int round = 0; round < 200; round++) {
        descending = round % 2;
        std::uniform_int_distribution<int> length(0, 300), value(1, round % 4 == 0 ? 3 : 100000);
        text_list l;
        std::vector<long> expected(length(rng));
        for (long &v : expected) {
            v = value(rng);
            static_add(&l.list, (void *)(intptr_t)v);
        }
        static_sort_data(&l.list, &descending, compare_numbers, nullptr);
        if (descending)
            std::sort(expected.rbegin(), expected.rend());
        else
            std::sort(expected.begin(), expected.end());
        ASSERT_EQ(l.list.count, (int)expected.size());
        for (int k = 0; k < l.list.count; k++)
            ASSERT_EQ((long)(intptr_t)l.list.items[k], expected[k]);
    }

    descending = false;
    text_list one;
    static_add(&one.list, (void *)(intptr_t)1);
    messages.clear();
    static_sort_data(&one.list, &descending, compare_numbers, record);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(one.list.dmsg_fn, nullptr);  // not even the sink is set
}

TEST(StaticExtras, OwnSortOnLargeReversedAndEqualLists)
{
    const int n = 100000;
    bool descending = false;
    for (int shape = 0; shape < 3; shape++) {
        text_list l;
        static_setup(&l.list, n);  // growing by 5 would copy the array 20,000 times
        for (int k = 0; k < n; k++)
            static_add(&l.list, (void *)(intptr_t)(shape == 0 ? n - k : shape == 1 ? 42 : 1 + k % 3));
        messages.clear();
        comparisons = 0;
        static_sort_data(&l.list, &descending, compare_numbers, record);
        ASSERT_EQ(l.list.count, n);
        for (int k = 1; k < n; k++)
            ASSERT_LE((intptr_t)l.list.items[k - 1], (intptr_t)l.list.items[k]) << shape;
        EXPECT_LT(comparisons, 40L * n) << shape;
        EXPECT_EQ(messages, (strings{"STATIC: Sorting 100000 items", "STATIC: Exited on cycle 0/99999"}));
    }
}

TEST(StaticExtras, UninitialisedListIsFatal)
{
    static_list bad = {};
    EXPECT_EXIT(static_reverse(&bad), ::testing::ExitedWithCode(1), "before Init: reverse");
    EXPECT_EXIT(static_add_pos(&bad, (void *)"x", 0), ::testing::ExitedWithCode(1), "add_pos");
    EXPECT_EXIT(static_get_back(&bad), ::testing::ExitedWithCode(1), "get_back");
}
