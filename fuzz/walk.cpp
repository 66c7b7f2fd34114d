#include "fuzz/common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void walk_nodes(lresult *list, int depth)
{
    int count = lresult_size(list);
    for (int i = 0; i <= count; i++) {  // one past the end must miss
        lresult_get(list, i);
        lresult_check(list, i);
        lresult_get_choice(list, i);
        int size = 0;
        lresult_get_choice_data(list, i, &size);
        lresult_get_choice_data(list, i, nullptr);
        lresult_get_size(list, i);
        lresult_get_int(list, i);
        const char *text = lresult_get_char(list, i);
        if (text) (void)strlen(text);
        lresult *nested = lresult_get_result(list, i, 0);
        if (nested && depth < 64) walk_nodes(nested, depth + 1);
    }
}

}  // namespace

void fuzz_walk(lresult *list)
{
    if (!list || list == LRESULT_INVALID) return;
    lresult_application(list);
    lresult_id(list);
    walk_nodes(list, 0);
    static FILE *null_stream = fopen("/dev/null", "w");
    lresult_log(list, null_stream, "fuzz");
}

void fuzz_release(lresult *list)
{
    if (!list || list == LRESULT_INVALID) return;
    lresult_clear(list);
    free(list);
}
