// Protocol trace: every message sent or received, decoded, in a file of its
// own inside the handle's trace directory.
#include "ldap/ldap.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Binary contents are decoded for display; deeper than this they are only
// dumped, so a reply built of nested strings cannot run the printer away.
const int TRACE_MAX_DEPTH = 16;

const char MASK[] = "********";

// What to hide when printing a list: the credentials of a bind request
// (node 2: the simple password, or the SASL credentials inside it), or
// everything (the values of a password attribute).
enum mask_mode { MASK_NONE, MASK_BIND, MASK_SASL, MASK_ALL };

// Whether node names an attribute whose values are secrets, with or
// without options ("userPassword;binary"). A list that starts with such a
// name (an attribute with its values, an assertion of a filter or compare)
// is printed with the rest masked.
bool names_secret(const lresult_node *node)
{
    static const char *const secrets[] = {"userPassword", "2.5.4.35", "authPassword", "unicodePwd"};
    if (!node || (node->type & 0x1F) != 4 || !node->value)
        return false;
    const auto *name = static_cast<const char *>(node->value);
    size_t length = strnlen(name, static_cast<size_t>(node->size));
    if (const void *options = memchr(name, ';', length))
        length = static_cast<size_t>(static_cast<const char *>(options) - name);
    for (const char *secret : secrets)
        if (length == strlen(secret) && s_strnicmp(name, secret, static_cast<int>(length)) == 0)
            return true;
    return false;
}

const char *operation_name(int application)
{
    // Several names a line, as the formatter would not keep them.
    // clang-format off
    static const char *const names[] = {
        "LDAP_BIND_REQUEST", "LDAP_BIND_RESPONCE", "LDAP_UNBIND_REQUEST",
        "LDAP_SEARCH_REQUEST", "LDAP_SEARCH_RESPONCE_A", "LDAP_SEARCH_RESPONCE_B",
        "LDAP_MODIFY_REQUEST", "LDAP_MODIFY_RESPONSE", "LDAP_ADD_REQUEST",
        "LDAP_ADD_RESPONSE", "LDAP_DEL_REQUEST", "LDAP_DEL_RESPONSE",
        "LDAP_MOD_RND_REQUEST", "LDAP_MOD_RND_RESPONSE", "LDAP_COMPARE_REQUEST",
        "LDAP_COMPARE_RESPONSE", "LDAP_ABANDON_REQUEST", nullptr, nullptr,
        "LDAP_SEARCH_REFERENCE_C", nullptr, nullptr, nullptr, "LDAP_EXTENDED_REQUEST",
        "LDAP_EXTENDED_RESPONSE"};
    // clang-format on
    const int count = sizeof names / sizeof names[0];
    if (application >= 0 && application < count && names[application])
        return names[application];
    return "<unknown type>";
}

void print_class(FILE *out, int type)
{
    switch (type & 0xC0) {
    case 0x40: fputs(" APPLICATION", out); break;
    case 0x80: fputs(" CONTECT_SPECIFIC", out); break;
    case 0xC0: fputs(" PRIVATE", out); break;
    }
    if (type & 0x20)
        fputs(" STRUCTURED", out);
}

// The octets as they show in a trace: a printable one as it is, any other
// as <its value>, so that no text of a peer writes lines or controls.
void print_octets(FILE *out, const unsigned char *octets, int count)
{
    for (int i = 0; i < count; i++) {
        if (isprint(octets[i]))
            fputc(octets[i], out);
        else
            fprintf(out, "<%d>", static_cast<signed char>(octets[i]));
    }
}

