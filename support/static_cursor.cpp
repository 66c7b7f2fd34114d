// The static list's cursor: walking forwards and backwards, by steps, and
// the questions of where it stands.
#include "support/static.h"

namespace {

// True when the list holds items (after the check every operation makes).
bool has_items(static_list *list, const char *operation)
{
    if (!list)
        return false;
    static_check(list, operation);
    return list->count > 0;
}

}  // namespace

int static_start(static_list *list)
{
    if (!list)
        return -3;
    list->cursor = list->count > 0 ? 0 : -1;
    return list->count > 0 ? 1 : -1;
}

void *static_get(static_list *list)
{
    if (!list || list->cursor < 0 || list->cursor >= list->count)
        return nullptr;
    void *item = list->items[list->cursor++];
    if (list->cursor >= list->count)
        list->cursor = -1;
    return item;
}

void *static_get_num(static_list *list, int index)
{
    if (!list || index < 0 || index >= list->count)
        return nullptr;
    list->cursor = index + 1 < list->count ? index + 1 : -1;
    return list->items[index];
}

int static_current(static_list *list)
{
    if (!list)
        return -3;
    static_check(list, "current");
    return list->cursor;
}

int static_size(static_list *list)
{
    if (!list)
        return -3;
    static_check(list, "size");
    return list->count;
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
