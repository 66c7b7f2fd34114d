// BER decoder: element headers, elements into lresult trees, and the framing
// of whole LDAP messages. It reads only the octets it is given and refuses
// nesting deeper than DECODE_MAX_DEPTH, so hostile input yields junk, never a
// crash.
#include "ldap/ber_rules.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const char UNKNOWN_TYPE[] = "Unknown Type";
const char TOO_DEEP[] = "Nesting Too Deep";
const char NO_MEMORY[] = "Out of Memory";

void set_error(lresult *target, const char *text)
{
    free(target->error);
    target->error = strdup(text);
}

// A node whose value (payload octets, if any) lives in the same allocation.
lresult_node *node_new(int type, int size, int choice, size_t payload)
{
    auto *node = static_cast<lresult_node *>(malloc(sizeof(lresult_node) + payload));
    if (!node)
        return nullptr;
    node->type = type;
    node->size = size;
    node->choice = static_cast<signed char>(choice);
    node->value = payload ? node + 1 : nullptr;
    node->shared = payload ? 1 : 0;
    return node;
}

// Appends the node to the target; on failure releases it and reports -1.
int node_append(lresult *target, lresult_node *node, int consumed)
{
    if (node && static_add(&target->items, node) >= 0)
        return consumed;
    free(node);
    set_error(target, NO_MEMORY);
    return -1;
}

int append_text(lresult *target, const data_element &e, int type, int choice, int consumed)
{
    // Content, then a zero terminator (two, as callers may expect).
    size_t payload = e.length ? static_cast<size_t>(e.length) + 2 : 0;
    lresult_node *node = node_new(type, e.length, choice, payload);
    if (node && payload) {
        auto *text = static_cast<unsigned char *>(node->value);
        memcpy(text, e.content, e.length);
        text[e.length] = text[e.length + 1] = 0;
    }
    return node_append(target, node, consumed);
}

int append_integer(lresult *target, const data_element &e, int type, int consumed)
{
    lresult_node *node = node_new(type, e.length, -1, sizeof(int));
    if (node)
        *static_cast<int *>(node->value) = ber_integer_value(e.content, e.length);
    return node_append(target, node, consumed);
}

int decode(ldap_handle *ldap, const data_element &e, lresult *target, int depth);

// Decodes the contents of a constructed element, child by child, into list;
// the octets read, or -1 (list->error may tell why).
int decode_children(ldap_handle *ldap, const data_element &e, lresult *list, int depth)
{
    int pos = 0;
    while (pos < e.length) {
        data_element child = data_break_down(e.content + pos, e.length - pos);
        int used = child.length == -2 ? -1 : decode(ldap, child, list, depth);
        if (used < 0)
            return -1;
        pos += used;
    }
    return pos;
}

int decode_constructed(ldap_handle *ldap, const data_element &e, lresult *target, int depth)
{
    if (depth >= DECODE_MAX_DEPTH) {
        target->application = -1;
        set_error(target, TOO_DEEP);
        return -1;
    }
    // The nested list and its node share one allocation, the node after the
    // list: freeing the list releases both.
    auto *nested = static_cast<lresult *>(malloc(sizeof(lresult) + sizeof(lresult_node)));
    if (!nested) {
        set_error(target, NO_MEMORY);
        return -1;
    }
    lresult_init(nested);
    int pos = decode_children(ldap, e, nested, depth + 1);
    if (pos < 0) {
        target->application = -1;
        set_error(target, nested->error ? nested->error : UNKNOWN_TYPE);
        lresult_clear(nested);
        free(nested);
        return -1;
    }
    auto *node = reinterpret_cast<lresult_node *>(nested + 1);
    node->type = 16;
    node->value = nested;
    node->size = e.length;
    node->choice = static_cast<signed char>(e.tag & 0x0F);
    node->shared = 1;
    if (static_add(&target->items, node) < 0) {
        lresult_clear(nested);
        free(nested);
        set_error(target, NO_MEMORY);
        return -1;
    }
    return pos + e.header;
}

int decode(ldap_handle *ldap, const data_element &e, lresult *target, int depth)
{
    int consumed = e.header + e.length;
    int tag = e.tag & 0xFF;
    if ((tag & 0xC0) == 0x40)
        target->application = tag & 0x1F;
    int type = 0, choice = -1;
    switch (ber_kind_of(tag, &type, &choice)) {
    case BER_NESTED: return decode_constructed(ldap, e, target, depth);
    case BER_TEXT: return append_text(target, e, type, choice, consumed);
    case BER_INTEGER: return append_integer(target, e, type, consumed);
    case BER_SKIPPED: return consumed;
    case BER_OPEN_SEQUENCE: return e.header;
    default: set_error(target, UNKNOWN_TYPE); return -1;
    }
}

lresult *list_new()
{
    auto *list = static_cast<lresult *>(malloc(sizeof(lresult)));
    if (list)
        lresult_init(list);
    return list;
}

void list_free(lresult *list)
{
    lresult_clear(list);
    if (list != LRESULT_INVALID)
        free(list);
}

// Decodes the outermost element of the octets into a new list; null with
// the failure reported when they are junk.
lresult *decode_outer(ldap_handle *ldap, const unsigned char *octets, int count, int *consumed)
{
    data_element e = data_break_down(octets, count);
    if (e.length == -2) {
        ldap_emsg(ldap, "Invalid Input Data (-2): Size=%d", count);
        return nullptr;
    }
    lresult *outer = list_new();
    if (!outer)
        return nullptr;
    *consumed = decode(ldap, e, outer, 0);
    if (*consumed >= 0)
        return outer;
    if (outer->error)
        ldap_emsg(ldap, "decoded %d data: {%d}{%s} - Expected Junk Data", *consumed, outer->id,
                  outer->error);
    else
        ldap_emsg(ldap, "decoded %d data: {%d}{no error} - Expected Junk Data", *consumed,
                  outer->id);
    list_free(outer);
    return nullptr;
}

