#include "support/static.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> messages;

int record(const char *format, ...) NLIB_PRINTF(1, 2);
int record(const char *format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    lvprintf(text, sizeof text, format, args);
    va_end(args);
    messages.push_back(text);
    return 0;
}

int P = 1, Q = 2, R = 3;

TEST(StaticList, FreshListAndGrowth)
{
    static_list l;
    ASSERT_EQ(static_init(&l, nullptr), 1);
    EXPECT_EQ(static_size(&l), 0);
    EXPECT_EQ(static_start(&l), -1);
    EXPECT_EQ(static_current(&l), -1);
    EXPECT_EQ(static_get(&l), nullptr);
    EXPECT_EQ(static_get_num(&l, 0), nullptr);

    int v[6];
    EXPECT_EQ(static_add(&l, &v[0]), 0);
    EXPECT_EQ(l.spare, 4);
    for (int i = 1; i < 5; i++)
        EXPECT_EQ(static_add(&l, &v[i]), i);
    EXPECT_EQ(l.spare, 0);
    EXPECT_EQ(static_add(&l, &v[5]), 5);
    EXPECT_EQ(l.count + l.spare, 10);
    EXPECT_EQ(static_add(&l, nullptr), -1);
    EXPECT_EQ(static_add_empty(&l), 6);
    EXPECT_EQ(static_get_num(&l, 6), nullptr);
    EXPECT_EQ(static_size(&l), 7);
    static_clear(&l);

    EXPECT_EQ(static_init(nullptr, nullptr), -3);
    EXPECT_EQ(static_add(nullptr, &P), -3);
    EXPECT_EQ(static_add_empty(nullptr), -3);
    EXPECT_EQ(static_start(nullptr), -3);
    EXPECT_EQ(static_size(nullptr), -3);
    EXPECT_EQ(static_current(nullptr), -3);
    EXPECT_EQ(static_setup(nullptr, 3), -3);
    EXPECT_EQ(static_debug(nullptr, record), -3);
    EXPECT_EQ(static_clear(nullptr), -3);
    EXPECT_EQ(static_clear_dealloc(nullptr), -3);
    EXPECT_EQ(static_clear_struct(nullptr, free), 0);
    EXPECT_EQ(static_clear_struct(&l, nullptr), 0);
    EXPECT_EQ(static_emsg(nullptr, "x"), -3);
    EXPECT_EQ(static_get(nullptr), nullptr);
    EXPECT_EQ(static_get_num(nullptr, 0), nullptr);
    EXPECT_EQ(static_remove(nullptr), nullptr);
    EXPECT_EQ(static_remove_num(nullptr, 0), nullptr);
}

TEST(StaticList, WalkingWithTheCursor)
{
    static_list l;
    static_init(&l, nullptr);
    static_add(&l, &P);
    static_add(&l, &Q);
    static_add(&l, &R);
    EXPECT_EQ(static_start(&l), 1);
    EXPECT_EQ(static_get(&l), &P);
    EXPECT_EQ(static_get(&l), &Q);
    EXPECT_EQ(static_get(&l), &R);
    EXPECT_EQ(static_current(&l), -1);
    EXPECT_EQ(static_get(&l), nullptr);
    EXPECT_EQ(static_current(&l), -1);

    EXPECT_EQ(static_get_num(&l, 2), &R);
    EXPECT_EQ(static_current(&l), -1);
    EXPECT_EQ(static_get_num(&l, 0), &P);
    EXPECT_EQ(static_current(&l), 1);
    EXPECT_EQ(static_get(&l), &Q);
    EXPECT_EQ(static_get_num(&l, 3), nullptr);
    EXPECT_EQ(static_get_num(&l, -1), nullptr);
    EXPECT_EQ(static_current(&l), 2);
    static_clear(&l);
}

TEST(StaticList, Removing)
{
    static_list l;
    static_init(&l, nullptr);
    static_add(&l, &P);
    static_add(&l, &Q);
    static_add(&l, &R);
    // static_remove takes out the item the last static_get returned.
    static_start(&l);
    static_get(&l);
    static_get(&l);
    EXPECT_EQ(static_remove(&l), &Q);
    EXPECT_EQ(static_get(&l), &R);
    EXPECT_EQ(static_current(&l), -1);
    // With the cursor at -1 the last item goes.
    EXPECT_EQ(static_remove(&l), &R);
    EXPECT_EQ(static_size(&l), 1);
    EXPECT_EQ(static_remove(&l), &P);
    EXPECT_EQ(l.items, nullptr);
    EXPECT_EQ(l.spare, 0);
    EXPECT_EQ(static_remove(&l), nullptr);
    EXPECT_EQ(static_add(&l, &Q), 0);
    EXPECT_EQ(static_size(&l), 1);
    static_clear(&l);

    // The cursor stays on its item when an earlier one is removed.
    static_add(&l, &P);
    static_add(&l, &Q);
    static_add(&l, &R);
    static_get_num(&l, 1);
    EXPECT_EQ(static_current(&l), 2);
    EXPECT_EQ(static_remove_num(&l, 1), &Q);
    EXPECT_EQ(static_current(&l), 1);
    EXPECT_EQ(static_get(&l), &R);
    EXPECT_EQ(static_remove_num(&l, 5), nullptr);
    EXPECT_EQ(static_remove_num(&l, -1), nullptr);
    // Removing the last item under the cursor steps the cursor back.
    static_get_num(&l, 0);
    EXPECT_EQ(static_remove_num(&l, 1), &R);
    EXPECT_EQ(static_current(&l), 0);
    EXPECT_EQ(static_size(&l), 1);
    EXPECT_EQ(l.spare, 4);
    static_clear(&l);
}

