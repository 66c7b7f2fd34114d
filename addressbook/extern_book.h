// extern_book: the address-book service. Configuration, field table and
// server lists, the command loop of the line protocol, start-up, SEARCH and
// GET.
//
// Every reply goes to one stream, the process's standard output, and ends
// with exactly one status line beginning "+success" or "-failure".
#ifndef ADDRESSBOOK_EXTERN_BOOK_H
#define ADDRESSBOOK_EXTERN_BOOK_H

#include <cstdio>

#include "ldap/ldap.h"

// ---------------------------------------------------------------------------
// Configuration and field table (config.cpp)

#define INI_SIZE 512  // bytes of one setting, terminator included

// Slots of the settings table, in the order of INI_IDS. The slots after the
// first ten hold optional settings whose values are checked as they are
// read: one they cannot take (or longer than 511 characters) stops the
// service with "-failure malformed ini setting (KEY VALUE)".
enum {
    INI_HOST,
    INI_HOST2,
    INI_PORT,
    INI_DEBUG,
    INI_BASE_DN,
    INI_SCOPE,
    INI_MANAGER_DN,
    INI_MANAGER_PASS,
    INI_FULL_NAME,
    INI_EMAIL_ADDRESS,
    INI_CONNECT_TIMEOUT,  // seconds a connection attempt may take (20)
    INI_TIMEOUT,          // seconds of each wait for data (30)
    INI_TIME_LIMIT,       // seconds a search may take on the server (30)
    INI_PAGE_SIZE,        // entries a SEARCH asks for per page; 0 pages not (500)
    INI_SEARCH_FILTER,    // filter every SEARCH's conditions are joined to
    INI_TLS,              // off (the default), starttls or ldaps
    INI_TLS_CA_FILE,      // PEM bundle of the authorities to trust
    INI_TLS_CA_DIR,       // hashed folder of the authorities to trust
    INI_TLS_VERIFY,       // demand (the default) or never
    INI_TLS_CERT_FILE,    // a client certificate (PEM) ...
    INI_TLS_KEY_FILE,     // ... and its key
    INI_COUNT
};

// One address-book field: the name the host uses, the type shown to it, the
// LDAP attribute it maps to, and whether SEARCH_FIELDS lists it.
struct display_field {
    char *name;  // null in the terminator record
    char *type;
    char *attribute;
    int searchable;
};

extern const char *const INI_IDS[INI_COUNT];
extern char ini[INI_COUNT][INI_SIZE];
// The field table: record 0 is record_id (attribute "dn"), the configured
// fields follow in file order, and a record whose name is null ends it.
extern display_field *display_data;
extern int display_data_length;  // capacity of display_data, in records

// Empties the settings, sets the capacity to 10 and makes a field table that
// holds record_id alone (a table from an earlier call is released).
// Returns 1, 0 for null arguments, or 0 after writing a "-failure" message
// on standard output when memory runs out.
int ini_init(char (*settings)[INI_SIZE], int *capacity);
// Reads the configuration file at path (null, or a path that cannot be
// opened, falls back to "extern_book.ini"). Returns 1 when the file was
// read, 0 after writing a "-failure" message on standard output.
int ini_load(const char *path, char (*settings)[INI_SIZE], int *capacity);
// Writes the "-failure" message of a configuration that could not be read
// whole (error, an errno value, says why: ENOMEM, say) on standard output;
// returns 0.
int ini_unreadable(int error);
// Releases the field table and makes one that holds record_id alone, room
// for 10 records in *capacity. Returns 1, 0 for a null capacity, or -1 when
// memory runs out (nothing written).
int book_fields_init(int *capacity);
// Appends the field of a field line's value "name type attribute searchable"
// (tokens split by blanks and tabs; the text is cut up in place).
// Returns 1, 0 when a token is missing, or -1 when memory runs out.
int ini_get_field(char *text, int *capacity);
// Lower-cases text in place and returns it.
char *strlwr(char *text);
// A decimal number read as strtol reads it (blanks and a sign accepted, no
// digits give 0), kept within the range of int; null reads as 0.
int book_number(const char *text);
// The number in setting slot, or fallback when the setting is empty.
int book_setting(int slot, int fallback);
// LDAP_TLS_OFF, LDAP_TLS_STARTTLS or LDAP_TLS_LDAPS, as "tls" says: how
// connections are made unless their server entry says otherwise.
int book_tls_mode();
// The TLS context made from the tls_* settings when the file was loaded (the
// process keeps it); null when ini_load has not made one.
chan_tls *book_tls_context();

