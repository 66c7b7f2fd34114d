// GET: reads the entry of one coded DN and writes a "field=value" line for
// every value of every attribute that a configured field maps to. An
// attribute the directory returns in part (Active Directory's range
// retrieval) is read whole by more base searches, or the GET fails.
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

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

// An attribute the directory returned in part ("member;range=0-1499"):
// where the rest of its values goes in the reply, the field that shows them,
// its type as returned (to tell its next value from another attribute's),
// the index of its last value (-1: none remain), and how many came.
struct ranged {
    size_t at;
    int field;
    std::string type;
    int high, count;
};

// What the walk of an entry's values needs: the field map and the reply;
// with ranges, attributes returned in part are taken too, and why the walk
// ended when that was not for memory.
struct user_lines {
    const book_field_map *map;
    std::string *reply;
    std::vector<ranged> *ranges;
    std::string failure;
};

// The field of a type returned in part, read as the type without its range
// option, when that is field (any field for -1) and its range begins at due:
// a range that cannot be read, or goes on elsewhere than where the last
// ended, would leave values out or repeat them. -1 when the type has no range
// option or maps to no such field; -2 with *failure saying why.
int field_in_part(const book_field_map *map, const char *type, int field, long long due,
                  ldap_range *range, std::string *failure)
{
    int read = ldap_attr_range(type, range);
    if (read == 0)
        return -1;
    std::string bare = std::string(type, size_t(range->at)) + (type + range->at + range->length);
    int mapped = book_field_of(map, bare.c_str());
    if (mapped < 0 || (field >= 0 && mapped != field))
        return -1;
    const char *attribute = display_data[mapped].attribute;
    if (read < 0)
        *failure = std::string("the directory sent values of ") + attribute +
                   " in a range that reads as none";
    else if (range->low != due)
        *failure = "the directory sent values " + std::to_string(range->low) + "-" +
                   (range->high < 0 ? "*" : std::to_string(range->high)) + " of " + attribute +
                   " where values from " + std::to_string(due) + " on were due";
    else
        return mapped;
    return -2;
}

// The field of a value of the entry whose type maps to none as it is.
// Either the value is the next of the attribute returned in part before it,
// or it begins another, whose range must begin at the first value. As
// field_in_part, which ends the walk with -2.
int ranged_field(user_lines *lines, const char *type)
{
    std::vector<ranged> &ranges = *lines->ranges;
    if (!ranges.empty() && ranges.back().at == lines->reply->size() && ranges.back().type == type) {
        ranges.back().count++;
        return ranges.back().field;
    }
    ldap_range range;
    int field = field_in_part(lines->map, type, -1, 0, &range, &lines->failure);
    if (field >= 0)
        ranges.push_back({lines->reply->size(), field, type, range.high, 1});
    return field;
}

// One value: its line when a field maps its type. Entries are walked in the
// order of their attributes, each attribute with its own values: a type the
// directory returns twice (slapd does, for an entry loaded with a type under
// two of its names) shows both. A type returned in part maps as the type
// without its range option.
int append_line(void *context, const char *type, const char *value, int length)
{
    auto *lines = static_cast<user_lines *>(context);
    return oom_guard(
        [&] {
            int field = book_field_of(lines->map, type);
            bool in_part = field < 0 && lines->ranges;
            if (in_part)
                field = ranged_field(lines, type);
            if (field < 0)
                return field == -1 ? 1 : 0;
            append_value(lines->reply, display_data[field].name, value, size_t(length));
            if (in_part)
                lines->ranges->back().at = lines->reply->size();
            return 1;
        },
        [] { return 0; });
}