void print_type_name(FILE *out, const lresult_node *node, bool masked)
{
    const char *name = nullptr;
    bool number = false, text = false;
    switch (node->type & 0x1F) {
    case 1:
        name = "BOOLEAN";
        number = true;
        break;
    case 2:
        name = "INTEGER";
        number = true;
        break;
    case 10:
        name = "ENUMERATED";
        number = true;
        break;
    case 3:
        name = "BIT_STR";
        text = true;
        break;
    case 4:
        name = "OCTET_STR";
        text = true;
        break;
    case 19:
        name = "PRINT_STR";
        text = true;
        break;
    case 22:
        name = "IA5_STR";
        text = true;
        break;
    case 5: name = "NULL"; break;
    case 6: name = "OBJECT_ID"; break;
    case 9: name = "REAL"; break;
    case 16: name = "SEQUENCE"; break;
    case 17: name = "SET"; break;
    case 23: name = "UTC_TIME"; break;
    case 24: name = "GENERAL_TIME"; break;
    default: return;
    }
    fprintf(out, " %s", name);
    // Only universal integer nodes hold an integer cell; tagged ones hold
    // text, shown by their Data line.
    if (number && node->type < 0x80 && node->value)
        fprintf(out, " (%d)", *static_cast<const int *>(node->value));
    else if (text && masked)
        fprintf(out, " (%s)", MASK);
    else if (text) {
        // Up to the first zero octet, as a text reads; an empty one has none.
        const auto *value = static_cast<const char *>(node->value);
        size_t length = value ? strnlen(value, static_cast<size_t>(node->size)) : 0;
        fputs(" (", out);
        print_octets(out, reinterpret_cast<const unsigned char *>(value), static_cast<int>(length));
        fputc(')', out);
    }
}

void print_data(FILE *out, const std::string &prefix, const lresult_node *node, bool masked)
{
    fprintf(out, "%s          Data: ", prefix.c_str());
    if (masked) {
        fputs(MASK, out);
    } else {
        print_octets(out, static_cast<const unsigned char *>(node->value), node->size);
    }
    fputc('\n', out);
}

void print_list(lresult *list, FILE *out, const std::string &prefix, int depth, mask_mode mode);

void print_node(const lresult_node *node, int position, FILE *out, const std::string &prefix,
                int depth, mask_mode mode)
{
    const char *p = prefix.c_str();
    bool masked = node->size > 0 && ((mode == MASK_BIND && position == 2) ||
                                     (mode == MASK_SASL && position == 1) || mode == MASK_ALL);
    fprintf(out, "%s  %2.2d -  Type: %02X  (size=%d) (content=%d)\n", p, position, node->type,
            node->size, node->choice);
    fprintf(out, "%s               ", p);
    print_class(out, node->type);
    print_type_name(out, node, masked);
    fputc('\n', out);

    std::string inner = prefix + "     ";
    const char *text = static_cast<const char *>(node->value);
    if (node->type == 16) {
        mask_mode nested = mode == MASK_ALL ? MASK_ALL : MASK_NONE;
        if (mode == MASK_BIND && position == 2)
            nested = MASK_SASL;
        print_list(static_cast<lresult *>(node->value), out, inner, depth + 1, nested);
    } else if ((node->type & 0x1F) == 4 && text &&
               static_cast<int>(strnlen(text, node->size)) < node->size) {
        print_data(out, prefix, node, masked);
        if (masked || depth >= TRACE_MAX_DEPTH)
            return;
        // Released by its holder, also when memory runs out while printing.
        std::unique_ptr<lresult, void (*)(lresult *)> decoded(
            ldap_decode_data_input(nullptr, static_cast<const unsigned char *>(node->value),
                                   node->size),
            ldap_free_message);
        if (!decoded) {
            fprintf(out, "%s     (encoded)\n", p);
        } else if (decoded.get() == LRESULT_INVALID) {
            fprintf(out, "%s     (dresult = -1)\n", p);
        } else {
            print_list(decoded.get(), out, inner, depth + 1, MASK_NONE);
        }
    } else if (node->type >= 0x80 && node->size != 0 && node->value) {
        print_data(out, prefix, node, masked);
    }
}

