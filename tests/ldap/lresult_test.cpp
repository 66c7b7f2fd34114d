#include <gtest/gtest.h>
#include <string>

#include "codec_util.h"
#include "common/fake_server.h"

namespace {

// INTEGER of 2 octets, OCTET STRING "hello", nested [3] {04 00}, [7] "cn".
List sample()
{
    return decode_element(hex_bytes("30 13 02 02 01 00 04 05 68 65 6C 6C 6F A3 02 04 00 87 02 63 6E"));
}

}  // namespace

TEST(LResult, MissesAndNoList)
{
    List list = sample();
    for (lresult *l : {static_cast<lresult *>(nullptr), LRESULT_INVALID, list.get()}) {
        int position = l == list.get() ? 4 : 0;  // one past the end
        int size = 99;
        EXPECT_EQ(0, lresult_check(l, position));
        EXPECT_EQ(nullptr, lresult_get(l, -1));
        EXPECT_EQ(-1, lresult_get_choice(l, position));
        EXPECT_EQ(nullptr, lresult_get_choice_data(l, position, &size));
        EXPECT_EQ(0, size);
        EXPECT_EQ(nullptr, lresult_get_result(l, position, 1));
        EXPECT_EQ(0, lresult_get_int(l, position));
        EXPECT_EQ(nullptr, lresult_get_char(l, position));
        EXPECT_EQ(0, lresult_get_size(l, position));
        lresult_remove(l, position);
    }
    lresult_init(LRESULT_INVALID);
    lresult_clear(LRESULT_INVALID);
    EXPECT_EQ(0, lresult_size(LRESULT_INVALID));
    EXPECT_EQ(0, lresult_application(LRESULT_INVALID));
    EXPECT_EQ(0, lresult_id(nullptr));
    EXPECT_EQ(4, lresult_size(list.get()));
}

TEST(LResult, TakingOutAndClearing)
{
    List list = sample();
    lresult *l = list.get();
    l->application = 4;
    l->id = 9;
    lresult *nested = lresult_get_result(l, 2, 1);
    ASSERT_NE(nullptr, nested);
    EXPECT_EQ(3, lresult_size(l));
    EXPECT_STREQ("cn", lresult_get_char(l, 2));
    lresult_remove(l, 0);
    EXPECT_STREQ("hello", lresult_get_char(l, 0));
    lresult_clear(l);  // the taken list stays intact
    EXPECT_EQ(1, lresult_size(nested));
    List owned(nested);
    EXPECT_EQ(0, lresult_size(l));
    EXPECT_EQ(4, lresult_application(l));
    EXPECT_EQ(9, lresult_id(l));

    // Nodes, nested lists and values made by hand are released as well.
    lresult manual;
    lresult_init(&manual);
    auto *text = static_cast<lresult_node *>(malloc(sizeof(lresult_node)));
    *text = {4, strdup("x"), 1, -1};
    auto *inner = static_cast<lresult *>(malloc(sizeof(lresult)));
    lresult_init(inner);
    auto *node = static_cast<lresult_node *>(malloc(sizeof(lresult_node)));
    *node = {16, inner, 0, 0};
    static_add(&manual.items, text);
    static_add(&manual.items, node);
    manual.values = static_cast<char **>(calloc(2, sizeof(char *)));
    manual.error = strdup("Unknown Type");
    EXPECT_STREQ("x", lresult_get_char(&manual, 0));
    EXPECT_EQ(inner, lresult_get_result(&manual, 1, 0));
    lresult_clear(&manual);
    EXPECT_EQ(nullptr, manual.values);
    EXPECT_EQ(0, lresult_size(&manual));
}