// The lines of the entry's values, appended to reply; attributes returned
// in part only with ranges, which gets their records. 1; 0 when memory ran
// out; -1 when such an attribute cannot be followed (*failure says why).
int entry_lines(const ldap_entry_view *entry, std::string *reply, std::vector<ranged> *ranges,
                std::string *failure)
{
    user_lines lines = {book_map_fields(), reply, ranges, {}};
    if (!lines.map)
        return 0;
    reply->reserve(1024);
    if (entry && !ldap_view_values(entry, append_line, &lines)) {
        *failure = lines.failure;
        return failure->empty() ? 0 : -1;
    }
    return 1;
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
            std::string reply, failure;
            if (entry_lines(entry, &reply, nullptr, &failure) != 1)
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

// The answer to a request for the rest of an attribute returned in part:
// the values of the first attribute that maps to its field in part, which
// must go on where the last ended, appended to extra up to limit octets.
struct chunk_lines {
    const book_field_map *map;
    int field;
    long long due;  // the index its first value must have
    std::string *extra;
    size_t limit;
    std::string type;  // of the attribute taken, the index of its last value, its values
    int high, count;
    std::string *failure;  // why the chunk cannot be taken
};

int append_chunk_line(void *context, const char *type, const char *value, int length)
{
    auto *chunk = static_cast<chunk_lines *>(context);
    return oom_guard(
        [&] {
            if (chunk->count == 0) {
                ldap_range range;
                int field = field_in_part(chunk->map, type, chunk->field, chunk->due, &range,
                                          chunk->failure);
                if (field < 0)
                    return field == -1 ? 1 : 0;
                chunk->type = type;
                chunk->high = range.high;
            } else if (chunk->type != type) {
                return 1;
            }
            chunk->count++;
            append_value(chunk->extra, display_data[chunk->field].name, value, size_t(length));
            if (chunk->extra->size() <= chunk->limit)
                return 1;
            *chunk->failure = "the values the directory sent in ranges exceed " +
                              std::to_string(LDAP_MAX_MESSAGE >> 20) + " MiB (" +
                              display_data[chunk->field].attribute + ")";
            return 0;
        },
        [] { return 0; });
}

// Asks for the rest of an attribute returned in part, each chunk by a base
// search of the entry, until one ends its values; they are appended to extra,
// which may hold limit octets. 1; 0 when a search failed or its answer did
// not go on where the last chunk ended (*failure says why); -1 when memory
// ran out.
int follow_range(const char *dn, const ranged &part, std::string *extra, size_t limit,
                 std::string *failure)
{
    const char *attribute = display_data[part.field].attribute;
    // The rest is asked for from the index after the last value that came,
    // whatever the range named: values it named but did not bring would be
    // lost, more than it named repeated.
    long long next = part.count;
    for (int high = part.high; high >= 0;) {
        std::string asked = std::string(attribute) + ";range=" + std::to_string(next) + "-*";
        base_entry kept;
        if (book_search(dn, 0, nullptr, asked.c_str(), 0, keep_first, &kept) != 0) {
            *failure = book_error();
            return 0;
        }
        // The map is asked for again: a search that reconnects remakes it.
        chunk_lines chunk = {book_map_fields(), part.field, next, extra, limit, {}, -1, 0, failure};
        if (kept.lost || !chunk.map)
            return -1;
        if (kept.taken && !ldap_view_values(&kept.view, append_chunk_line, &chunk) &&
            failure->empty())
            return -1;
        if (failure->empty() && chunk.count == 0)
            *failure = std::string("the directory sent no values of ") + attribute + " from " +
                       std::to_string(next) + " on";
        if (!failure->empty())
            return 0;
        high = chunk.high;
        next += chunk.count;
    }
    return 1;
}

// Puts the rest of each attribute returned in part after the values that
// came with the entry; all that comes so costs LDAP_MAX_MESSAGE octets at
// most. Returns as follow_range.
int follow_ranges(const char *dn, const std::vector<ranged> &ranges, std::string *reply,
                  std::string *failure)
{
    size_t added = 0;
    for (const ranged &part : ranges) {
        std::string extra;
        int done = follow_range(dn, part, &extra, LDAP_MAX_MESSAGE - added, failure);
        if (done != 1)
            return done;
        reply->insert(part.at + added, extra);
        added += extra.size();
    }
    return 1;
}

// The failure line of a GET, with why.
void failed(FILE *out, const char *coded, const std::string &why)
{
    std::string line = std::string("-failure '") + coded + "' Failed {" + why + "}.";
    s_write_line(out, "", line.c_str());
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
    if (result != 0)
        return failed(out, coded, book_error());
    if (kept.more)
        emsg("the directory sent %d more entries for one base entry; the first is shown",
             kept.more);
    if (kept.lost)
        return no_memory(out, coded);
    if (!kept.taken || !ldap_view_dn(&kept.view, nullptr))
        return status_line(out, "-failure '", coded, "' Failed.\n");
    // The reply is made whole before any of it is written: a failure or
    // memory that runs out leaves no reply half written.
    std::string reply, failure;
    std::vector<ranged> ranges;
    int done = entry_lines(&kept.view, &reply, &ranges, &failure);
    kept.clear();
    if (done == 1)
        done = follow_ranges(dn, ranges, &reply, &failure);
    if (done != 1)
        return failure.empty() ? no_memory(out, coded) : failed(out, coded, failure);
    fwrite(reply.data(), 1, reply.size(), out);
    status_line(out, "+success '", coded, "' located.\n");
}

}  // namespace

void display_dn(FILE *out, const char *coded_dn)
{
    if (!out)
        return;
    const char *coded = coded_dn ? coded_dn : "";
    oom_guard([&] { get_entry(out, coded); }, [&] { no_memory(out, coded); });
}