TEST(StaticList, ClearingKeepsSettings)
{
    static_list l;
    static_init(&l, record);
    EXPECT_EQ(static_setup(&l, -7), 1);
    EXPECT_EQ(l.step, 1);
    static_setup(&l, 0);
    EXPECT_EQ(l.step, 1);
    static_setup(&l, 3);
    static_add(&l, strdup("a"));
    static_add(&l, strdup("b"));
    EXPECT_EQ(static_clear_dealloc(&l), 1);
    EXPECT_EQ(static_size(&l), 0);
    EXPECT_EQ(l.step, 3);
    EXPECT_EQ(l.emsg_fn, record);
    EXPECT_EQ(l.magic, STATIC_MAGIC);

    static std::vector<std::string> cleared;
    for (const char *t : {"x", "y"}) {
        char **holder = (char **)malloc(sizeof(char *));
        *holder = strdup(t);
        static_add(&l, holder);
    }
    EXPECT_EQ(static_clear_struct(&l, [](void *item) {
        char **holder = (char **)item;
        cleared.push_back(*holder);
        free(*holder);
    }), 1);
    EXPECT_EQ(cleared, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(static_size(&l), 0);
    EXPECT_EQ(static_add(&l, &P), 0);
    EXPECT_EQ(l.spare, 2);
    static_clear(&l);
}

TEST(StaticList, MessagesCarryThePrefix)
{
    static_list l;
    static_init(&l, record);
    messages.clear();
    EXPECT_EQ(static_emsg(&l, "bad %d of %s", 3, "x"), 1);
    EXPECT_EQ(static_dmsg(&l, "silent"), 1);
    EXPECT_EQ(static_debug(&l, record), 1);
    EXPECT_EQ(static_dmsg(&l, "loud %s", "y"), 1);
    std::string big(3000, 'm');
    static_emsg(&l, "%s", big.c_str());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "STATIC: bad 3 of x");
    EXPECT_EQ(messages[1], "STATIC: loud y");
    EXPECT_EQ(messages[2], "STATIC: " + big.substr(0, 1023 - 8));
    static_init(&l, nullptr);
    EXPECT_EQ(static_emsg(&l, "dropped"), 1);
    EXPECT_EQ(messages.size(), 3u);
}

TEST(StaticList, GrowthFailureIsReported)
{
    static_list l;
    static_init(&l, record);
    static_add(&l, &P);
    // A list that cannot grow further: the add fails and leaves it intact.
    int real_count = l.count;
    l.count = INT_MAX / 2;
    l.spare = 0;
    messages.clear();
    EXPECT_EQ(static_add(&l, &Q), -2);
    EXPECT_EQ(static_add_empty(&l), -2);
    EXPECT_EQ(l.count, INT_MAX / 2);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "STATIC: Memory Allocation Error in 'static_add'");
    l.count = real_count;
    l.spare = 4;
    EXPECT_EQ(static_get_num(&l, 0), &P);
    static_clear(&l);
}

TEST(StaticList, ZeroedRecordStillGrowsSafely)
{
    static_list l;
    memset(&l, 0, sizeof l);
    l.magic = STATIC_MAGIC;  // step 0: growth still adds one slot
    EXPECT_EQ(static_add(&l, &P), 0);
    EXPECT_EQ(static_add(&l, &Q), 1);
    EXPECT_EQ(static_get_num(&l, 1), &Q);
    static_clear(&l);
}

TEST(StaticList, AppendsManyItemsFast)
{
    static_list l;
    static_init(&l, nullptr);
    auto start = std::chrono::steady_clock::now();
    for (intptr_t i = 1; i <= 100000; i++)
        ASSERT_EQ(static_add(&l, (void *)i), i - 1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_EQ(static_get_num(&l, 99999), (void *)100000);
    static_clear(&l);
}

TEST(StaticListDeathTest, UseBeforeInitEndsTheProcess)
{
    static_list l;
    memset(&l, 0, sizeof l);
    l.magic = 31999;
    EXPECT_EXIT(static_size(&l), testing::ExitedWithCode(1),
                "Error Using Static List before Init: size");
    EXPECT_EXIT(static_clear(&l), testing::ExitedWithCode(1), "before Init: clear");
    EXPECT_EXIT(static_remove(&l), testing::ExitedWithCode(1), "before Init: remove_num");
    EXPECT_EXIT(static_emsg(&l, "x"), testing::ExitedWithCode(1), "before Init: emsg");
    EXPECT_EXIT(static_check(&l, "anything"), testing::ExitedWithCode(1), "before Init: anything");
}

}  // namespace
