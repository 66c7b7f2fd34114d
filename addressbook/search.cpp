// SEARCH: field=value conditions become one LDAP filter; the matching
// entries' DNs are listed, coded, within the asked range, and counted.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

namespace {

const size_t TERM_MAX = 511;      // characters of one "(attribute=value)"
const size_t FILTER_MAX = 10249;  // characters of the whole filter
const int PAGE_SIZE = 500;        // entries per page unless page_size says otherwise

const display_field *field_named(const std::string &name)
{
    for (const display_field *field = display_data; field && field->name; field++)
        if (s_stricmp(field->name, name.c_str()) == 0)
            return field;
    return nullptr;
}

// "(attribute=value)" with the characters that would end or add filter terms
// escaped; '*' stays a wildcard. The filter reader drops a value's trailing
// blanks: stars alone before them are one star ("**" would send an empty
// substring, which matches nothing), and a value of blanks alone has them
// escaped (a lone blank left would read as a presence test, matching every
// entry).
std::string filter_term(const char *attribute, const std::string &value)
{
    std::string term = std::string("(") + attribute + "=";
    size_t last = value.find_last_not_of(" \t");
    bool blanks_only = !value.empty() && last == std::string::npos;
    if (!blanks_only && value.find_first_not_of('*') > last)
        return term + "*)";
    for (char c : value) {
        if (blanks_only)
            term += c == ' ' ? "\\20" : "\\09";
        else if (c == '(')
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
bool build_filter(FILE *out, int is_and, const char *conditions, std::string *filter)
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

// Output gathered in a block of its own and written a block at a time.
class staging {
  public:
    explicit staging(FILE *out) : out_(out) {}
    ~staging() { fwrite(block_, 1, used_, out_); }

    void put(const char *octets, size_t count)
    {
        for (size_t piece; count > 0; octets += piece, count -= piece) {
            if (used_ == BLOCK)
                flush();
            piece = count < BLOCK - used_ ? count : BLOCK - used_;
            memcpy(block_ + used_, octets, piece);
            used_ += piece;
        }
    }

  private:
    static const size_t BLOCK = 65536;
    static char block_[BLOCK];
    FILE *out_;
    size_t used_ = 0;

    void flush()
    {
        fwrite(block_, 1, used_, out_);
        used_ = 0;
    }
};

char staging::block_[BLOCK];

// Octets in one malloc'd block that doubles its room as it grows.
struct octets {
    char *data = nullptr;
    size_t length = 0, room = 0;

    octets() = default;
    octets(const octets &) = delete;
    octets &operator=(const octets &) = delete;
    ~octets() { free(data); }

    // Room for count more octets; false when memory ran out.
    bool reserve(size_t count)
    {
        if (length + count < room)
            return true;
        size_t grown = room ? 2 * room : 256;
        while (grown <= length + count)
            grown *= 2;
        char *bigger = static_cast<char *>(realloc(data, grown));
        if (bigger) {
            data = bigger;
            room = grown;
        }
        return bigger != nullptr;
    }
    void append(const char *from, size_t count)
    {
        memcpy(data + length, from, count);
        length += count;
    }
    // In base-128 digits, the low first, the top bit set on all but the
    // last; ten digits hold any size_t.
    void append_number(size_t number)
    {
        for (; number >= 0x80; number >>= 7)
            data[length++] = static_cast<char>((number & 0x7F) | 0x80);
        data[length++] = static_cast<char>(number);
    }
    // The number at *at, which is moved past it.
    size_t number_at(size_t *at) const
    {
        size_t number = 0;
        for (int shift = 0;; shift += 7) {
            auto digit = static_cast<unsigned char>(data[(*at)++]);
            number |= static_cast<size_t>(digit & 0x7F) << shift;
            if (!(digit & 0x80))
                return number;
        }
    }
};

// How many of their first count octets a and b share; eight at a time
// while they agree.
size_t common_prefix(const char *a, const char *b, size_t count)
{
    size_t n = 0;
    for (uint64_t x, y; n + 8 <= count; n += 8) {
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y)
            break;
    }
    while (n < count && a[n] == b[n])
        n++;
    return n;
}

// The reply lines of a search, built while its entries arrive: a search
// that fails half-way must list nothing. The DNs are kept as they came, and
// coded only as they are written out (the coded form is up to three times
// as long); a DN that ends with the search base is kept without it, as
// nearly all do. Entries mostly come in order, each DN much like the one
// before, so each is kept front coded as one record of three parts: the
// number of leading octets it shares with the DN kept before it, then the
// length of the rest times two, plus one when the base was cut off (both
// base-128 numbers), then the rest's octets. DNs like
// "uid=user000123,ou=People,..." take about four octets each.
struct listing {
    int from, to;         // the range asked for
    int found = 0;        // entries received
    std::string base;     // the search base, as it ends DNs
    std::string coded;    // its coded form
    octets records;       // the DNs, front coded
    octets previous;      // the DN kept last, less the base
    size_t longest = 0;   // octets of the longest DN kept, less the base
    bool broken = false;  // memory ran out: the listing is incomplete

    listing(int first, int last, const char *search_base) : from(first), to(last)
    {
        // Without memory for the coded base, no DN is kept without it.
        const char *base_coded = code_dn(search_base);
        if (base_coded) {
            base = search_base;
            coded = base_coded;
        }
    }

    // Forgets every DN (a search tried again from its start).
    void clear()
    {
        found = 0;
        records.length = previous.length = 0;
        broken = false;
    }

    void add(const char *dn, size_t count)
    {
        bool cut = !base.empty() && count >= base.size() &&
                   memcmp(dn + count - base.size(), base.data(), base.size()) == 0;
        if (cut)
            count -= base.size();
        size_t shared =
            common_prefix(dn, previous.data, count < previous.length ? count : previous.length);
        size_t rest = count - shared;
        if (count > longest)
            longest = count;
        previous.length = shared;
        broken = broken || !records.reserve(20 + rest) || !previous.reserve(rest);
        if (broken)
            return;
        records.append_number(shared);
        records.append_number(rest * 2 + cut);
        records.append(dn + shared, rest);
        previous.append(dn + shared, rest);
    }

    // The coded DNs, ",\n" between them. Each is coded over the coded DN
    // before it: only the octets the two do not share are coded again. The
    // room for that is taken before anything is written (memory that runs
    // out throws, and nothing of the reply is out).
    void write(FILE *out)
    {
        std::vector<char> dn(3 * longest + 1);  // code_dn_into's spare octet after it
        staging stage(out);
        for (size_t at = 0; at < records.length;) {
            if (at > 0)
                stage.put(",\n", 2);
            size_t shared = records.number_at(&at), header = records.number_at(&at);
            // Where the shared octets' coded form ends: a coded octet is one
            // character, or three beginning with '!'.
            size_t end = 0;
            for (size_t n = 0; n < shared; n++)
                end += dn[end] == '!' ? 3 : 1;
            end += code_dn_into(dn.data() + end, records.data + at, header >> 1);
            at += header >> 1;
            stage.put(dn.data(), end);
            if (header & 1)
                stage.put(coded.data(), coded.size());
        }
    }
};

void list_dn(void *context, const char *dn, int length)
{
    auto *list = static_cast<listing *>(context);
    if (length < 0) {
        list->clear();
        return;
    }
    int number = ++list->found;
    if (number >= list->from && (list->to < 1 || number <= list->to) && dn)
        list->add(dn, static_cast<size_t>(length));
}

// generate_search without its guard.
void run_search(FILE *out, int is_and, int from, int to, const char *conditions)
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
    listing list(from, to, ini[INI_BASE_DN]);
    int scope = book_number(ini[INI_SCOPE]);
    // Only DNs are listed: the server is asked for no attributes at all, and
    // the entries' DNs are read as they lie, without decoding them.
    int result = book_search_dns(ini[INI_BASE_DN], scope, filter.c_str(),
                                 book_setting(INI_PAGE_SIZE, PAGE_SIZE), list_dn, &list);
    // Entries that came before a time, size or administrative limit, beside
    // referrals that the service cannot follow, or before a paging that did
    // not advance (54), are still the answer.
    bool stopped = result == 3 || result == 4 || result == 10 || result == 11 || result == 54;
    bool listed = result == 0 || (stopped && list.found > 0);
    if (list.broken) {
        emsg("SEARCH: Out of Memory");
        fputs("-failure no result available.\n", out);
    } else if (listed && list.found > 0) {
        list.write(out);
        fprintf(out, "\n+success %d located.\n", list.found);
    } else {
        // Not to be taken for a search that found nothing.
        if (book_unreachable())
            emsg("SEARCH: no connection to the directory {%s}", book_error());
        else if (result == -1 && ldap_timed_out(&ldap))
            emsg("SEARCH: the directory did not answer in time {%s}", book_error());
        fputs("-failure none located.\n", out);
    }
}

}  // namespace

void generate_search(FILE *out, int is_and, int from, int to, const char *conditions)
{
    if (!out)
        return;
    // Memory runs out before anything is written: the reply is the failure
    // line alone, after an error line that tells it from a malformed SEARCH.
    oom_guard([&] { run_search(out, is_and, from, to, conditions); },
              [&] {
                  emsg("SEARCH: Out of Memory");
                  fputs("-failure no result available.\n", out);
              });
}
