// Search filter compiler (textual filter to BER Filter elements) and the
// attribute-list encoder of search requests.
#include "ldap/ldap.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

struct compiler {
    bool refused = false;
};

// A buffer for one element under construction, released however the
// compilation ends (std::bad_alloc passes through it).
struct scratch_buf : data_buf {
    scratch_buf() { data_init(this); }
    ~scratch_buf() { data_clear(this); }
};

// Marks out failed, as copying a failed buffer into it does.
void fail(data_buf *out)
{
    data_buf failed = {0, -1, nullptr};
    data_add_data(out, &failed);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A value piece with each backslash-hex-hex escape turned into its octet;
// any other backslash stays as it is.
std::string unescape(const char *text, size_t count)
{
    std::string value;
    value.reserve(count);
    for (size_t i = 0; i < count; i++) {
        int high, low;
        if (text[i] == '\\' && i + 2 < count && (high = hex_value(text[i + 1])) >= 0 &&
            (low = hex_value(text[i + 2])) >= 0) {
            value += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            value += text[i];
        }
    }
    return value;
}

void put_primitive(data_buf *out, int id, const std::string &octets)
{
    data_start(out, id, static_cast<int>(octets.size()));
    data_add(out, octets.data(), static_cast<int>(octets.size()));
    data_end(out);
}

void put_substrings(data_buf *out, const std::string &name, const char *value, size_t count)
{
    std::vector<const char *> stars;
    for (size_t i = 0; i < count; i++)
        if (value[i] == '*')
            stars.push_back(value + i);

    scratch_buf pieces;
    const char *end = value + count;
    if (stars.front() != value)
        put_primitive(&pieces, 0x80, unescape(value, stars.front() - value));
    // Adjacent stars hold no piece: an empty any element makes servers
    // drop the request, and a*b matches what a**b means.
    for (size_t i = 0; i + 1 < stars.size(); i++)
        if (stars[i + 1] - stars[i] > 1)
            put_primitive(&pieces, 0x81, unescape(stars[i] + 1, stars[i + 1] - stars[i] - 1));
    if (stars.back() != end - 1)
        put_primitive(&pieces, 0x82, unescape(stars.back() + 1, end - stars.back() - 1));
    if (pieces.length == 0)  // nothing but stars, as in "**"
        put_primitive(&pieces, 0x81, std::string());

    scratch_buf scratch;
    put_primitive(&scratch, 0x04, name);
    data_wrap(&scratch, &pieces, 0x30);
    data_wrap(out, &scratch, 0xA4);
}

// name holds "type:rule:" or "type:dn:rule:" (either part may be empty).
void put_extensible(data_buf *out, const char *name, const std::string &value)
{
    const char *colon = strchr(name, ':');
    std::string type(name, colon - name);
    const char *rule = colon + 1;
    bool dn_attributes = s_strnicmp(colon, ":dn:", 4) == 0;
    if (dn_attributes)
        rule = colon + 4;
    const char *rule_end = strchr(rule, ':');
    std::string rule_text(rule, rule_end ? rule_end - rule : strlen(rule));

    scratch_buf scratch;
    if (!rule_text.empty())
        put_primitive(&scratch, 0x81, rule_text);
    if (!type.empty())
        put_primitive(&scratch, 0x82, type);
    put_primitive(&scratch, 0x83, value);
    if (dn_attributes)
        put_primitive(&scratch, 0x84, std::string(1, '\xFF'));
    data_wrap(out, &scratch, 0xA9);
}

// One attribute item: "name", "name op value" with op one of = ~ > < (the
// last three optionally followed by =), or "name:...:=value".
void compile_attribute(data_buf *out, char *item)
{
    char *op = strpbrk(item, "=~><");
    if (!op) {
        put_primitive(out, 0x87, item);
        return;
    }
    int choice = 3;  // equalityMatch
    switch (*op) {
    case '>': choice = 5; break;
    case '<': choice = 6; break;
    case '~': choice = 8; break;
    default:
        if (op > item && op[-1] == ':')
            choice = 9;
    }
    char *value = op + 1;
    if (*op != '=' && *value == '=')
        value++;
    *op = '\0';
    std::string name(item);

    size_t count = strlen(value);
    while (count > 1 && is_blank(value[count - 1]))
        count--;
    if (count == 1 && (is_blank(value[0]) || value[0] == '*')) {
        put_primitive(out, 0x87, name);
        return;
    }
    if (memchr(value, '*', count)) {
        put_substrings(out, name, value, count);
        return;
    }
    std::string octets = unescape(value, count);
    if (choice == 9) {
        put_extensible(out, item, octets);
        return;
    }
    scratch_buf scratch;
    put_primitive(&scratch, 0x04, name);
    put_primitive(&scratch, 0x04, octets);
    data_wrap(out, &scratch, 0xA0 | choice);
}

// Compiles the run of parenthesised items in text (modified in place) and
// returns how many were found.
int compile_list(compiler *state, data_buf *out, char *text, int depth)
{
    char *p = strchr(text, '(');
    if (!p)
        return 0;
    // Deeper nesting is refused: the whole filter compiles to nothing, which
    // keeps the compiler's recursion and the encoded depth bounded.
    if (depth > LDAP_FILTER_MAX_DEPTH) {
        state->refused = true;
        return 0;
    }
    int count = 0;
    for (;;) {
        p++;
        while (is_blank(*p))
            p++;
        char *item = p;
        // The item's first character never counts as a parenthesis.
        char *end = item;
        if (*end) {
            int level = 0;
            for (end++; *end; end++) {
                if (*end == '(')
                    level++;
                else if (*end == ')' && --level < 0)
                    break;
            }
        }
        bool closed = *end == ')';
        *end = '\0';

        const char *wrappers = "&|!";
        const char *logic = *item ? strchr(wrappers, *item) : nullptr;
        if (logic) {
            scratch_buf scratch;
            // "(&)" and "(|)" are the filters always true and always false
            // (RFC 4526): an empty set, not nothing.
            bool absolute = *item != '!' && item[1] == '\0';
            int inner = compile_list(state, &scratch, item + 1, depth + 1);
            // A not holds one filter: a server would read only the first of
            // two and match what was not asked.
            if (*item == '!' && inner != 1)
                state->refused = true;
            if (inner > 0 || absolute)
                data_data(out, &scratch, 0xA0 + static_cast<int>(logic - wrappers));
        } else {
            compile_attribute(out, item);
        }
        count++;

        if (!closed)
            break;
        p = end + 1;
        while (is_blank(*p))
            p++;
        if (*p != '(')
            break;
    }
    return count;
}

}  // namespace

