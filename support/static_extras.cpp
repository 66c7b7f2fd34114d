// Static list extras: insertion by position, walking backwards and by steps,
// appending another list, tokenizing, reversing and the two sorts.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "support/quicksort.h"
#include "support/static.h"

namespace {

int insert_at(static_list *list, void *item, int position, bool allow_empty, const char *operation)
{
    if (!list)
        return -3;
    static_check(list, operation);
    if (position < 0 || (!item && !allow_empty))
        return -1;
    if (position >= list->count)
        return static_add(list, item);
    int last = static_add_empty(list);  // grows the array as static_add does
    if (last < 0)
        return last;
    if (list->cursor >= position)
        list->cursor++;
    std::memmove(list->items + position + 1, list->items + position,
                 (size_t)(last - position) * sizeof *list->items);
    list->items[position] = item;
    return position;
}

bool has_items(static_list *list, const char *operation)
{
    if (!list)
        return false;
    static_check(list, operation);
    return list->count > 0;
}

}  // namespace

int static_add_pos(static_list *list, void *item, int position)
{
    return insert_at(list, item, position, false, "add_pos");
}

int static_add_pos_empty(static_list *list, void *item, int position)
{
    return insert_at(list, item, position, true, "add_pos_empty");
}

int static_add_current(static_list *list, void *item)
{
    if (!list)
        return -3;
    bool appending = list->cursor == -1;
    if (appending)
        list->cursor = list->count;
    int result = static_add_pos(list, item, list->cursor);
    if (result < 0 && appending)
        list->cursor = -1;  // nothing was added: the cursor must not point past the end
    return result;
}

int static_end(static_list *list)
{
    if (!list)
        return -3;
    list->cursor = list->count - 1;
    return list->cursor;
}

void *static_get_back(static_list *list)
{
    if (!list)
        return nullptr;
    static_check(list, "get_back");
    if (list->cursor < 0)
        return nullptr;
    return list->items[list->cursor--];
}

// Steps may be negative; a cursor that would leave -1..count-1 falls to -1.
int static_forward(static_list *list, int steps)
{
    if (!list)
        return -3;
    static_check(list, "forward");
    long long moved = (long long)list->cursor + steps;
    if (moved >= -1 && moved < list->count) {
        list->cursor = (int)moved;
        return 1;
    }
    list->cursor = -1;
    return -4;
}

int static_back(static_list *list, int steps)
{
    if (!list)
        return -3;
    static_check(list, "back");
    long long moved = (long long)list->cursor - steps;
    if (moved < -1)
        moved += list->count + 1;  // -1, 0 .. count-1 form a ring
    if (moved >= 0 && moved < list->count) {
        list->cursor = (int)moved;
        return 1;
    }
    list->cursor = -1;
    return -4;
}

int static_is_first(static_list *list, void *item)
{
    return has_items(list, "is_first") && list->items[0] == item;
}

int static_is_last(static_list *list, void *item)
{
    return has_items(list, "is_last") && list->items[list->count - 1] == item;
}

int static_static(static_list *list, static_list *other)
{
    if (!list || !other)
        return -3;
    int adding = other->count;
    if (adding <= 0)
        return 1;
    static_check(list, "static");
    static const char failure[] = "Memory Allocation Error in 'static_static'";
    int spare = list->spare, step = list->step;
    if ((long long)list->count + adding + spare > INT_MAX / 2) {
        static_emsg(list, "%s", failure);
        return -2;
    }
    // One growth by a step of exactly the room wanted, through the list's
    // own allocator; spare and step are then restored.
    list->spare = 0;
    list->step = adding + spare;
    int room = static_make_room(list, failure);
    list->step = step;
    list->spare = spare;
    if (room < 0)
        return room;
    // other->items is read after the growth: the list may be appended to itself.
    std::memcpy(list->items + list->count, other->items, (size_t)adding * sizeof *list->items);
    list->count += adding;
    return 1;
}

// A text ending in delimiters gives one last, empty token. Running out of
// memory stops the split with -2.
int static_tok(static_list *list, const char *text, const char *delimiters)
{
    if (!list || !text || !delimiters)
        return 0;
    const char *p = text;
    while (*p) {
        p += std::strspn(p, delimiters);
        size_t length = std::strcspn(p, delimiters);
        char *token = (char *)std::malloc(length + 5);
        if (!token) {
            static_emsg(list, "Memory Allocation Error in 'static_tok'");
            return -2;
        }
        std::memcpy(token, p, length);
        token[length] = '\0';
        if (static_add(list, token) < 0) {
            std::free(token);
            return -2;
        }
        p += length;
    }
    return 1;
}

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
