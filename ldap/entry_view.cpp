// A SearchResultEntry read where it lies in the received octets, for
// searches that need no element list: its DN, and its attributes' values
// walked in place. The whole message is still checked under the decoder's
// own rules (ber_rules.h), so that an entry read here is one the decoder
// would have taken, and junk stays junk; and the walk finds the elements
// the decoder's lists would hold, at the same positions.
#include <cstring>
#include <string>

#include "ldap/ber_rules.h"

namespace {

// Whether the decoder takes every child of the constructed element e, whose
// children it meets at depth.
bool children_checked(const data_element &e, int depth)
{
    for (int pos = 0; pos < e.length;) {
        data_element child = ber_header(e.content + pos, e.length - pos);
        int type = 0, choice = 0;
        if (child.length == -2)
            return false;
        switch (ber_kind_of(static_cast<int>(child.tag), &type, &choice)) {
        case BER_NESTED:
            if (depth >= DECODE_MAX_DEPTH || !children_checked(child, depth + 1))
                return false;
            break;
        case BER_OPEN_SEQUENCE:
            // Its header alone: its content is read as further children.
            pos += child.header;
            continue;
        case BER_JUNK: return false;
        default: break;
        }
        pos += child.header + child.length;
    }
    return true;
}

// The children of a checked constructed element as the decoder lists them:
// elements it skips make no entry, and a primitive SEQUENCE's content
// continues the list.
struct node_cursor {
    const unsigned char *at;
    const unsigned char *end;

    explicit node_cursor(const data_element &list)
        : at(list.content), end(list.content + list.length)
    {}

    // The next listed child; false after the last.
    bool next(data_element *node)
    {
        while (at < end) {
            data_element child = ber_header(at, static_cast<int>(end - at));
            int type = 0, choice = 0;
            if (child.length == -2)
                return false;
            ber_kind kind = ber_kind_of(static_cast<int>(child.tag), &type, &choice);
            at += kind == BER_OPEN_SEQUENCE ? child.header : child.header + child.length;
            if (kind != BER_OPEN_SEQUENCE && kind != BER_SKIPPED) {
                *node = child;
                return true;
            }
        }
        return false;
    }
};

bool is_text(const data_element &e)
{
    int type = 0, choice = 0;
    return ber_kind_of(static_cast<int>(e.tag), &type, &choice) == BER_TEXT;
}

bool is_nested(const data_element &e) { return (e.tag & 0x20) != 0; }

// The entry's element at position 1 when it is a list: its attributes.
bool attribute_list(const ldap_entry_view *entry, data_element *list)
{
    data_element whole = {0x64, entry->length, entry->octets, 0};
    node_cursor children(whole);
    data_element node;
    return children.next(&node) && children.next(list) && is_nested(*list);
}

// The in-place walk of ldap_attribute_at and ldap_value_at: attributes up
// to the first that is not a list beginning with a text, and the values of
// each up to the first that is not a text.
int walk_in_place(const ldap_entry_view *entry, ldap_value_fn on_value, void *context)
{
    data_element list, attribute, type, values, value;
    if (!attribute_list(entry, &list))
        return 1;
    std::string name;
    for (node_cursor attributes(list); attributes.next(&attribute) && is_nested(attribute);) {
        node_cursor parts(attribute);
        if (!parts.next(&type) || !is_text(type))
            return 1;
        // A C text: the type up to its first zero octet.
        const char *octets = reinterpret_cast<const char *>(type.content);
        name.assign(octets, strnlen(octets, static_cast<size_t>(type.length)));
        if (!parts.next(&values) || !is_nested(values))
            continue;
        for (node_cursor each(values); each.next(&value) && is_text(value);)
            if (!on_value(context, name.c_str(), reinterpret_cast<const char *>(value.content),
                          value.length))
                return 0;
    }
    return 1;
}

int walk_decoded(lresult *entry, ldap_value_fn on_value, void *context)
{
    lresult *values = nullptr;
    char *type;
    for (int i = 0; (type = ldap_attribute_at(entry, i, &values)) != nullptr; i++) {
        char *value;
        for (int v = 0; (value = ldap_value_at(values, v)) != nullptr; v++) {
            // The size counts a terminator, and none at all for an empty value.
            int size = lresult_get_size(values, v);
            if (!on_value(context, type, value, size > 0 ? size - 1 : 0))
                return 0;
        }
    }
    return 1;
}

}  // namespace

int ldap_entry_read(const unsigned char *octets, int count, int *id, ldap_entry_view *entry)
{
    // The usual message: SEQUENCE { INTEGER id, [APPLICATION 4] entry,
    // [0] controls (optional) }, as the decoder's own fast way reads it.
    data_element message = ber_header(octets, count);
    if (message.length == -2 || message.tag != 0x30 || !id || !entry)
        return 0;
    const unsigned char *end = message.content + message.length;
    data_element number = ber_header(message.content, message.length);
    if (number.length == -2 || number.tag != 0x02)
        return 0;
    const unsigned char *at = number.content + number.length;
    data_element contents = ber_header(at, static_cast<int>(end - at));
    if (contents.length == -2 || contents.tag != 0x64)
        return 0;
    at = contents.content + contents.length;
    data_element controls = ber_header(at, static_cast<int>(end - at));
    if (at != end && (controls.length == -2 || controls.tag != 0xA0 ||
                      controls.content + controls.length != end))
        return 0;
    // The decoder meets the children of both at depth 2.
    if (!children_checked(contents, 2) || (at != end && !children_checked(controls, 2)))
        return -1;
    *id = ber_integer_value(number.content, number.length);
    *entry = {contents.content, contents.length, nullptr};
    return 1;
}

const char *ldap_view_dn(const ldap_entry_view *entry, int *length)
{
    if (length)
        *length = 0;
    if (!entry)
        return nullptr;
    if (!entry->octets) {
        const char *dn = ldap_get_dn(entry->decoded);
        if (dn && length)
            *length = static_cast<int>(strlen(dn));
        return dn;
    }
    // The first element's text: none for an empty one, and up to its first
    // zero octet, as a C text reads it.
    data_element whole = {0x64, entry->length, entry->octets, 0}, name;
    if (!node_cursor(whole).next(&name) || !is_text(name) || name.length == 0)
        return nullptr;
    const char *dn = reinterpret_cast<const char *>(name.content);
    if (length)
        *length = static_cast<int>(strnlen(dn, static_cast<size_t>(name.length)));
    return dn;
}

int ldap_view_values(const ldap_entry_view *entry, ldap_value_fn on_value, void *context)
{
    if (!entry || !on_value)
        return 0;
    if (!entry->octets)
        return walk_decoded(entry->decoded, on_value, context);
    return oom_guard([&] { return walk_in_place(entry, on_value, context); }, [] { return 0; });
}
