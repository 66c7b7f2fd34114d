// static_list: the one container, a growable array of untyped pointers with
// a cursor. It grows by a fixed step and ends the process when used before
// static_init.
//
// Results: 1 success, -1 bad argument (or empty list for static_start),
// -2 no memory, -3 no list, -4 the cursor left the list.
#ifndef SUPPORT_STATIC_H
#define SUPPORT_STATIC_H

#include "support/nlib.h"

#define STATIC_MAGIC 32000

struct static_list {
    int magic;       // STATIC_MAGIC once initialised
    msg_fn emsg_fn;  // error sink, or none
    msg_fn dmsg_fn;  // debug sink, or none
    int step;        // slots added at each growth
    int spare;       // free slots after the items
    int count;       // number of items
    int cursor;      // next item for static_get, -1 when none
    void **items;
};

// Life cycle, appending, walking, removing, clearing (static_list.cpp)
int static_init(static_list *list, msg_fn emsg_fn);
int static_setup(static_list *list, int step);
int static_debug(static_list *list, msg_fn dmsg_fn);
int static_add(static_list *list, void *item);
int static_add_empty(static_list *list);
int static_start(static_list *list);
void *static_get(static_list *list);
void *static_get_num(static_list *list, int index);
int static_current(static_list *list);
int static_size(static_list *list);
void *static_remove_num(static_list *list, int index);
void *static_remove(static_list *list);
int static_clear(static_list *list);
int static_clear_dealloc(static_list *list);
int static_clear_struct(static_list *list, void (*clear_fn)(void *item));
int static_clear_release(static_list *list, void (*release_fn)(void *item));
int static_emsg(static_list *list, const char *format, ...) NLIB_PRINTF(2, 3);
int static_dmsg(static_list *list, const char *format, ...) NLIB_PRINTF(2, 3);

// Shared by the list's own modules: the fatal initialisation check (ends the
// process naming the operation) and the growth by one step when no slot is
// spare (returns 1, or -2 after reporting `failure` through static_emsg).
// Only static_make_room may enlarge `items`: it keeps more slots allocated
// than count + spare, so a resize of its own elsewhere would break it.
void static_check(const static_list *list, const char *operation);
int static_make_room(static_list *list, const char *failure);

// Insertion, backward walking, tokenising, reversing, sorting (static_list.cpp,
// static_cursor.cpp, static_order.cpp)
int static_add_pos(static_list *list, void *item, int position);
int static_add_pos_empty(static_list *list, void *item, int position);
int static_add_current(static_list *list, void *item);
int static_end(static_list *list);
void *static_get_back(static_list *list);
int static_forward(static_list *list, int steps);
int static_back(static_list *list, int steps);
int static_is_first(static_list *list, void *item);
int static_is_last(static_list *list, void *item);
int static_static(static_list *list, static_list *other);
int static_tok(static_list *list, const char *text, const char *delimiters);
int static_reverse(static_list *list);
void static_exchange(void **slot_a, void **slot_b);
void static_sort(static_list *list, int (*compare)(const void *, const void *), msg_fn dmsg_fn);
void static_sort_data(static_list *list, void *data, int (*compare)(void *a, void *b, void *data),
                      msg_fn dmsg_fn);
// Comparators for static_sort: each receives two item slots holding texts.
int sort_string_len(const void *slot_a, const void *slot_b);
int sort_string(const void *slot_a, const void *slot_b);
int sort_string_case(const void *slot_a, const void *slot_b);

#endif
