// Attribute type names from the directory's schema: the attributeTypes
// values of the subschema subentry are read for each type's OID and names,
// so that "cn", "commonName" and "2.5.4.3" are known as one type. Only the
// OID and the NAME list of a description matter here; its other fields are
// stepped over. Descriptions come from the server and are hostile: every
// count and length is capped, and a description that cannot be read whole is
// refused, never half-kept.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

const int MAX_TYPES = 16384;    // attribute types kept
const size_t MAX_KEYS = 65536;  // names and OIDs kept, over all types
const int MAX_TYPE_KEYS = 32;   // names and OID of one type
const int MAX_KEY = 128;        // octets of one name or OID
const int MAX_DEPTH = 8;        // parentheses open at once in a description

// Lower-cased name or OID -> type number.
using key_map = std::unordered_map<std::string, int>;

key_map *keys_of(const ldap_schema *schema) { return static_cast<key_map *>(schema->keys); }

enum token_kind { TOKEN_END, TOKEN_OPEN, TOKEN_CLOSE, TOKEN_QUOTED, TOKEN_WORD, TOKEN_BAD };

// A token where it lies in the description: a word's octets, or what a
// quoted text holds between its quotes, its escapes not yet read.
struct token {
    token_kind kind;
    const char *text;
    size_t length;
};

// Reads the tokens of one description, never beyond its end.
struct scanner {
    const char *at;
    const char *end;

    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    token next()
    {
        while (at < end && blank(*at))
            at++;
        token t = {TOKEN_END, at, 0};
        if (at == end)
            return t;
        if (*at == '(' || *at == ')') {
            t.kind = *at++ == '(' ? TOKEN_OPEN : TOKEN_CLOSE;
        } else if (*at == '\'') {
            // No escape holds a quote: the next one closes the text. An
            // unterminated text is BAD.
            t.text = ++at;
            while (at < end && *at != '\'')
                at++;
            t.length = static_cast<size_t>(at - t.text);
            t.kind = at == end ? TOKEN_BAD : TOKEN_QUOTED;
            if (at < end)
                at++;
        } else {
            t.kind = TOKEN_WORD;
            while (at < end && !blank(*at) && *at != '(' && *at != ')' && *at != '\'')
                at++;
            t.length = static_cast<size_t>(at - t.text);
        }
        return t;
    }
};

// A quoted text's value: \27 and \5C stand for a quote and a backslash.
std::string unquoted(const token &t)
{
    std::string value;
    const char *at = t.text, *end = t.text + t.length;
    for (; at < end; at++) {
        char c = *at;
        if (c == '\\' && end - at >= 3 && hex_value(at[1]) >= 0 && hex_value(at[2]) >= 0) {
            int code = hex_value(at[1]) * 16 + hex_value(at[2]);
            if (code == 0x27 || code == 0x5C) {
                c = static_cast<char>(code);
                at += 2;
            }
        }
        value += c;
    }
    return value;
}

// A word read as the text it starts: up to its first zero octet.
size_t word_length(const token &t)
{
    const void *zero = memchr(t.text, 0, t.length);
    return zero ? static_cast<size_t>(static_cast<const char *>(zero) - t.text) : t.length;
}

bool keyword_is(const token &t, const char *keyword)
{
    size_t length = strlen(keyword);
    return t.kind == TOKEN_WORD && word_length(t) == length &&
           s_strnicmp(t.text, keyword, static_cast<int>(length)) == 0;
}

// The keywords followed by an argument: those of attribute type
// descriptions and the X- extensions. Any other keyword (OBSOLETE,
// SINGLE-VALUE, ... or one of a server's own making) stands alone.
bool takes_argument(const token &t)
{
    static const char *const KEYWORDS[] = {"DESC",   "SUP",    "EQUALITY", "ORDERING",
                                           "SUBSTR", "SYNTAX", "USAGE"};
    for (const char *keyword : KEYWORDS)
        if (keyword_is(t, keyword))
            return true;
    return word_length(t) >= 2 && s_strnicmp(t.text, "X-", 2) == 0;
}