int data_cvt_search(data_buf *out, const char *text, int use_default)
{
    if (!out)
        return 0;
    if (!text && use_default) {
        // "(objectClass)", as the compiler makes it: a present filter.
        static const char DEFAULT_TYPE[] = "objectClass";
        data_start(out, 0x87, sizeof DEFAULT_TYPE - 1);
        data_add(out, DEFAULT_TYPE, sizeof DEFAULT_TYPE - 1);
        data_end(out);
        return out->length < 0 ? 0 : 1;
    }
    if (!text)
        return 0;
    return oom_guard(
        [&] {
            std::string copy(text);
            compiler state;
            scratch_buf filter;
            int count = compile_list(&state, &filter, &copy[0], 0);
            if (state.refused)
                return 0;
            data_add_data(out, &filter);
            return count;
        },
        [&] {
            fail(out);
            return 0;
        });
}

int data_cvt_attrib(data_buf *out, const char *text)
{
    if (!text)
        return 0;
    // Each name goes in as it lies in the text: nothing here allocates but
    // the buffer, which fails itself when it cannot grow.
    int count = 0;
    const char *piece = text;
    for (;;) {
        while (is_blank(*piece))
            piece++;
        const char *comma = strchr(piece, ',');
        size_t length = comma ? static_cast<size_t>(comma - piece) : strlen(piece);
        data_start(out, 0x04, static_cast<int>(length));
        data_add(out, piece, static_cast<int>(length));
        data_end(out);
        count++;
        if (!comma)
            return out && out->length < 0 ? 0 : count;
        piece = comma + 1;
    }
}
