// GET: reads the entry of one coded DN and writes a "field=value" line for
// every value of every attribute that a configured field maps to.
#include <cerrno>
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

// The first field that maps to the attribute description the directory
// returned.
static const display_field *field_for(const char *attribute)
{
    for (const display_field *field = display_data; field && field->name; field++)
        if (book_same_attribute(field->attribute, attribute))
            return field;
    return nullptr;
}

// The attributes GET asks for: those of the fields, each once, by the names
// the configuration gives them ("dn" is no attribute). Operational ones come
// only when named. "1.1" (none at all) when no field maps to one.
static std::string mapped_attributes()
{
    std::string names;
    for (const display_field *field = display_data; field && field->name; field++) {
        bool named = s_stricmp(field->attribute, "dn") == 0;
        for (const display_field *before = display_data; !named && before != field; before++)
            named = s_stricmp(before->attribute, field->attribute) == 0;
        if (!named)
            names += (names.empty() ? "" : ",") + std::string(field->attribute);
    }
    return names.empty() ? "1.1" : names;
}

// "name=value" on one line. A value holding line breaks would end its reply
// line early and could pass for a status line: each carriage return and
// line feed is sent as a blank.
static void write_value(FILE *out, const char *name, const char *value)
{
    fprintf(out, "%s=", name);
    while (*value) {
        size_t run = strcspn(value, "\r\n");
        fwrite(value, 1, run, out);
        value += run;
        if (*value) {
            fputc(' ', out);
            value++;
        }
    }
    fputc('\n', out);
}

int build_user_info(FILE *out, lresult *entry)
{
    // The first pass makes every value list (the entry keeps them), the
    // second writes: memory that runs out leaves no reply half written.
    for (int writing = 0; writing < 2; writing++) {
        for (char *attribute = ldap_first_attribute(entry); attribute;
             attribute = ldap_next_attribute(entry)) {
            const display_field *field = field_for(attribute);
            errno = 0;
            char **values = field ? ldap_get_values(entry, attribute) : nullptr;
            if (!values && errno == ENOMEM)
                return 0;
            for (; writing && values && *values; values++)
                write_value(out, field->name, *values);
        }
    }
    return 1;
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
        kept->more++;
        return 0;
    }
    kept->entry = entry;
    return 1;
}

}  // namespace

// The failure line of a GET that ran out of memory before writing anything.
static void no_memory(FILE *out, const char *coded)
{
    fprintf(out, "-failure '%s' Failed {Out of Memory}.\n", coded);
}

// display_dn without its guard.
static void get_entry(FILE *out, const char *coded)
{
    const char *uncoded = uncode_dn(coded);
    if (!uncoded)
        return no_memory(out, coded);
    std::string dn = uncoded;
    base_entry kept;
    std::string attributes = mapped_attributes();
    int result = book_search(dn.c_str(), 0, nullptr, attributes.c_str(), 0, keep_first, &kept);
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
        fprintf(out, "+success '%s' located.\n", coded);
    else
        fprintf(out, "-failure '%s' Failed.\n", coded);
}

void display_dn(FILE *out, const char *coded_dn)
{
    const char *coded = coded_dn ? coded_dn : "";
    oom_guard([&] { get_entry(out, coded); }, [&] { no_memory(out, coded); });
}