// A name or OID as it is kept: lower-cased. False when it is empty or too long.
bool add_key(std::vector<std::string> *keys, std::string text)
{
    if (text.empty() || text.size() > static_cast<size_t>(MAX_KEY) ||
        keys->size() >= static_cast<size_t>(MAX_TYPE_KEYS))
        return false;
    for (char &c : text)
        c = static_cast<char>(charmap[static_cast<unsigned char>(c)]);
    keys->push_back(std::move(text));
    return true;
}

// The argument of NAME: one name, or names in parentheses.
bool read_names(scanner *in, std::vector<std::string> *keys)
{
    token t = in->next();
    if (t.kind == TOKEN_QUOTED)
        return add_key(keys, unquoted(t));
    if (t.kind != TOKEN_OPEN)
        return false;
    while ((t = in->next()).kind == TOKEN_QUOTED)
        if (!add_key(keys, unquoted(t)))
            return false;
    return t.kind == TOKEN_CLOSE;
}

// Any other keyword's argument: a word, a quoted text, or a list in
// parentheses, nested at most MAX_DEPTH deep.
bool skip_argument(scanner *in)
{
    token t = in->next();
    if (t.kind == TOKEN_WORD || t.kind == TOKEN_QUOTED)
        return true;
    if (t.kind != TOKEN_OPEN)
        return false;
    for (int depth = 1; depth > 0;) {
        t = in->next();
        bool too_deep = t.kind == TOKEN_OPEN && depth == MAX_DEPTH;
        if (t.kind == TOKEN_END || t.kind == TOKEN_BAD || too_deep)
            return false;
        depth += t.kind == TOKEN_OPEN ? 1 : t.kind == TOKEN_CLOSE ? -1 : 0;
    }
    return true;
}

// The OID and names of one description, in keys; false when the
// description is not one whole "( oid keyword... )".
bool parse_description(const char *text, size_t length, std::vector<std::string> *keys)
{
    scanner in = {text, text + length};
    if (in.next().kind != TOKEN_OPEN)
        return false;
    token oid = in.next();
    if (oid.kind != TOKEN_WORD || !add_key(keys, std::string(oid.text, oid.length)))
        return false;
    for (;;) {
        token t = in.next();
        if (t.kind == TOKEN_CLOSE)
            break;
        if (t.kind != TOKEN_WORD)
            return false;
        bool read = keyword_is(t, "NAME") ? read_names(&in, keys)
                                          : !takes_argument(t) || skip_argument(&in);
        if (!read)
            return false;
    }
    return in.next().kind == TOKEN_END;
}

// The type part of a name, lower-cased, as it is looked up.
std::string lookup_key(const char *name)
{
    std::string key(name, static_cast<size_t>(ldap_attr_type_length(name)));
    for (char &c : key)
        c = static_cast<char>(charmap[static_cast<unsigned char>(c)]);
    return key;
}

// Drops every type and the last failure's text.
void schema_reset(ldap_schema *schema)
{
    delete keys_of(schema);
    free(schema->error);
    ldap_schema_init(schema);
}

int read_failed(ldap_schema *schema, int code, const char *what, ldap_handle *ldap)
{
    char line[512];
    const char *detail = ldap_error_str(ldap);
    lprintf(line, sizeof line, "%s%s%s", what, detail ? " - " : "", detail ? detail : "");
    free(schema->error);
    schema->error = strdup(line);
    return code ? code : -1;
}

// Keeps the first entry of a search in *context (an lresult *), frees the rest.
int keep_first(void *context, lresult *entry)
{
    auto **first = static_cast<lresult **>(context);
    if (*first)
        return 0;
    *first = entry;
    return 1;
}

// A base-scope search for one attribute of one entry; each value goes to
// take. Only the first entry is kept: a directory that answers with more
// costs no more memory. The search's result code, or -1 when no value came.
template <class Take>
int read_values(ldap_handle *ldap, const char *base, const char *filter, const char *attribute,
                int time_limit, Take take)
{
    lresult *first = nullptr;
    int code =
        ldap_search_each(ldap, base, 0, 0, 0, time_limit, 0, filter, attribute, keep_first, &first);
    char **values = code == 0 ? ldap_get_values(first, attribute) : nullptr;
    int count = 0;
    for (; values && values[count]; count++)
        take(values[count]);
    ldap_free_message(first);
    return code ? code : count ? 0 : -1;
}

// For the time of a schema read: all of it within one wait for data of the
// handle's channel (and within the handle's own limit), its searches'
// failures reported to the debug sink only. Both are restored at the end.
struct read_bounds {
    ldap_handle *ldap;
    long long limit_ms;
    msg_fn emsg;