// ---------------------------------------------------------------------------
// Server lists (servers.cpp)

// How a server entry of a "host" setting was written: a bare host (the
// connection is made as the other settings say), an ldap:// or ldaps:// URL,
// or "srv:DOMAIN" (the servers come from the domain's DNS SRV records).
enum { BOOK_SERVER_PLAIN, BOOK_SERVER_LDAP, BOOK_SERVER_LDAPS, BOOK_SERVER_SRV };

#define BOOK_LDAPS_PORT 636            // port of an ldaps:// URL that names none
#define BOOK_SERVER_SEPARATORS " \t,"  // what stands between the entries of a setting

struct book_server {
    int kind;          // BOOK_SERVER_*
    char *host;        // host text as written, brackets removed; the domain for SRV
    int port;          // 1..65535, or the caller's default port; 0 for SRV
    int port_written;  // 1 when the entry names its port
};

struct book_server_list {
    book_server *servers;  // count entries, in the setting's order
    int count;
    char *error;  // why the last parse failed, naming the entry; or null
};

// Reads a setting value into list, a zeroed record or one of an earlier
// parse (emptied first). Entries are separated by blanks, tabs or commas:
// NAME, NAME:PORT, [IPV6], [IPV6]:PORT, a bare IPV6 address (more than one
// ':'), ldap://HOSTPORT, ldaps://HOSTPORT (each optionally followed by "/"
// and anything, ignored) or srv:DOMAIN. A value without entries (null
// included) gives one bare entry with an empty host. Returns 1; 0 with list
// empty and error set when an entry cannot be read (bad or missing port,
// unclosed '[', empty host, other scheme); -1 when memory runs out (error
// "out of memory", or null). The list owns its texts.
int book_servers_parse(book_server_list *list, const char *value, int default_port);
// Frees what list holds and zeroes it; null is ignored.
void book_servers_clear(book_server_list *list);

// ---------------------------------------------------------------------------
// Command loop (command_loop.cpp)

// Reads command lines from in until EXIT, QUIT, BYE or the end of input and
// answers each on out, flushing out after every reply. A line of more than
// 1,023 characters (its line end aside) is answered as no command.
void book_loop(FILE *in, FILE *out);
// Runs one command line (line ends already removed; the text is cut up in
// place). Returns 1 to go on, 0 after EXIT, QUIT or BYE.
int book_command(FILE *out, char *line);
// AVAILABLE (all fields) or SEARCH_FIELDS (searchable ones only); a null
// out: nothing.
void book_list_fields(FILE *out, int searchable_only);

// ---------------------------------------------------------------------------
// Start-up and the directory connection (directory.cpp)

// The process-wide connection to the directory server.
extern ldap_handle ldap;

// Connects and binds to "host" (or else "host2") and greets the host on
// out. Returns 1 when the service is ready, 0 after writing the start-up
// failure line.
int book_start(FILE *out);
// Starts and ends the one deadline of a SEARCH or GET: from the moment its
// line was read, the command (reconnecting and retrying included) may take
// its search time limit, one wait for data and one connection attempt.
void book_begin_command();
void book_end_command();
// ldap_search_views on the process-wide connection with the given base,
// scope, filter, attribute list (null: all) and page size (0: no paging),
// and the configured time limit (30 seconds by default). When the
// connection was lost (closed, reset, junk, a notice of disconnection),
// reconnects once as book_start does, calls on_view(context, null) to void
// the entries handed so far, and searches once more, from the first page.
// After a time-out (even one after which a paged search kept what came) it
// drops the connection instead, so that the next command connects afresh.
int book_search(const char *base, int scope, const char *filter, const char *attributes,
                int page_size, ldap_view_fn on_view, void *context);