void print_list(lresult *list, FILE *out, const std::string &prefix, int depth, mask_mode mode)
{
    if (!list || list == LRESULT_INVALID || !out)
        return;
    const char *p = prefix.c_str();
    if (list->application || list->id) {
        fprintf(out, "%sApplication: %d - %s\n", p, list->application,
                operation_name(list->application));
        fprintf(out, "%s         ID: %d\n", p, list->id);
        fprintf(out, "%s      Error: %s\n", p, list->error ? list->error : "NULL");
    }
    int count = static_size(&list->items);
    fprintf(out, "%s No Entries: %d\n", p, count);
    fprintf(out, "%s\n", p);
    bool secret = mode == MASK_NONE && names_secret(lresult_get(list, 0));
    for (int i = 0; i < count; i++)
        if (const lresult_node *node = lresult_get(list, i))  // an empty slot holds no element
            print_node(node, i, out, prefix, depth, secret && i > 0 ? MASK_ALL : mode);
    fprintf(out, "%s-------------------------------------\n", p);
    fflush(out);
}

void pause_a_millisecond()
{
    timespec wait = {0, 1000000}, left;
    while (nanosleep(&wait, &left) != 0 && errno == EINTR)
        wait = left;
}

}  // namespace

void ldap_set_log(ldap_handle *ldap, const char *dir)
{
    if (!ldap)
        return;
    char *copy = dir ? strdup(dir) : nullptr;  // before the free: dir may be the old setting
    free(ldap->log_dir);
    ldap->log_dir = copy;
}

FILE *log_file(const char *dir, const char *stem, char *path)
{
    char pattern[512], scratch[512];
    if (!path)
        path = scratch;
    path[0] = '\0';
    // Without a directory the file would land in the working directory.
    if (!dir || !*dir || !stem)
        return nullptr;
    // A name or path cut short by the 512-octet limits is refused, never used.
    size_t pattern_length = lprintf(pattern, sizeof pattern, "%s_XXXXXX", stem);
    if (pattern_length < 7 || strcmp(pattern + pattern_length - 7, "_XXXXXX") != 0)
        return nullptr;
    for (int attempt = 0; attempt < 5; attempt++) {
        const char *joined = attach_path(dir, pattern);
        size_t length = strlen(joined);
        if (length >= 512 || length < pattern_length ||
            strcmp(joined + length - pattern_length, pattern) != 0)
            return nullptr;
        memcpy(path, joined, length + 1);
        // The file is created exclusively, readable by its owner only.
        int fd = mkstemp(path);
        if (fd < 0 && errno == EINVAL)
            return nullptr;
        if (fd >= 0) {
            if (FILE *stream = fdopen(fd, "wb"))
                return stream;
            close(fd);
            unlink(path);
        }
        pause_a_millisecond();
    }
    return nullptr;
}

void lresult_log(lresult *list, FILE *stream, const char *prefix)
{
    oom_guard([&] { print_list(list, stream, prefix ? prefix : "", 0, MASK_NONE); }, [] {});
}

void ldap_log_data(ldap_handle *ldap, const char *direction, lresult *message, lresult **controls)
{
    if (!ldap || !ldap->log_dir)
        return;
    bool valid = message && message != LRESULT_INVALID;
    int id = valid ? message->id : 0;
    char stem[512], path[512];
    if (id)
        lprintf(stem, sizeof stem, "LDAP_%d-%s", id, direction);
    else
        lprintf(stem, sizeof stem, "LDAP_---%s", direction);
    FILE *out = log_file(ldap->log_dir, stem, path);
    if (!out)
        return;

    // Out of memory while printing: the file is cut short.
    oom_guard(
        [&] {
            fputs("Control\n-------\n", out);
            if (controls)
                print_list(*controls, out, "", 0, MASK_NONE);
            else
                fputs(" NO CONTROL\n", out);
            fputs("\nCommand\n-------\n", out);
            if (valid)
                print_list(message, out, "", 0, message->application == 0 ? MASK_BIND : MASK_NONE);
            else
                fputs(" NO CMD\n", out);
        },
        [] {});
    fclose(out);
}
