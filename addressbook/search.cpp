// SEARCH: field=value conditions become one LDAP filter; the matching
// entries' DNs are listed, coded, within the asked range, and counted.
#include <cstdlib>
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

static const size_t TERM_MAX = 511;     // characters of one "(attribute=value)"
static const size_t FILTER_MAX = 10249; // characters of the whole filter
static const int PAGE_SIZE = 500;       // entries per page unless page_size says otherwise

static const display_field *field_named(const std::string &name)
{
    for (const display_field *field = display_data; field && field->name; field++)
        if (s_stricmp(field->name, name.c_str()) == 0)
            return field;
    return nullptr;
}

// "(attribute=value)" with the characters that would end or add filter terms
// escaped; '*' stays a wildcard.
static std::string filter_term(const char *attribute, const std::string &value)
{
    std::string term = std::string("(") + attribute + "=";
    for (char c : value) {
        if (c == '(')
            term += "\\28";
        else if (c == ')')
            term += "\\29";
        else if (c == '\\')
            term += "\\5c";
        else
            term += c;
    }
    return term + ")";
}

// Builds the filter of the conditions "field=value,field=value". Returns
// false after writing the command's failure line.
static bool build_filter(FILE *out, int is_and, const char *conditions, std::string *filter)
{
    std::string terms;
    int count = 0;
    const char *item = conditions ? conditions : "";
    for (;;) {
        const char *comma = strchr(item, ',');
        std::string text = comma ? std::string(item, comma) : std::string(item);
        size_t equals = text.find('=');
        if (equals != std::string::npos) {
            std::string name = text.substr(0, equals);
            const display_field *field = field_named(name);
            if (!field) {
                fprintf(out, "-failure unknown field type?? {%s}\n", name.c_str());
                return false;
            }
            std::string term = filter_term(field->attribute, text.substr(equals + 1));
            if (term.size() > TERM_MAX) {
                fputs("-failure no result available.\n", out);
                return false;
            }
            terms += term;
            count++;
        }
        if (!comma)
            break;
        item = comma + 1;
    }
    if (count > 1)
        *filter = (is_and ? "(&" : "(|") + terms + ")";
    else
        *filter = terms;
    if (filter->size() > FILTER_MAX) {
        fputs("-failure no result available.\n", out);
        return false;
    }
    return true;
}

namespace {

// The reply lines of a search, built while its entries arrive: a search
// that fails half-way must list nothing. The text grows with realloc, which
// remaps a large block instead of copying it, so a long listing costs about
// its own size.
struct listing {
    int from, to;         // the range asked for
    int found = 0;        // entries received
    int written = 0;      // DNs listed
    char *text = nullptr; // the coded DNs, ",\n" between them
    size_t length = 0, room = 0;
    bool broken = false;  // memory ran out: the listing is incomplete

    listing(int first, int last) : from(first), to(last) {}
    ~listing() { free(text); }

    void append(const char *piece)
    {
        size_t count = strlen(piece);
        if (length + count >= room && !broken) {
            size_t grown = room ? 2 * room : 65536;
            while (grown <= length + count)
                grown *= 2;
            char *bigger = static_cast<char *>(realloc(text, grown));
            broken = !bigger;
            if (bigger) {
                text = bigger;
                room = grown;
            }
        }
        if (broken)
            return;
        memcpy(text + length, piece, count + 1);
        length += count;
    }
};

int list_entry(void *context, lresult *entry)
{
    auto *list = static_cast<listing *>(context);
    if (!entry) {
        list->found = list->written = 0;
        list->length = 0;
        list->broken = false;
        return 0;
    }
    int number = ++list->found;
    const char *dn = ldap_get_dn(entry);
    if (number < list->from || (list->to >= 1 && number > list->to) || !dn)
        return 0;
    const char *coded = code_dn(dn);
    if (!coded) {
        list->broken = true;
        return 0;
    }
    if (list->written++)
        list->append(",\n");
    list->append(coded);
    return 0;
}

}  // namespace

// generate_search without its guard.
static void run_search(FILE *out, int is_and, int from, int to, const char *conditions)
{
    std::string filter;
    if (!build_filter(out, is_and, conditions, &filter))
        return;
    // Without a condition the request would carry no filter at all, which a
    // server answers by dropping the connection: nothing can be located.
    if (filter.empty()) {
        fputs("-failure none located.\n", out);
        return;
    }
    // The base filter counts against no limit: a SEARCH is taken or refused
    // alike whatever the configuration.
    if (ini[INI_SEARCH_FILTER][0])
        filter = std::string("(&") + ini[INI_SEARCH_FILTER] + filter + ")";
    listing list(from, to);
    int scope = book_number(ini[INI_SCOPE]);
    // Only DNs are listed: "1.1" asks the server for no attributes at all.
    int result = book_search(ini[INI_BASE_DN], scope, filter.c_str(), "1.1",
                             book_setting(INI_PAGE_SIZE, PAGE_SIZE), list_entry, &list);
    // Entries that came before a time, size or administrative limit, beside
    // referrals that the service cannot follow, or before a paging that did
    // not advance (54), are still the answer.
    bool stopped = result == 3 || result == 4 || result == 10 || result == 11 || result == 54;
    bool listed = result == 0 || (stopped && list.found > 0);
    if (list.broken) {
        fputs("-failure no result available.\n", out);
    } else if (listed && list.found > 0) {
        if (list.length)
            fwrite(list.text, 1, list.length, out);
        fprintf(out, "\n+success %d located.\n", list.found);
    } else {
        fputs("-failure none located.\n", out);
    }
}

void generate_search(FILE *out, int is_and, int from, int to, const char *conditions)
{
    // Memory runs out before anything is written: the reply is the failure line alone.
    oom_guard([&] { run_search(out, is_and, from, to, conditions); },
              [&] { fputs("-failure no result available.\n", out); });
}
