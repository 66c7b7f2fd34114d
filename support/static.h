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
//
// The list holds the caller's pointers, not copies: it owns only its slot
// array, which static_clear releases. Who owns the items says the clearing
// used: static_clear_dealloc frees each with free, static_clear_struct
// hands each to clear_fn to empty and then frees it, static_clear_release
// hands each to release_fn, which frees it as it must (items that share a
// block with something else). A null list gives -3 (static_clear_struct and
// static_clear_release: 0), a null result or nothing done.

// Empties the record whatever it held (nothing is freed), with emsg_fn as
// its error sink (null: none) and a step of 5. Returns 1.
int static_init(static_list *list, msg_fn emsg_fn);
// The number of slots each growth adds (below 1 counts as 1); returns 1.
int static_setup(static_list *list, int step);
// The debug sink (null: none); returns 1.
int static_debug(static_list *list, msg_fn dmsg_fn);
// Appends item (static_add_empty: a null slot). Returns the new index; -1
// for a null item; -2 when memory runs out (reported to the error sink,
// the list unchanged).
int static_add(static_list *list, void *item);
int static_add_empty(static_list *list);
// Puts the cursor on the first item: 1, or -1 for an empty list.
int static_start(static_list *list);
// The item at the cursor, which then moves on (to -1 after the last); null
// when the cursor stands nowhere.
void *static_get(static_list *list);
// The item at index, the cursor then after it; null out of range.
void *static_get_num(static_list *list, int index);
// The cursor (-1: none) and the number of items.
int static_current(static_list *list);
int static_size(static_list *list);
// Takes the item at index out of the list and hands it back: it is the
// caller's again. Null out of range. The cursor keeps to its item.
void *static_remove_num(static_list *list, int index);
// Takes out the item before the cursor (the one static_get gave last), or
// the last one when the cursor stands at the start or nowhere.
void *static_remove(static_list *list);
// Empty the list as said above; the record stays ready for use. Return 1.
int static_clear(static_list *list);
int static_clear_dealloc(static_list *list);
int static_clear_struct(static_list *list, void (*clear_fn)(void *item));
int static_clear_release(static_list *list, void (*release_fn)(void *item));
// The list's sinks: "STATIC: " and the text (its format cut at 511, the
// text at 1023 characters). Return 1, also without a sink.
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

// Insert item before position (at the end when position is beyond it),
// the cursor kept on its item; static_add_pos_empty takes a null item too,
// static_add_current inserts at the cursor (at the end when it stands
// nowhere). Return the item's index, -1 for a null item or a negative
// position, -2 when memory runs out.
int static_add_pos(static_list *list, void *item, int position);
int static_add_pos_empty(static_list *list, void *item, int position);
int static_add_current(static_list *list, void *item);
// Puts the cursor on the last item and returns its index (-1: empty).
int static_end(static_list *list);
// The item at the cursor, which then steps back; null when it stands nowhere.
void *static_get_back(static_list *list);
// Move the cursor by steps (either sign). static_forward: 1, or -4 with the
// cursor nowhere when it would leave the list. static_back goes round from
// nowhere to the last item: 1, or -4 with the cursor nowhere.
int static_forward(static_list *list, int steps);
int static_back(static_list *list, int steps);
// 1 when item is the first (last) one, else 0, also for an empty list.
int static_is_first(static_list *list, void *item);
int static_is_last(static_list *list, void *item);
// Appends the pointers of other (which may be list itself); other keeps
// them too. 1, -2 when memory runs out (nothing appended), -3 for null.
int static_static(static_list *list, static_list *other);
// Appends each token of text between delimiters as a new text the list
// owns (static_clear_dealloc); a text ending in delimiters adds one empty
// token. 1; -2 when memory runs out (the tokens so far stay); 0 for null.
int static_tok(static_list *list, const char *text, const char *delimiters);
// Reverses the order of the items; returns 1.
int static_reverse(static_list *list);
// Swaps the pointers in two slots; null is ignored.
void static_exchange(void **slot_a, void **slot_b);
// Sort the items (not stably). static_sort's compare gets two slots (each
// a pointer to an item, as for qsort), static_sort_data's the two items and
// data. Both make dmsg_fn the list's debug sink; fewer than two items, a
// null list or compare: nothing.
void static_sort(static_list *list, int (*compare)(const void *, const void *), msg_fn dmsg_fn);
void static_sort_data(static_list *list, void *data, int (*compare)(void *a, void *b, void *data),
                      msg_fn dmsg_fn);
// Comparators for static_sort: each receives two item slots holding texts,
// compared by length, ignoring case, and as they are (null texts as
// s_strlen, s_stricmp and s_strcmp take them).
int sort_string_len(const void *slot_a, const void *slot_b);
int sort_string(const void *slot_a, const void *slot_b);
int sort_string_case(const void *slot_a, const void *slot_b);

#endif
