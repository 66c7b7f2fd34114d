// GET: reads the entry of one coded DN and writes a "field=value" line for
// every value of every attribute that a configured field maps to.
#include <climits>
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

namespace {

// "name=value" on one line, appended to reply, for the length octets of
// value. A value holding line breaks would end its reply line early and
// could pass for a status line: each carriage return and line feed is sent
// as a blank, and so is a NUL, which would end the line of a host reading
// text (the rest of the value would be lost).
void append_value(std::string *reply, const char *name, const char *value, size_t length)
{
    reply->append(name);
    *reply += '=';
    for (const char *end = value + length; value < end;) {
        const char *run = value;
        while (run < end && *run != '\r' && *run != '\n' && *run != '\0')
            run++;
        reply->append(value, size_t(run - value));
        if (run < end) {
            *reply += ' ';
            run++;
        }
        value = run;
    }
    *reply += '\n';
}

// The lines of the entry, in the order of its attributes, each attribute
// with its own values: a type the directory returns twice (slapd does, for
// an entry loaded with a type under two of its names) shows both.
void append_user_info(std::string *reply, const book_field_map *map, lresult *entry)
{
    lresult *values = nullptr;
    char *type;
    for (int i = 0; (type = ldap_attribute_at(entry, i, &values)) != nullptr; i++) {
        int field = book_field_of(map, type);
        if (field < 0)
            continue;
        char *value;
        for (int v = 0; (value = ldap_value_at(values, v)) != nullptr; v++) {
            // The octets, NULs included; the size counts a terminator, and
            // none at all for an empty value.
            int size = lresult_get_size(values, v);
            append_value(reply, display_data[field].name, value, size > 0 ? size - 1 : 0);
        }
    }
}

}  // namespace

int build_user_info(FILE *out, lresult *entry)
{
    if (!out)
        return 0;
    // The reply is made whole before any of it is written: memory that runs
    // out leaves no reply half written.
    return oom_guard(
        [&] {
            const book_field_map *map = book_map_fields();
            if (!map)
                return 0;
            std::string reply;
            reply.reserve(1024);
            append_user_info(&reply, map, entry);
            fwrite(reply.data(), 1, reply.size(), out);
            return 1;
        },
        [] { return 0; });
}

namespace {

// What a GET keeps of a base-object search: the first entry. The directory
// may send more, but only as a fault; those are counted and let go at once.
struct base_entry {
    lresult *entry = nullptr;
    int more = 0;

    ~base_entry() { ldap_free_message(entry); }
};

// Keeps the first entry; a null entry voids what was received so far.
int keep_first(void *context, lresult *entry)
{
    auto *kept = static_cast<base_entry *>(context);
    if (!entry) {
        ldap_free_message(kept->entry);
        kept->entry = nullptr;
        kept->more = 0;
        return 0;
    }
    if (kept->entry) {
        // Counted without being kept, so nothing else bounds the count.
        if (kept->more < INT_MAX)
            kept->more++;
        return 0;
    }
    kept->entry = entry;
    return 1;
}

// The failure line of a GET that ran out of memory before writing anything.
void no_memory(FILE *out, const char *coded)
{
    fprintf(out, "-failure '%s' Failed {Out of Memory}.\n", coded);
}

// A status line naming the coded DN: before, the DN, after.
void status_line(FILE *out, const char *before, const char *coded, const char *after)
{
    fputs(before, out);
    fputs(coded, out);
    fputs(after, out);
}

// display_dn without its guard. The uncoded DN stays in uncode_dn's buffer,
// which nothing else uses until the GET is over.
void get_entry(FILE *out, const char *coded)
{
    const char *dn = uncode_dn(coded);
    const book_field_map *map = book_map_fields();
    if (!dn || !map)
        return no_memory(out, coded);
    // A copy: a search that reconnects reads the schema again, which remakes the map.
    std::string attributes = book_requested_attributes(map);
    base_entry kept;
    int result = book_search(dn, 0, nullptr, attributes.c_str(), 0, keep_first, &kept);
    if (result != 0) {
        std::string line = std::string("-failure '") + coded + "' Failed {" + book_error() + "}.";
        s_write_line(out, "", line.c_str());
        return;
    }
    if (kept.more)
        emsg("the directory sent %d more entries for one base entry; the first is shown",
             kept.more);
    int found = 0;
    if (kept.entry && ldap_get_dn(kept.entry)) {
        if (!build_user_info(out, kept.entry))
            return no_memory(out, coded);
        found++;
    }
    if (found)
        status_line(out, "+success '", coded, "' located.\n");
    else
        status_line(out, "-failure '", coded, "' Failed.\n");
}

}  // namespace

void display_dn(FILE *out, const char *coded_dn)
{
    if (!out)
        return;
    const char *coded = coded_dn ? coded_dn : "";
    oom_guard([&] { get_entry(out, coded); }, [&] { no_memory(out, coded); });
}