void report_decoded(ldap_handle *ldap, int consumed, const lresult *result)
{
    if (!result)
        ldap_dmsg(ldap, "decoded %d data: {??}{??}", consumed);
    else if (result->error)
        ldap_dmsg(ldap, "decoded %d data: {%d}{%s}", consumed, result->id, result->error);
    else
        ldap_dmsg(ldap, "decoded %d data: {%d}{no error}", consumed, result->id);
}

// A constructed element's children in a list of its own; null on failure.
lresult *decode_nested(ldap_handle *ldap, const data_element &e, int depth)
{
    lresult *list = list_new();
    if (list && decode_children(ldap, e, list, depth) < 0) {
        list_free(list);
        list = nullptr;
    }
    return list;
}

// The usual message, SEQUENCE { INTEGER id, constructed [APPLICATION n] op,
// [0] controls (optional) }, decoded straight into the operation's list,
// without lists for the envelope: a received entry then costs a few
// allocations instead of about ten. Null for any other shape or for junk,
// which the general decoder then reads and reports.
lresult *decode_usual_message(ldap_handle *ldap, const unsigned char *octets, int count,
                              lresult **controls, int *consumed)
{
    data_element message = data_break_down(octets, count);
    if (message.length == -2 || message.tag != 0x30)
        return nullptr;
    const unsigned char *end = message.content + message.length;
    data_element id = data_break_down(message.content, message.length);
    if (id.length == -2 || id.tag != 0x02)
        return nullptr;
    const unsigned char *at = id.content + id.length;
    data_element op = data_break_down(at, static_cast<int>(end - at));
    if (op.length == -2 || (op.tag & 0xE0) != 0x60)
        return nullptr;
    at = op.content + op.length;
    data_element extra = data_break_down(at, static_cast<int>(end - at));
    if (at != end &&
        (extra.length == -2 || extra.tag != 0xA0 || extra.content + extra.length != end))
        return nullptr;
    // Depth 2: where the general decoder meets the operation's children.
    lresult *result = decode_nested(ldap, op, 2);
    lresult *control_list = at == end || !result ? nullptr : decode_nested(ldap, extra, 2);
    if (!result || (at != end && !control_list)) {
        list_free(result);
        return nullptr;
    }
    result->application = op.tag & 0x1F;
    result->id = ber_integer_value(id.content, id.length);
    if (controls)
        *controls = control_list;
    else if (control_list)
        list_free(control_list);
    *consumed = message.header + message.length;
    return result;
}

}  // namespace

// Octets before the last four that are not all zero would be lost: 2^32 is
// not 0.
int ber_integer_value(const unsigned char *content, int length)
{
    uint32_t value = 0;
    for (int i = 0; i < length; i++) {
        if (i < length - 4 && content[i] != 0)
            return INT_MIN;
        value = value << 8 | content[i];
    }
    return static_cast<int>(value);
}

data_element data_break_down(const unsigned char *octets, int count)
{
    return ber_header(octets, count);
}

data_element data_break_down_length(const unsigned char *octets, int count)
{
    return data_break_down(octets, count);
}

int ldap_decode_BD(ldap_handle *ldap, const data_element *element, lresult *target)
{
    if (!element)
        return 0;
    if (!target || target == LRESULT_INVALID)
        return -1;
    if (element->length < 0 || (element->length > 0 && !element->content)) {
        set_error(target, UNKNOWN_TYPE);
        return -1;
    }
    return decode(ldap, *element, target, 0);
}

lresult *ldap_decode_data(ldap_handle *ldap, const unsigned char *octets, int count,
                          lresult **controls)
{
    if (controls)
        *controls = nullptr;
    if (!octets)
        return nullptr;
    int consumed = 0;
    lresult *usual = decode_usual_message(ldap, octets, count, controls, &consumed);
    if (usual) {
        report_decoded(ldap, consumed, usual);
        return usual;
    }
    lresult *outer = decode_outer(ldap, octets, count, &consumed);
    if (!outer)
        return LRESULT_INVALID;

    lresult *result = nullptr;
    lresult *msg = lresult_get_result(outer, 0, 0);
    if (msg && lresult_check(msg, 0) == 1) {
        int id = lresult_get_int(msg, 0);
        int operation = msg->application;
        if (controls)
            *controls = lresult_get_result(msg, 2, 1);
        result = lresult_get_result(msg, 1, 1);
        if (!result) {
            // A primitive operation: the message list itself, less its ID.
            result = lresult_get_result(outer, 0, 1);
            lresult_remove(result, 0);
        }
        result->application = operation;
        result->id = id;
    }
    list_free(outer);
    report_decoded(ldap, consumed, result);
    return result;
}

lresult *ldap_decode_data_input(ldap_handle *ldap, const unsigned char *octets, int count)
{
    if (!octets)
        return nullptr;
    int consumed = 0;
    lresult *result = decode_outer(ldap, octets, count, &consumed);
    if (!result)
        return LRESULT_INVALID;
    if (lresult_size(result) == 1 && lresult_check(result, 0) == 3) {
        lresult *inner = lresult_get_result(result, 0, 1);
        list_free(result);
        result = inner;
    }
    report_decoded(ldap, consumed, result);
    return result;
}
