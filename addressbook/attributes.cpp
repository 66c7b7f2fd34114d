// The directory's attribute types, read once per connection, so that GET
// finds a field's attribute under any of its names: "cn", "commonName" and
// "2.5.4.3" alike. What GET needs of the field table is worked out once per
// table and connection: which attributes to ask for, and each field's type.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

struct book_field_map {
    // Each record of the field table: its attribute as the map was made
    // for it, the length of that attribute's type part, and its type
    // number in the schema (-1 when the schema does not know it).
    std::vector<std::string> attributes;
    std::vector<int> lengths;
    std::vector<int> types;
    // For each record, the first one whose attribute names the same type
    // with the same options: the field an attribute found by its name maps to.
    std::vector<int> firsts;
    std::string requested;
};

namespace {

// The schema of the current connection; empty until read, and when it
// could not be. The map is of this schema; null until GET asks for one.
ldap_schema schema;
book_field_map *field_map;

void forget_map()
{
    delete field_map;
    field_map = nullptr;
}

}  // namespace

void book_read_schema(ldap_handle *handle)
{
    forget_map();
    if (ldap_schema_read(&schema, handle) == 0)
        dmsg("read %d attribute types of the directory's schema (%d refused)", schema.types,
             schema.refused);
    else
        dmsg("attribute types compare by name only: %s", schema.error ? schema.error : "(NULL)");
}

void book_forget_schema()
{
    forget_map();
    ldap_schema_clear(&schema);
}

namespace {

// A record's attribute; "" for a record that has none (a field line that
// failed to load).
const char *attribute_of(const display_field *field)
{
    return field->attribute ? field->attribute : "";
}

// 1 when the map was made for the field table as it is now.
bool map_fits(const book_field_map *map)
{
    size_t count = 0;
    for (const display_field *field = display_data; field && field->name; field++, count++)
        if (count >= map->attributes.size() ||
            strcmp(map->attributes[count].c_str(), attribute_of(field)) != 0)
            return false;
    return count == map->attributes.size();
}

// The length of the option that begins at option (";name"): up to the next
// ';' or the end.
int option_length(const char *option)
{
    const char *end = strchr(option + 1, ';');
    return static_cast<int>(end ? end - option : strlen(option));
}

// Each option of options (";a;b", or "" for none) is among those of other,
// ignoring case.
bool options_among(const char *options, const char *other)
{
    for (const char *option = options; *option == ';'; option += option_length(option)) {
        int length = option_length(option);
        bool found = false;
        for (const char *candidate = other; !found && *candidate == ';';
             candidate += option_length(candidate))
            found =
                option_length(candidate) == length && s_strnicmp(option, candidate, length) == 0;
        if (!found)
            return false;
    }
    return true;
}

// The options of two attribute descriptions (";a;b", or "" for none) are one
// set: their order is no part of the description, so "cn;lang-en;lang-de"
// names what slapd sends as "cn;lang-de;lang-en".
bool same_options(const char *a, const char *b)
{
    return options_among(a, b) && options_among(b, a);
}

// The attributes of records a and b name the same type with the same
// options.
bool same_attribute(const book_field_map *map, size_t a, size_t b)
{
    const char *first = map->attributes[a].c_str(), *second = map->attributes[b].c_str();
    return same_options(first + map->lengths[a], second + map->lengths[b]) &&
           ldap_schema_same(&schema, first, second);
}

// The attributes GET asks for: those of the fields, each once, by the names
// the configuration gives them ("dn" is no attribute). Operational ones come
// only when named. "1.1" (none at all) when no field maps to one.
std::string requested_attributes(const book_field_map *map)
{
    std::string names;
    const std::vector<std::string> &all = map->attributes;
    for (size_t i = 0; i < all.size(); i++) {
        bool named = s_stricmp(all[i].c_str(), "dn") == 0;
        for (size_t before = 0; !named && before < i; before++)
            named = s_stricmp(all[before].c_str(), all[i].c_str()) == 0;
        if (!named)
            names += (names.empty() ? "" : ",") + all[i];
    }
    return names.empty() ? "1.1" : names;
}

book_field_map *make_map()
{
    std::unique_ptr<book_field_map> map(new book_field_map());
    for (const display_field *field = display_data; field && field->name; field++) {
        map->attributes.push_back(attribute_of(field));
        map->lengths.push_back(ldap_attr_type_length(attribute_of(field)));
        map->types.push_back(ldap_schema_type(&schema, attribute_of(field)));
    }
    for (size_t i = 0; i < map->attributes.size(); i++) {
        size_t first = 0;
        while (first < i && !same_attribute(map.get(), first, i))
            first++;
        map->firsts.push_back(static_cast<int>(first));
    }
    map->requested = requested_attributes(map.get());
    return map.release();
}

}  // namespace

const book_field_map *book_map_fields()
{
    if (field_map && map_fits(field_map))
        return field_map;
    forget_map();
    return oom_guard(
        [] {
            field_map = make_map();
            return field_map;
        },
        [] { return static_cast<book_field_map *>(nullptr); });
}

const char *book_requested_attributes(const book_field_map *map)
{
    return map ? map->requested.c_str() : nullptr;
}

int book_field_of(const book_field_map *map, const char *returned)
{
    if (!map || !returned)
        return -1;
    int length = ldap_attr_type_length(returned);
    const char *options = returned + length;
    // By name: then the returned type is that record's, and the first record
    // naming that type with those options is the one it maps to.
    for (size_t i = 0; length > 0 && i < map->attributes.size(); i++) {
        const char *own = map->attributes[i].c_str();
        // Names mostly come back as they were asked for: exact octets first.
        if (map->lengths[i] == length &&
            (memcmp(own, returned, length) == 0 || s_strnicmp(own, returned, length) == 0) &&
            same_options(own + length, options))
            return map->firsts[i];
    }
    // By another of its names, as the schema knows them.
    int type = ldap_schema_type(&schema, returned);
    for (size_t i = 0; type >= 0 && i < map->attributes.size(); i++)
        if (map->types[i] == type &&
            same_options(map->attributes[i].c_str() + map->lengths[i], options))
            return static_cast<int>(i);
    return -1;
}
