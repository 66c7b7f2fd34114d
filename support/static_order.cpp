// Ordering a static list: reversing it and the two sorts, with the usual
// comparisons of text items.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "support/quicksort.h"
#include "support/static.h"

int static_reverse(static_list *list)
{
    if (!list)
        return -3;
    static_check(list, "reverse");
    if (list->count > 1)
        std::reverse(list->items, list->items + list->count);
    return 1;
}

void static_exchange(void **slot_a, void **slot_b)
{
    if (slot_a && slot_b)
        std::swap(*slot_a, *slot_b);
}

void static_sort(static_list *list, int (*compare)(const void *, const void *), msg_fn dmsg_fn)
{
    if (!list || list->count < 2 || !compare)
        return;
    list->dmsg_fn = dmsg_fn;
    static_dmsg(list, "Sorting %d items (qsort)", list->count);
    std::qsort(list->items, (size_t)list->count, sizeof *list->items, compare);
    static_dmsg(list, "Exited on cycle 1");
}

void static_sort_data(static_list *list, void *data, int (*compare)(void *a, void *b, void *data),
                      msg_fn dmsg_fn)
{
    if (!list || list->count < 2 || !compare)
        return;
    list->dmsg_fn = dmsg_fn;
    static_dmsg(list, "Sorting %d items", list->count);
    void **items = list->items;
    int count = list->count;
    quicksort_positions(
        count, [&](int a, int b) { return compare(items[a], items[b], data); },
        [&](int a, int b) { static_exchange(&items[a], &items[b]); });

    // Neighbour pass: a proof of order that also reports any work left over.
    int cycles = 0;
    for (int walk = 0; walk < count - 1; walk++) {
        bool swapped = false;
        for (int k = 0; k + 1 < count; k++) {
            if (compare(items[k], items[k + 1], data) > 0) {
                static_exchange(&items[k], &items[k + 1]);
                swapped = true;
            }
        }
        if (!swapped)
            break;
        cycles++;
    }
    static_dmsg(list, "Exited on cycle %d/%d", cycles, count - 1);
}

int sort_string_len(const void *slot_a, const void *slot_b)
{
    return (int)s_strlen(*(char *const *)slot_a) - (int)s_strlen(*(char *const *)slot_b);
}

int sort_string(const void *slot_a, const void *slot_b)
{
    return s_stricmp(*(char *const *)slot_a, *(char *const *)slot_b);
}

int sort_string_case(const void *slot_a, const void *slot_b)
{
    return s_strcmp(*(char *const *)slot_a, *(char *const *)slot_b);
}
