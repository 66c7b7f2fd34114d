// The configuration file: settings lines "key value" into ini, field lines
// "field name type attribute searchable" into display_data (fields.cpp).
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

const char *const INI_IDS[INI_COUNT] = {"host",          "host2",           "port",
                                        "debug",         "base_dn",         "scope",
                                        "manager_dn",    "manager_pass",    "full_name",
                                        "email_address", "connect_timeout", "timeout",
                                        "time_limit",    "page_size",       "search_filter",
                                        "tls",           "tls_ca_file",     "tls_ca_dir",
                                        "tls_verify",    "tls_cert_file",   "tls_key_file"};

char ini[INI_COUNT][INI_SIZE];

namespace {

const char *const DEFAULT_INI = "extern_book.ini";

// The settings that came after the first ten are checked as they are read:
// a value they cannot take stops the service rather than being guessed at.
struct setting_rule {
    int slot;
    bool (*accepts)(const char *value);
};

// Whole seconds, digits only, 1 to 3600.
bool seconds_value(const char *value)
{
    if (!*value || strspn(value, "0123456789") != strlen(value))
        return false;
    long seconds = strtol(value, nullptr, 10);
    return seconds >= 1 && seconds <= 3600;
}

// Entries per page, digits only, 0 (no paging) to 100000.
bool page_size_value(const char *value)
{
    return *value && strspn(value, "0123456789") == strlen(value) &&
           strtol(value, nullptr, 10) <= 100000;
}

const char *const TLS_MODES[] = {"off", "starttls", "ldaps"};
const char *const TLS_VERIFY_MODES[] = {"demand", "never"};

// The position of value among the count words, ignoring case; -1 for none.
int word_index(const char *value, const char *const *words, int count)
{
    for (int i = 0; i < count; i++)
        if (s_stricmp(value, words[i]) == 0)
            return i;
    return -1;
}

bool tls_value(const char *value) { return word_index(value, TLS_MODES, 3) >= 0; }

bool tls_verify_value(const char *value) { return word_index(value, TLS_VERIFY_MODES, 2) >= 0; }

// A path; whether it can be used shows when the TLS context is made.
bool path_value(const char *value) { return *value != '\0'; }

// One whole filter that leaves room for the SEARCH's own "(&" around it.
bool filter_value(const char *value)
{
    int depth = ldap_filter_check(value);
    return depth >= 0 && depth < LDAP_FILTER_MAX_DEPTH;
}

// A server list is read once the whole file is (ini_check); here only its
// length counts: cut, its last entry could name another server or port.
bool servers_value(const char *) { return true; }

const setting_rule SETTING_RULES[] = {
    {INI_CONNECT_TIMEOUT, seconds_value}, {INI_TIMEOUT, seconds_value},
    {INI_TIME_LIMIT, seconds_value},      {INI_PAGE_SIZE, page_size_value},
    {INI_SEARCH_FILTER, filter_value},    {INI_TLS, tls_value},
    {INI_TLS_CA_FILE, path_value},        {INI_TLS_CA_DIR, path_value},
    {INI_TLS_VERIFY, tls_verify_value},   {INI_TLS_CERT_FILE, path_value},
    {INI_TLS_KEY_FILE, path_value},       {INI_HOST, servers_value},
    {INI_HOST2, servers_value},
};

// The context of the tls_* settings, made once the whole file is read.
chan_tls *tls_context;

const char *const SCOPE_NAMES[] = {"LDAP_SCOPE_BASE", "LDAP_SCOPE_ONELEVEL", "LDAP_SCOPE_SUBTREE"};

}  // namespace

