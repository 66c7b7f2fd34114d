// GET: reads the entry of one coded DN and writes a "field=value" line for
// every value of every attribute that a configured field maps to.
#include <climits>
#include <cstring>
#include <memory>
#include <new>
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

// What the walk of an entry's values needs: the field map and the reply.
struct user_lines {
    const book_field_map *map;
    std::string *reply;
};

// One value: its line when a field maps its type. Entries are walked in the
// order of their attributes, each attribute with its own values: a type the
// directory returns twice (slapd does, for an entry loaded with a type under
// two of its names) shows both.
int append_line(void *context, const char *type, const char *value, int length)
{
    auto *lines = static_cast<user_lines *>(context);
    int field = book_field_of(lines->map, type);
    if (field < 0)
        return 1;
    return oom_guard(
        [&] {
            append_value(lines->reply, display_data[field].name, value, size_t(length));
            return 1;
        },
        [] { return 0; });
}

}  // namespace

int build_user_info(FILE *out, const ldap_entry_view *entry)
{
    if (!out)
        return 0;
    // The reply is made whole before any of it is written: memory that runs
    // out leaves no reply half written.
    return oom_guard(
        [&] {
            std::string reply;
            user_lines lines = {book_map_fields(), &reply};
            if (!lines.map)
                return 0;
            reply.reserve(1024);
            if (entry && !ldap_view_values(entry, append_line, &lines))
                return 0;
            fwrite(reply.data(), 1, reply.size(), out);
            return 1;
        },
        [] { return 0; });
}

namespace {

// What a GET keeps of a base-object search: the first entry, decoded or a
// copy of its octets (they lie in the receive buffer only while it is
// handed over). The directory may send more, but only as a fault; those are
// counted and let go at once.
struct base_entry {
    bool taken = false;
    bool lost = false;  // memory ran out copying it
    std::unique_ptr<unsigned char[]> octets;
    ldap_entry_view view = {nullptr, 0, nullptr};
    int more = 0;

    void clear()
    {
        ldap_free_message(view.decoded);
        octets.reset();
        view = {nullptr, 0, nullptr};
        taken = lost = false;
        more = 0;
    }
    ~base_entry() { ldap_free_message(view.decoded); }
};

// Keeps the first entry; a null entry voids what was received so far.
int keep_first(void *context, const ldap_entry_view *entry)
{
    auto *kept = static_cast<base_entry *>(context);
    if (!entry) {
        kept->clear();
        return 0;
    }
    if (kept->taken) {
        // Counted without being kept, so nothing else bounds the count.
        if (kept->more < INT_MAX)
            kept->more++;
        return 0;
    }
    kept->taken = true;
    if (!entry->octets) {
        kept->view.decoded = entry->decoded;
        return 1;
    }
    kept->octets.reset(new (std::nothrow) unsigned char[size_t(entry->length)]);
    if (!kept->octets) {
        kept->lost = true;
        return 0;
    }
    memcpy(kept->octets.get(), entry->octets, size_t(entry->length));
    kept->view = {kept->octets.get(), entry->length, nullptr};
    return 0;
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
    if (kept.lost)
        return no_memory(out, coded);
    int found = 0;
    if (kept.taken && ldap_view_dn(&kept.view, nullptr)) {
        if (!build_user_info(out, &kept.view))
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
