// The configuration file: settings lines "key value" into ini, field lines
// "field name type attribute searchable" into display_data.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

const char *const INI_IDS[INI_COUNT] = {
    "host", "host2", "port", "debug", "base_dn",
    "scope", "manager_dn", "manager_pass", "full_name", "email_address"};

char ini[INI_COUNT][INI_SIZE];
display_field *display_data;
int display_data_length;

static const char *const DEFAULT_INI = "extern_book.ini";
static const int INI_LINE = 10000;

static const char *const SCOPE_NAMES[] = {"LDAP_SCOPE_BASE", "LDAP_SCOPE_ONELEVEL",
                                          "LDAP_SCOPE_SUBTREE"};

static void field_free(display_field *field)
{
    free(field->name);
    free(field->type);
    free(field->attribute);
    *field = display_field{};
}

static int field_count()
{
    int count = 0;
    while (display_data[count].name)
        count++;
    return count;
}

int ini_init(char (*settings)[INI_SIZE], int *capacity)
{
    if (!settings || !capacity)
        return 0;
    for (int slot = 0; slot < INI_COUNT; slot++)
        settings[slot][0] = '\0';
    if (display_data) {
        for (int i = 0; display_data[i].name; i++)
            field_free(&display_data[i]);
        free(display_data);
    }
    *capacity = 10;
    display_data = static_cast<display_field *>(calloc(*capacity, sizeof(display_field)));
    if (!display_data)
        return 0;
    display_field &id = display_data[0];
    id.name = strdup("record_id");
    id.type = strdup("STRING");
    id.attribute = strdup("dn");
    id.searchable = 0;
    return id.name && id.type && id.attribute;
}

char *strlwr(char *text)
{
    if (text)
        for (char *p = text; *p; p++)
            *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    return text;
}

// strtok-style: the next token of blanks-and-tabs-separated text, ended in
// place; null when none is left.
static char *next_token(char **cursor)
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
            return 0;
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
    field.searchable = strcmp(strlwr(flag), "true") == 0;
    return field.name && field.type && field.attribute;
}

// Applies one "key value" setting; returns 0 after writing a failure message.
static int ini_set(char (*settings)[INI_SIZE], int *capacity, char *key, char *value)
{
    strlwr(key);
    if (strcmp(key, "field") == 0) {
        if (ini_get_field(value, capacity))
            return 1;
        printf("-failure malformed ini setting (field %s)", value);
        return 0;
    }
    if (strcmp(key, "scope") == 0) {
        int scope = 0;
        while (scope < 3 && strcmp(value, SCOPE_NAMES[scope]) != 0)
            scope++;
        if (scope == 3) {
            printf("-failure unrecognised value for ini setting (scope %s)\n"
                   "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE",
                   value);
            return 0;
        }
        value[0] = static_cast<char>('0' + scope);
        value[1] = '\0';
    }
    for (int slot = 0; slot < INI_COUNT; slot++)
        if (strcmp(key, INI_IDS[slot]) == 0)
            lcpy(settings[slot], value, INI_SIZE);
    return 1;
}

// Reads the opened file line by line; returns 0 when a line was refused.
static int ini_read(FILE *file, char (*settings)[INI_SIZE], int *capacity)
{
    char line[INI_LINE];
    while (fgets(line, sizeof line, file)) {
        if (line[0] == '#' || line[0] == '\r' || line[0] == '\n')
            continue;
        size_t end = strlen(line);
        while (end > 1 && isspace(static_cast<unsigned char>(line[end - 1])))
            end--;
        line[end] = '\0';
        char *key = line + strspn(line, " \t\n\v\f\r");
        char *blank = key + strcspn(key, " \t");
        if (!*blank || !blank[1])
            break;  // a key without value ends the reading
        *blank = '\0';
        if (!ini_set(settings, capacity, key, blank + 1))
            return 0;
    }
    return 1;
}

int ini_load(const char *path, char (*settings)[INI_SIZE], int *capacity)
{
    if (!settings || !capacity)
        return 0;
    FILE *file = path ? fopen(path, "r") : nullptr;
    if (!file)
        file = fopen(DEFAULT_INI, "r");
    if (!file) {
        printf("-failure Cannot open file %.100s, %.100s\n", path ? path : DEFAULT_INI,
               strerror(errno));
        return 0;
    }
    int loaded = ini_read(file, settings, capacity);
    fclose(file);
    return loaded;
}
