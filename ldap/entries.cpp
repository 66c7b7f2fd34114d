// Walking what a search hands out: the entries of a result list, and an
// entry's DN, attributes and values, by name or by position.
#include <cerrno>
#include <cstdlib>

#include "ldap/ldap.h"

namespace {

lresult *attribute_at(lresult *entry, int index)
{
    return lresult_get_result(lresult_get_result(entry, 1, 0), index, 0);
}

// The text at position, "" for an empty one (which the decoder leaves
// without storage): an empty value or type is data, not the end of a list.
// Null when there is no text there.
char *text_at(lresult *list, int position)
{
    static char empty[1] = "";
    char *text = lresult_get_char(list, position);
    if (text)
        return text;
    int kind = lresult_check(list, position);
    return kind == 2 || kind == 4 ? empty : nullptr;
}

}  // namespace

void ldap_clear_result_list(static_list *results)
{
    static_clear_struct(results, [](void *entry) { lresult_clear(static_cast<lresult *>(entry)); });
}

lresult *ldap_first_entry(static_list *results)
{
    if (!results)
        return nullptr;
    static_start(results);
    return static_cast<lresult *>(static_get(results));
}

lresult *ldap_next_entry(static_list *results)
{
    return results ? static_cast<lresult *>(static_get(results)) : nullptr;
}

char *ldap_get_dn(lresult *entry) { return lresult_get_char(entry, 0); }

char *ldap_first_attribute(lresult *entry)
{
    if (!entry || entry == LRESULT_INVALID)
        return nullptr;
    entry->attr_cursor = 0;
    return text_at(attribute_at(entry, 0), 0);
}

char *ldap_next_attribute(lresult *entry)
{
    if (!entry || entry == LRESULT_INVALID)
        return nullptr;
    entry->attr_cursor++;
    return text_at(attribute_at(entry, entry->attr_cursor), 0);
}

char **ldap_get_values(lresult *entry, const char *type)
{
    if (!attribute_at(entry, 0))
        return nullptr;
    lresult *attribute = nullptr;
    for (int i = 0; (attribute = attribute_at(entry, i)) != nullptr; i++)
        if (s_stricmp(text_at(attribute, 0), type) == 0)
            break;
    lresult *values = lresult_get_result(attribute, 1, 0);
    if (!values)
        return nullptr;
    if (values->values)
        return values->values;
    int count = lresult_size(values);
    char **vector = static_cast<char **>(calloc(static_cast<size_t>(count) + 1, sizeof(char *)));
    if (!vector) {
        errno = ENOMEM;
        return nullptr;
    }
    for (int i = 0; i < count; i++)
        vector[i] = text_at(values, i);
    values->values = vector;
    return vector;
}

char *ldap_attribute_at(lresult *entry, int index, lresult **values)
{
    lresult *attribute = attribute_at(entry, index);
    if (values)
        *values = lresult_get_result(attribute, 1, 0);
    return text_at(attribute, 0);
}

char *ldap_value_at(lresult *values, int index) { return text_at(values, index); }