    explicit read_bounds(ldap_handle *handle)
        : ldap(handle), limit_ms(handle ? handle->limit_ms : 0),
          emsg(handle ? handle->emsg : nullptr)
    {
        if (!ldap)
            return;
        ldap->emsg = ldap->dmsg;
        long long wait_ms = seconds() * 1000LL;
        if (ldap_limit_left(ldap) > wait_ms)
            ldap_set_limit(ldap, wait_ms);
    }
    ~read_bounds()
    {
        if (!ldap)
            return;
        ldap->limit_ms = limit_ms;
        ldap->emsg = emsg;
    }
    // The channel's wait for data, in whole seconds (at least 1).
    int seconds() const
    {
        int wait = ldap && ldap->chan ? ldap->chan->timeout_sec : 0;
        return wait > 0 ? wait : 1;
    }
};

}  // namespace

void ldap_schema_init(ldap_schema *schema)
{
    if (!schema)
        return;
    schema->types = 0;
    schema->refused = 0;
    schema->error = nullptr;
    schema->keys = nullptr;
}

void ldap_schema_clear(ldap_schema *schema)
{
    if (schema)
        schema_reset(schema);
}

int ldap_schema_add(ldap_schema *schema, const char *description, int length)
{
    if (!schema)
        return -1;
    if (!description)
        length = 0;
    size_t size = length < 0 ? s_strlen(description) : static_cast<size_t>(length);
    bool kept = oom_guard(
        [&] {
            std::vector<std::string> keys;
            key_map *map = keys_of(schema);
            if (!map)
                schema->keys = map = new key_map();
            if (!description || !parse_description(description, size, &keys) ||
                schema->types >= MAX_TYPES || map->size() + keys.size() > MAX_KEYS)
                return false;
            // A name some earlier type has already taken stays that type's.
            for (std::string &key : keys)
                map->emplace(std::move(key), schema->types);
            schema->types++;
            return true;
        },
        [&] {
            // Names kept before memory ran out would stand for the next type.
            if (key_map *map = keys_of(schema))
                for (auto at = map->begin(); at != map->end();)
                    at = at->second == schema->types ? map->erase(at) : std::next(at);
            return false;
        });
    if (kept)
        return 0;
    schema->refused++;
    return -1;
}

int ldap_schema_type(const ldap_schema *schema, const char *name)
{
    if (!schema || !keys_of(schema) || !name || ldap_attr_type_length(name) > MAX_KEY)
        return -1;
    return oom_guard(
        [&] {
            auto found = keys_of(schema)->find(lookup_key(name));
            return found == keys_of(schema)->end() ? -1 : found->second;
        },
        [] { return -1; });
}

int ldap_schema_same(const ldap_schema *schema, const char *a, const char *b)
{
    if (!a || !b)
        return 0;
    int length = ldap_attr_type_length(a);
    if (length > 0 && length == ldap_attr_type_length(b) && s_strnicmp(a, b, length) == 0)
        return 1;
    int type = ldap_schema_type(schema, a);
    return type >= 0 && type == ldap_schema_type(schema, b);
}

int ldap_attr_type_length(const char *name)
{
    if (!name)
        return 0;
    const char *options = s_strchr(name, ';');
    return static_cast<int>(options ? options - name : s_strlen(name));
}

int ldap_schema_read(ldap_schema *schema, ldap_handle *ldap)
{
    if (!schema)
        return -1;
    schema_reset(schema);
    read_bounds bounds(ldap);
    char *subentry = nullptr;
    int code = read_values(ldap, "", "(objectClass=*)", "subschemaSubentry", bounds.seconds(),
                           [&](const char *dn) {
                               if (!subentry)
                                   subentry = strdup(dn);
                           });
    if (code != 0 || !subentry)
        return read_failed(schema, code, "Could not read the subschema subentry's name", ldap);
    code =
        read_values(ldap, subentry, "(objectClass=subschema)", "attributeTypes", bounds.seconds(),
                    [&](const char *description) { ldap_schema_add(schema, description, -1); });
    free(subentry);
    if (code != 0)
        return read_failed(schema, code, "Could not read the attribute types", ldap);
    return 0;
}
