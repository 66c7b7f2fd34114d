// Decoded element lists: each lresult holds its elements in wire order, and
// every constructed element holds a nested lresult of its children.
#include "ldap/ldap.h"

#include <cstdlib>

namespace {

bool is_list(const lresult *list) { return list && list != LRESULT_INVALID; }

// Releases one element. A shared node is one block with its value: the
// nested list's block, the node right after the list, for a constructed
// element; the node's own, the value right after it, for a primitive one.
void node_release(void *item)
{
    auto *node = static_cast<lresult_node *>(item);
    if (!node)
        return;
    void *value = node->value;
    bool nested = node->type == 16 && is_list(static_cast<lresult *>(value));
    if (nested)
        lresult_clear(static_cast<lresult *>(value));
    if (node->shared) {
        free(nested ? value : node);
        return;
    }
    if (nested || node->type != 16)
        free(value);
    free(node);
}

enum { KIND_NONE, KIND_INTEGER, KIND_TEXT, KIND_NESTED, KIND_CONTEXT };

int node_kind(const lresult_node *node)
{
    if (!node)
        return KIND_NONE;
    switch (node->type) {
    case 1:
    case 2:
    case 10: return KIND_INTEGER;
    case 3:
    case 4:
    case 19:
    case 22: return KIND_TEXT;
    case 16: return KIND_NESTED;
    default: return static_cast<signed char>(node->type & 0xFF) < 0 ? KIND_CONTEXT : KIND_NONE;
    }
}

}  // namespace

void lresult_init(lresult *list)
{
    if (!is_list(list))
        return;
    list->application = 0;
    list->id = 0;
    list->error = nullptr;
    list->attr_cursor = 0;
    list->values = nullptr;
    static_init(&list->items, nullptr);
}

void lresult_clear(lresult *list)
{
    if (!is_list(list))
        return;
    free(list->error);
    list->error = nullptr;
    static_clear_release(&list->items, node_release);
    free(list->values);
    list->values = nullptr;
}

void lresult_remove(lresult *list, int position)
{
    if (is_list(list) && position >= 0 && position < static_size(&list->items))
        node_release(static_cast<lresult_node *>(static_remove_num(&list->items, position)));
}

int lresult_application(const lresult *list) { return is_list(list) ? list->application : 0; }

int lresult_id(const lresult *list) { return is_list(list) ? list->id : 0; }

int lresult_size(lresult *list) { return is_list(list) ? static_size(&list->items) : 0; }

lresult_node *lresult_get(lresult *list, int position)
{
    if (!is_list(list) || position < 0 || position >= static_size(&list->items))
        return nullptr;
    return static_cast<lresult_node *>(static_get_num(&list->items, position));
}

int lresult_check(lresult *list, int position) { return node_kind(lresult_get(list, position)); }

int lresult_get_choice(lresult *list, int position)
{
    lresult_node *node = lresult_get(list, position);
    return node ? node->choice : -1;
}

void *lresult_get_choice_data(lresult *list, int position, int *size)
{
    if (size)
        *size = 0;
    lresult_node *node = lresult_get(list, position);
    if (!node || node->choice < 0)
        return nullptr;
    if (size)
        *size = node->size;
    return node->value;
}

lresult *lresult_get_result(lresult *list, int position, int remove)
{
    lresult_node *node = lresult_get(list, position);
    if (node_kind(node) != KIND_NESTED)
        return nullptr;
    auto *nested = static_cast<lresult *>(node->value);
    if (remove) {
        static_remove_num(&list->items, position);
        if (!node->shared)  // else it goes with the nested list, now the caller's
            free(node);
    }
    return nested;
}

int lresult_get_int(lresult *list, int position)
{
    lresult_node *node = lresult_get(list, position);
    if (node_kind(node) != KIND_INTEGER || !node->value)
        return 0;
    return *static_cast<int *>(node->value);
}

char *lresult_get_char(lresult *list, int position)
{
    lresult_node *node = lresult_get(list, position);
    int kind = node_kind(node);
    if (kind != KIND_TEXT && kind != KIND_CONTEXT)
        return nullptr;
    return static_cast<char *>(node->value);
}

int lresult_get_size(lresult *list, int position)
{
    lresult_node *node = lresult_get(list, position);
    if (!node)
        return 0;
    int kind = node_kind(node);
    return kind == KIND_TEXT || kind == KIND_CONTEXT ? node->size + 1 : node->size;
}

void ldap_free_message(lresult *message)
{
    if (!message || message == LRESULT_INVALID)
        return;
    lresult_clear(message);
    free(message);
}