// The same through ldap_search_dns: each entry's DN goes to on_dn, and
// on_dn(context, null, -1) voids the DNs handed before a retry.
int book_search_dns(const char *base, int scope, const char *filter, int page_size,
                    ldap_dn_fn on_dn, void *context);
// The text of the connection's last failure; "(NULL)" when none is recorded.
const char *book_error();
// 1 when the command under way found no server to connect and bind to
// (book_error says why), else 0.
int book_unreachable();

// ---------------------------------------------------------------------------
// Attribute types of the directory (attributes.cpp)

// Reads the attribute types of the directory's schema on the connection
// just bound, within one wait for data and the command's deadline; when it
// cannot be read, attribute types compare by name only. Failures are written
// as Debug: lines at most.
void book_read_schema(ldap_handle *handle);
// Forgets the schema read for the last connection (as when it is dropped):
// attribute types then compare by name until the next one reads its own.
void book_forget_schema();
// What GET works out once per field table and connection: the attribute
// list it asks for, and which field an attribute the directory returns maps
// to. The map is attributes.cpp's own; it lasts until the schema is read or
// forgotten, or the field table changes.
struct book_field_map;
// The map of the field table as it is now and of the current schema, made
// when either changed since the last call. Null when memory runs out.
const book_field_map *book_map_fields();
// The attributes a GET asks for: those of the fields, each once, by the
// names the configuration gives them ("dn" is none); "1.1" when there are
// none. The map's text; null for null.
const char *book_requested_attributes(const book_field_map *map);
// The index in display_data of the first field whose attribute names what
// the attribute description the directory returned names: the same type
// (its name ignoring case, an alias or its OID, as the schema read says)
// with the same options, compared ignoring case and order. -1 when none
// does (also for null).
int book_field_of(const book_field_map *map, const char *returned);

// ---------------------------------------------------------------------------
// SEARCH and GET (search.cpp, get.cpp, dn_coding.cpp)

// SEARCH: is_and 1 for AND, 0 for OR; entries from..to (1-based, to below 1
// for no limit) are listed. Writes the whole reply, unflushed; when memory
// runs out, "-failure no result available." alone. A null out: nothing.
void generate_search(FILE *out, int is_and, int from, int to, const char *conditions);
// GET of one coded DN. Writes the whole reply, unflushed; when memory runs
// out, "-failure 'CODED' Failed {Out of Memory}." alone. An attribute the
// directory returns in part ("member;range=0-1499") is read whole by more
// base searches of the entry, within the command's deadline and
// LDAP_MAX_MESSAGE octets of its values; one that cannot be read whole fails
// the GET ("-failure 'CODED' Failed {REASON}."). A null out: nothing.
void display_dn(FILE *out, const char *coded_dn);
// The one-line coded form of a DN and its inverse; each result lives in the
// function's own buffer until its next call (which may be handed it). Null
// when memory runs out.
char *code_dn(const char *dn);
char *uncode_dn(const char *coded_dn);
// Writes the coded form of the length octets at dn (zeros too) to out,
// which has room for 3 * length + 1 octets, without a terminator; returns
// the octets written (0 for a null out or dn).
size_t code_dn_into(char *out, const char *dn, size_t length);
// Writes "name=value" lines for the attributes of entry that fields map to;
// attributes returned in part are left out (display_dn reads them whole).
// Returns 1; 0, with nothing written, when memory runs out or out is null.
int build_user_info(FILE *out, const ldap_entry_view *entry);

#endif
