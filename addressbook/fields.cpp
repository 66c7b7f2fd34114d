// The field table: record_id, then one record per "field" line of the
// configuration.
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "addressbook/extern_book.h"

display_field *display_data;
int display_data_length;

namespace {

void field_free(display_field *field)
{
    free(field->name);
    free(field->type);
    free(field->attribute);
    *field = display_field{};
}

int field_count()
{
    int count = 0;
    while (display_data[count].name)
        count++;
    return count;
}

}  // namespace

int book_fields_init(int *capacity)
{
    if (!capacity)
        return 0;
    if (display_data) {
        for (int i = 0; display_data[i].name; i++)
            field_free(&display_data[i]);
        free(display_data);
    }
    *capacity = 10;
    display_data = static_cast<display_field *>(calloc(*capacity, sizeof(display_field)));
    if (!display_data)
        return -1;
    display_field &id = display_data[0];
    id.name = strdup("record_id");
    id.type = strdup("STRING");
    id.attribute = strdup("dn");
    id.searchable = 0;
    return id.name && id.type && id.attribute ? 1 : -1;
}

namespace {

// strtok-style: the next token of blanks-and-tabs-separated text, ended in
// place; null when none is left.
char *next_token(char **cursor)
{
    char *start = *cursor + strspn(*cursor, " \t");
    if (!*start) {
        *cursor = start;
        return nullptr;
    }
    char *end = start + strcspn(start, " \t");
    *cursor = *end ? end + 1 : end;
    *end = '\0';
    return start;
}

}  // namespace

int ini_get_field(char *text, int *capacity)
{
    if (!text || !capacity || !display_data)
        return 0;
    int count = field_count();
    if (count + 2 > *capacity) {
        int grown = *capacity * 2;
        auto *table = static_cast<display_field *>(
            realloc(display_data, static_cast<size_t>(grown) * sizeof(display_field)));
        if (!table)
            return -1;
        display_data = table;
        *capacity = grown;
    }
    display_data[count + 1] = display_field{};
    display_field &field = display_data[count];
    field = display_field{};

    char *cursor = text;
    char *name = next_token(&cursor);
    char *type = name ? next_token(&cursor) : nullptr;
    char *attribute = type ? next_token(&cursor) : nullptr;
    char *flag = attribute ? next_token(&cursor) : nullptr;
    // A failed line leaves its partial record behind; the service stops anyway.
    field.name = name ? strdup(name) : nullptr;
    if (!attribute || !flag)
        return 0;
    field.type = strdup(type);
    field.attribute = strdup(attribute);
    field.searchable = strcasecmp(flag, "true") == 0;
    return field.name && field.type && field.attribute ? 1 : -1;
}
