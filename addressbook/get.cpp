// GET: reads the entry of one coded DN and writes a "field=value" line for
// every value of every attribute that a configured field maps to.
#include <string>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

// The first field that maps to the attribute, ignoring case.
static const display_field *field_for(const char *attribute)
{
    for (const display_field *field = display_data; field && field->name; field++)
        if (s_stricmp(field->attribute, attribute) == 0)
            return field;
    return nullptr;
}

// A value holding line breaks would end its reply line early and could pass
// for a status line: each carriage return and line feed is sent as a blank.
static std::string one_line(const char *value)
{
    std::string line(value);
    for (char &c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

void build_user_info(FILE *out, lresult *entry)
{
    for (char *attribute = ldap_first_attribute(entry); attribute;
         attribute = ldap_next_attribute(entry)) {
        const display_field *field = field_for(attribute);
        char **values = field ? ldap_get_values(entry, attribute) : nullptr;
        for (; values && *values; values++)
            fprintf(out, "%s=%s\n", field->name, one_line(*values).c_str());
    }
}

// Keeps each entry; a null entry voids those kept so far.
static int keep_entry(void *results, lresult *entry)
{
    auto *list = static_cast<static_list *>(results);
    if (!entry) {
        ldap_clear_result_list(list);
        return 0;
    }
    return static_add(list, entry) >= 0;
}

void display_dn(FILE *out, const char *coded_dn)
{
    const char *coded = coded_dn ? coded_dn : "";
    std::string dn = uncode_dn(coded);
    static_list results;
    static_init(&results, nullptr);
    int result = book_search(dn.c_str(), 0, nullptr, nullptr, keep_entry, &results);
    if (result != 0) {
        ldap_clear_result_list(&results);
        fprintf(out, "-failure '%s' Failed {%s}.\n", coded, book_error());
        return;
    }
    int found = 0;
    for (lresult *entry = ldap_first_entry(&results); entry; entry = ldap_next_entry(&results)) {
        if (ldap_get_dn(entry)) {
            build_user_info(out, entry);
            found++;
        }
    }
    ldap_clear_result_list(&results);
    if (found)
        fprintf(out, "+success '%s' located.\n", coded);
    else
        fprintf(out, "-failure '%s' Failed.\n", coded);
}