int book_number(const char *text)
{
    long value = strtol(text ? text : "", nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int book_setting(int slot, int fallback)
{
    if (slot < 0 || slot >= INI_COUNT || !ini[slot][0])
        return fallback;
    return book_number(ini[slot]);
}

int book_tls_mode()
{
    // The words stand in the order of the modes.
    int mode = word_index(ini[INI_TLS], TLS_MODES, 3);
    return mode < 0 ? LDAP_TLS_OFF : mode;
}

chan_tls *book_tls_context() { return tls_context; }

char *strlwr(char *text)
{
    if (text)
        for (char *p = text; *p; p++)
            *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    return text;
}

namespace {

// The failure line of a setting the service cannot use.
int malformed(const char *key, const char *value)
{
    printf("-failure malformed ini setting (%s %s)", key, value);
    return 0;
}

// 0 after writing the failure line when a checked setting cannot take value.
int setting_accepted(int slot, const char *value)
{
    for (const setting_rule &rule : SETTING_RULES)
        if (rule.slot == slot && (strlen(value) >= INI_SIZE || !rule.accepts(value)))
            return malformed(INI_IDS[slot], value);
    return 1;
}

// Applies one "key value" setting; returns 0 after writing a failure message.
int ini_set(char (*settings)[INI_SIZE], int *capacity, char *key, char *value)
{
    strlwr(key);
    if (strcmp(key, "field") == 0) {
        // The failure line shows the value as ini_get_field left it: cut
        // into words, so it names the field's first word.
        int got = ini_get_field(value, capacity);
        return got > 0 || (got < 0 ? ini_unreadable(ENOMEM) : malformed("field", value));
    }
    if (strcmp(key, "scope") == 0) {
        int scope = 0;
        while (scope < 3 && strcmp(value, SCOPE_NAMES[scope]) != 0)
            scope++;
        if (scope == 3) {
            printf("-failure unrecognised value for ini setting (scope %s)\n"
                   "use LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE",
                   value);
            return 0;
        }
        value[0] = static_cast<char>('0' + scope);
        value[1] = '\0';
    }
    for (int slot = 0; slot < INI_COUNT; slot++) {
        if (strcmp(key, INI_IDS[slot]) != 0)
            continue;
        if (!setting_accepted(slot, value))
            return 0;
        lcpy(settings[slot], value, INI_SIZE);
    }
    return 1;
}

// Makes the TLS context of the tls_* settings (for every connection, even
// when only some server entries use TLS); 0 after writing the failure line
// that names the setting it cannot use.
int make_tls_context(char (*settings)[INI_SIZE])
{
    chan_tls_settings tls = {};
    tls.ca_file = settings[INI_TLS_CA_FILE];
    tls.ca_dir = settings[INI_TLS_CA_DIR];
    tls.cert_file = settings[INI_TLS_CERT_FILE];
    tls.key_file = settings[INI_TLS_KEY_FILE];
    tls.verify =
        s_stricmp(settings[INI_TLS_VERIFY], "never") == 0 ? CHAN_TLS_NEVER : CHAN_TLS_DEMAND;
    int failed = chan_tls_new(&tls_context, &tls);
    switch (failed) {
    case CHAN_TLS_OK: return 1;
    case CHAN_TLS_BAD_CA_FILE: return malformed("tls_ca_file", tls.ca_file);
    case CHAN_TLS_BAD_CA_DIR: return malformed("tls_ca_dir", tls.ca_dir);
    case CHAN_TLS_BAD_CERT_FILE: return malformed("tls_cert_file", tls.cert_file);
    case CHAN_TLS_NO_LIBRARY:
        printf("-failure TLS library unavailable (%s)", chan_tls_library_error());
        return 0;
    case CHAN_TLS_FAILED:
        printf("-failure TLS library unavailable (no TLS context could be made)");
        return 0;
    default:  // a key without certificate, or one that is not its own
        return malformed("tls_key_file", tls.key_file);
    }
}

// Checks what only the whole file tells; returns 0 after writing a failure.
int ini_check(char (*settings)[INI_SIZE])
{
    chan_tls_free(tls_context);
    tls_context = nullptr;
    // A port number is read as ever (leading digits, the rest ignored), but
    // one no TCP port has would silently wrap to another.
    const char *port = settings[INI_PORT];
    int number = book_number(port);
    if (port[0] && (number < 0 || number > 65535))
        return malformed("port", port);
    bool ldaps_entry = false;
    for (int slot : {INI_HOST, INI_HOST2}) {
        book_server_list servers = {};
        int readable = book_servers_parse(&servers, settings[slot], number);
        for (int i = 0; i < servers.count; i++)
            ldaps_entry |= servers.servers[i].kind == BOOK_SERVER_LDAPS;
        book_servers_clear(&servers);
        if (readable <= 0)
            return readable < 0 ? ini_unreadable(ENOMEM) : malformed(INI_IDS[slot], settings[slot]);
    }
    // Loading a trust store takes time: only a configuration that can use
    // TLS (or names a TLS file, to be checked) gets a context.
    bool tls_named = word_index(settings[INI_TLS], TLS_MODES, 3) > 0 || ldaps_entry;
    for (int slot = INI_TLS_CA_FILE; slot <= INI_TLS_KEY_FILE; slot++)
        tls_named |= slot != INI_TLS_VERIFY && settings[slot][0];
    return !tls_named || make_tls_context(settings);
}

// Reads the opened file line by line, each whole however long; returns 0
// when a line was refused.
int ini_read(FILE *file, char (*settings)[INI_SIZE], int *capacity)
{
    char *line = nullptr;
    size_t room = 0;
    int loaded = 1;
    ssize_t got;
    for (bool first = true; (got = getline(&line, &room, file)) >= 0; first = false) {
        // A byte-order mark some editors write first is no part of the first
        // key: read with it, "tls starttls" would be an unknown key, ignored.
        if (first && strncmp(line, "\xEF\xBB\xBF", 3) == 0)
            memmove(line, line + 3, strlen(line + 3) + 1);
        if (line[0] == '#' || line[0] == '\r' || line[0] == '\n')
            continue;
        // Like any text, the line ends at a zero octet.
        size_t end = strlen(line);
        while (end > 1 && isspace(static_cast<unsigned char>(line[end - 1])))
            end--;
        line[end] = '\0';
        char *key = line + strspn(line, " \t\n\v\f\r");
        char *blank = key + strcspn(key, " \t");
        if (!*blank || !blank[1])
            break;  // a key without value ends the reading
        *blank = '\0';
        if (!ini_set(settings, capacity, key, blank + 1)) {
            loaded = 0;
            break;
        }
    }
    // A line that could not be read would leave the rest unread, unnoticed.
    if (got < 0 && !feof(file))
        loaded = ini_unreadable(errno);
    free(line);
    return loaded && ini_check(settings);
}

// Opens path for reading when it names something other than a folder
// (which fopen would open, to read nothing); null with errno set otherwise.
FILE *open_file(const char *path)
{
    FILE *file = path ? fopen(path, "r") : nullptr;
    struct stat info;
    if (file && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

}  // namespace

int ini_init(char (*settings)[INI_SIZE], int *capacity)
{
    if (!settings || !capacity)
        return 0;
    for (int slot = 0; slot < INI_COUNT; slot++)
        settings[slot][0] = '\0';
    return book_fields_init(capacity) > 0 ? 1 : ini_unreadable(ENOMEM);
}

int ini_unreadable(int error)
{
    printf("-failure Cannot read the configuration (%s)\n", strerror(error));
    return 0;
}

int ini_load(const char *path, char (*settings)[INI_SIZE], int *capacity)
{
    if (!settings || !capacity)
        return 0;
    FILE *file = open_file(path);
    // The failure names the file asked for, so it gives that file's reason.
    int reason = errno;
    if (!file)
        file = open_file(DEFAULT_INI);
    if (!file) {
        printf("-failure Cannot open file %.100s, %.100s\n", path ? path : DEFAULT_INI,
               strerror(path ? reason : errno));
        return 0;
    }
    int loaded = ini_read(file, settings, capacity);
    fclose(file);
    return loaded;
}
