// static_list: life cycle, adding (at the end, at a position, another
// list's items, the tokens of a text), removing, clearing and the list's
// message sinks.
#include "support/static.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void empty_list(static_list *list)
{
    free(list->items);
    list->items = nullptr;
    list->count = 0;
    list->spare = 0;
    list->cursor = -1;
}

// Hands every item to fn (when given), frees it unless fn took it over, and
// empties the list.
void release_items(static_list *list, const char *operation, void (*fn)(void *item),
                   bool free_items)
{
    static_check(list, operation);
    for (int i = 0; i < list->count; i++) {
        if (fn)
            fn(list->items[i]);
        if (free_items)
            free(list->items[i]);
    }
    empty_list(list);
}

// The list's sinks: the caller's text after "STATIC: ", handed on as "%s".
int list_message(static_list *list, bool debug, const char *format, va_list args)
{
    if (!list)
        return -3;
    static_check(list, debug ? "dmsg" : "emsg");
    msg_fn sink = debug ? list->dmsg_fn : list->emsg_fn;
    if (!sink)
        return 1;
    char prefixed[512];
    char text[1024];
    lprintf(prefixed, sizeof prefixed, "STATIC: %s", format);  // cut at 511
    lvprintf(text, sizeof text, prefixed, args);
    sink("%s", text);
    return 1;
}

// The array really holds the next power of two of count + spare slots:
// the list reports growth by `step`, yet appending many items costs only a
// logarithmic number of reallocations (and copies, under sanitizers).
size_t allocated_slots(int slots)
{
    size_t n = 1;
    while (n < size_t(slots))
        n *= 2;
    return n;
}

}  // namespace

void static_check(const static_list *list, const char *operation)
{
    if (!list || list->magic == STATIC_MAGIC)
        return;
    char message[512];
    lprintf(message, sizeof message, "Error Using Static List before Init: %s\n", operation);
    perror(message);
    exit(1);
}

int static_make_room(static_list *list, const char *failure)
{
    if (list->spare > 0)
        return 1;
    // A step below 1 (a record that skipped static_init) still makes room.
    int step = list->step < 1 ? 1 : list->step;
    if (list->count > INT_MAX / 2 - step) {
        static_emsg(list, "%s", failure);
        return -2;
    }
    size_t want = allocated_slots(list->count + step);
    if (!list->items || want > allocated_slots(list->count)) {
        void **grown = (void **)realloc(list->items, sizeof(void *) * want);
        if (!grown) {
            static_emsg(list, "%s", failure);
            return -2;
        }
        list->items = grown;
    }
    list->spare = step;
    return 1;
}

int static_init(static_list *list, msg_fn emsg_fn)
{
    if (!list)
        return -3;
    memset(list, 0, sizeof *list);
    list->magic = STATIC_MAGIC;
    list->emsg_fn = emsg_fn;
    list->step = 5;
    list->cursor = -1;
    return 1;
}

int static_setup(static_list *list, int step)
{
    if (!list)
        return -3;
    static_check(list, "setup");
    list->step = step < 1 ? 1 : step;
    return 1;
}

int static_debug(static_list *list, msg_fn dmsg_fn)
{
    if (!list)
        return -3;
    static_check(list, "debug");
    list->dmsg_fn = dmsg_fn;
    return 1;
}

int static_add_empty(static_list *list)
{
    if (!list)
        return -3;
    int r = static_make_room(list, "Memory Allocation Error in 'static_add'");
    if (r != 1)
        return r;
    list->items[list->count] = nullptr;
    list->spare--;
    return list->count++;
}

int static_add(static_list *list, void *item)
{
    if (!list)
        return -3;
    if (!item)
        return -1;
    int index = static_add_empty(list);
    if (index >= 0)
        list->items[index] = item;
    return index;
}

void *static_remove_num(static_list *list, int index)
{
    if (!list)
        return nullptr;
    static_check(list, "remove_num");
    if (index < 0 || index >= list->count)
        return nullptr;
    void *item = list->items[index];
    list->count--;
    if (list->count > 0) {
        memmove(list->items + index, list->items + index + 1,
                sizeof(void *) * size_t(list->count - index));
        list->spare++;
    } else {
        free(list->items);
        list->items = nullptr;
        list->spare = 0;
    }
    if (list->cursor > index || (list->cursor == index && index == list->count))
        list->cursor--;
    return item;
}

void *static_remove(static_list *list)
{
    if (!list)
        return nullptr;
    static_check(list, "remove_num");
    int at = list->cursor <= 0 ? list->count : list->cursor;
    void *item = static_remove_num(list, at - 1);
    if (list->cursor >= list->count)
        list->cursor = -1;
    return item;
}

int static_clear(static_list *list)
{
    if (!list)
        return -3;
    static_check(list, "clear");
    empty_list(list);
    return 1;
}

int static_clear_dealloc(static_list *list)
{
    if (!list)
        return -3;
    release_items(list, "dealloc", nullptr, true);
    return 1;
}

int static_clear_struct(static_list *list, void (*clear_fn)(void *item))
{
    if (!list || !clear_fn)
        return 0;
    release_items(list, "clear_struct", clear_fn, true);
    return 1;
}

int static_clear_release(static_list *list, void (*release_fn)(void *item))
{
    if (!list || !release_fn)
        return 0;
    release_items(list, "clear_release", release_fn, false);
    return 1;
}

int static_emsg(static_list *list, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int r = list_message(list, false, format, args);
    va_end(args);
    return r;
}

int static_dmsg(static_list *list, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int r = list_message(list, true, format, args);
    va_end(args);
    return r;
}

namespace {

// Puts item at position, moving the later items up (at the end when
// position is beyond it); the position, or the static list's error code.
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
