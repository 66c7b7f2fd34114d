#include <gtest/gtest.h>
#include <string>

#include "codec_util.h"
#include "common/fake_server.h"

namespace {

// A list of: INTEGER 2 octets, OCTET STRING "hello", nested [3] {04 00}, [7] "cn".
List sample()
{
    std::string octets = hex_bytes("30 13 02 02 01 00 04 05 68 65 6C 6C 6F A3 02 04 00 87 02 63 6E");
    return List(ldap_decode_data_input(nullptr, reinterpret_cast<const unsigned char *>(octets.data()),
                                       static_cast<int>(octets.size())));
}

}  // namespace

TEST(LResult, AccessorsByKind)
{
    List list = sample();
    lresult *l = list.get();
    ASSERT_EQ(4, lresult_size(l));
    EXPECT_EQ(1, lresult_check(l, 0));
    EXPECT_EQ(2, lresult_check(l, 1));
    EXPECT_EQ(3, lresult_check(l, 2));
    EXPECT_EQ(4, lresult_check(l, 3));

    EXPECT_EQ(256, lresult_get_int(l, 0));
    EXPECT_EQ(0, lresult_get_int(l, 1));
    EXPECT_EQ(0, lresult_get_int(l, 2));
    EXPECT_EQ(0, lresult_get_int(l, 3));  // tagged primitives hold text

    EXPECT_EQ(nullptr, lresult_get_char(l, 0));
    EXPECT_STREQ("hello", lresult_get_char(l, 1));
    EXPECT_EQ(nullptr, lresult_get_char(l, 2));
    EXPECT_STREQ("cn", lresult_get_char(l, 3));

    EXPECT_EQ(2, lresult_get_size(l, 0));
    EXPECT_EQ(6, lresult_get_size(l, 1));
    EXPECT_EQ(2, lresult_get_size(l, 2));
    EXPECT_EQ(3, lresult_get_size(l, 3));

    EXPECT_EQ(-1, lresult_get_choice(l, 0));
    EXPECT_EQ(3, lresult_get_choice(l, 2));
    EXPECT_EQ(7, lresult_get_choice(l, 3));

    int size = 99;
    EXPECT_EQ(nullptr, lresult_get_choice_data(l, 1, &size));
    EXPECT_EQ(0, size);
    EXPECT_STREQ("cn", static_cast<char *>(lresult_get_choice_data(l, 3, &size)));
    EXPECT_EQ(2, size);
    EXPECT_NE(nullptr, lresult_get_choice_data(l, 3, nullptr));

    EXPECT_EQ(nullptr, lresult_get_result(l, 1, 0));
    EXPECT_EQ(nullptr, lresult_get_result(l, 1, 1));
    EXPECT_EQ(4, lresult_size(l));
}

TEST(LResult, MissesAndNoList)
{
    List list = sample();
    for (lresult *l : {static_cast<lresult *>(nullptr), LRESULT_INVALID, list.get()}) {
        int position = l == list.get() ? 4 : 0;  // one past the end
        int size = 99;
        EXPECT_EQ(0, lresult_check(l, position));
        EXPECT_EQ(nullptr, lresult_get(l, position));
        EXPECT_EQ(-1, lresult_get_choice(l, position));
        EXPECT_EQ(nullptr, lresult_get_choice_data(l, position, &size));
        EXPECT_EQ(0, size);
        EXPECT_EQ(nullptr, lresult_get_result(l, position, 1));
        EXPECT_EQ(0, lresult_get_int(l, position));
        EXPECT_EQ(nullptr, lresult_get_char(l, position));
        EXPECT_EQ(0, lresult_get_size(l, position));
        EXPECT_EQ(nullptr, lresult_get(l, -1));
        lresult_remove(l, position);
        lresult_remove(l, -1);
    }
    EXPECT_EQ(0, lresult_size(nullptr));
    EXPECT_EQ(0, lresult_size(LRESULT_INVALID));
    EXPECT_EQ(0, lresult_application(LRESULT_INVALID));
    EXPECT_EQ(0, lresult_id(nullptr));
    lresult_init(nullptr);
    lresult_init(LRESULT_INVALID);
    lresult_clear(nullptr);
    lresult_clear(LRESULT_INVALID);
    EXPECT_EQ(4, lresult_size(list.get()));
}

TEST(LResult, TakingOutAndClearing)
{
    List list = sample();
    lresult *l = list.get();
    l->application = 4;
    l->id = 9;
    l->attr_cursor = 2;
    lresult *nested = lresult_get_result(l, 2, 1);
    ASSERT_NE(nullptr, nested);
    EXPECT_EQ(3, lresult_size(l));
    EXPECT_STREQ("cn", lresult_get_char(l, 2));
    lresult_clear(l);  // the taken list stays intact
    EXPECT_EQ(1, lresult_size(nested));
    List owned(nested);

    EXPECT_EQ(0, lresult_size(l));
    EXPECT_EQ(4, lresult_application(l));
    EXPECT_EQ(9, lresult_id(l));
    EXPECT_EQ(2, l->attr_cursor);
    EXPECT_EQ(nullptr, l->error);

    // Reusable after clearing; remove releases one node.
    List again = sample();
    lresult_remove(again.get(), 0);
    EXPECT_EQ(3, lresult_size(again.get()));
    EXPECT_STREQ("hello", lresult_get_char(again.get(), 0));

    // Nodes and values made by hand are released as well.
    lresult manual;
    lresult_init(&manual);
    auto *node = static_cast<lresult_node *>(malloc(sizeof(lresult_node)));
    node->type = 4;
    node->size = 1;
    node->choice = -1;
    node->value = strdup("x");
    static_add(&manual.items, node);
    manual.values = static_cast<char **>(calloc(2, sizeof(char *)));
    manual.error = strdup("Unknown Type");
    EXPECT_STREQ("x", lresult_get_char(&manual, 0));
    lresult_clear(&manual);
    EXPECT_EQ(nullptr, manual.values);
    EXPECT_EQ(0, lresult_size(&manual));
}
