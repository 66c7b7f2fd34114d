/* The yardstick: SEARCH and GET of the address-book service's line protocol
 * written as a libldap user would write them. It reads the service's
 * configuration file (host, port, bind DN and password, base, scope, fields,
 * page_size, and the tls_* keys: StartTLS or LDAPS with the same authority,
 * checks and TLS 1.2 floor) and command lines on standard input, and
 * answers exactly as the service does for the commands it knows (SEARCH,
 * GET, EXIT).
 *
 *   refclient extern_book.ini < commands
 */
#define LDAP_DEPRECATED 0
#include <ctype.h>
#include <lber.h>
#include <ldap.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#define MAX_FIELDS 64

struct field {
    char name[128];
    char attribute[128];
};

static char host[512], port[32], bind_dn[512], password[512], base_dn[512];
static int scope;
/* Entries a page, as the service's "page_size" (500 when the file names
 * none; 0 asks for every entry at once). */
static int page_size = 500;
/* tls: "off", "starttls" or "ldaps"; the rest as the service reads them. */
static char tls[16] = "off", tls_ca_file[512], tls_ca_dir[512], tls_verify[16] = "demand",
            tls_cert_file[512], tls_key_file[512];
static struct field fields[MAX_FIELDS];
static int field_count;

static void strip(char *line) {
    size_t n = strlen(line);
    while (n > 0 && isspace((unsigned char)line[n - 1])) line[--n] = 0;
}

static int load_config(const char *path) {
    FILE *file = fopen(path, "r");
    char line[10000];
    if (!file) return 0;
    strcpy(fields[field_count].name, "record_id");
    strcpy(fields[field_count++].attribute, "dn");
    while (fgets(line, sizeof line, file)) {
        if (line[0] == '#' || line[0] == '\r' || line[0] == '\n') continue;
        strip(line);
        char *key = line + strspn(line, " \t\r\n\v\f");
        char *value = key + strcspn(key, " \t");
        if (!*value || !value[1]) break;
        *value++ = 0;
        for (char *c = key; *c; c++) *c = (char)tolower((unsigned char)*c);
        if (!strcmp(key, "host")) snprintf(host, sizeof host, "%s", value);
        else if (!strcmp(key, "port")) snprintf(port, sizeof port, "%s", value);
        else if (!strcmp(key, "manager_dn")) snprintf(bind_dn, sizeof bind_dn, "%s", value);
        else if (!strcmp(key, "manager_pass")) snprintf(password, sizeof password, "%s", value);
        else if (!strcmp(key, "base_dn")) snprintf(base_dn, sizeof base_dn, "%s", value);
        else if (!strcmp(key, "tls")) snprintf(tls, sizeof tls, "%s", value);
        else if (!strcmp(key, "tls_ca_file")) snprintf(tls_ca_file, sizeof tls_ca_file, "%s", value);
        else if (!strcmp(key, "tls_ca_dir")) snprintf(tls_ca_dir, sizeof tls_ca_dir, "%s", value);
        else if (!strcmp(key, "tls_verify")) snprintf(tls_verify, sizeof tls_verify, "%s", value);
        else if (!strcmp(key, "tls_cert_file"))
            snprintf(tls_cert_file, sizeof tls_cert_file, "%s", value);
        else if (!strcmp(key, "tls_key_file"))
            snprintf(tls_key_file, sizeof tls_key_file, "%s", value);
        else if (!strcmp(key, "page_size")) page_size = atoi(value);
        else if (!strcmp(key, "scope"))
            scope = !strcmp(value, "LDAP_SCOPE_SUBTREE") ? LDAP_SCOPE_SUBTREE
                    : !strcmp(value, "LDAP_SCOPE_ONELEVEL") ? LDAP_SCOPE_ONELEVEL
                                                             : LDAP_SCOPE_BASE;
        else if (!strcmp(key, "field") && field_count < MAX_FIELDS) {
            struct field *f = &fields[field_count];
            if (sscanf(value, "%127s %*s %127s", f->name, f->attribute) == 2) field_count++;
        }
    }
    fclose(file);
    return 1;
}

static const struct field *field_by_name(const char *name) {
    for (int i = 0; i < field_count; i++)
        if (!strcasecmp(fields[i].name, name)) return &fields[i];
    return NULL;
}

static const struct field *field_by_attribute(const char *attribute, size_t length) {
    for (int i = 0; i < field_count; i++)
        if (strlen(fields[i].attribute) == length &&
            !strncasecmp(fields[i].attribute, attribute, length))
            return &fields[i];
    return NULL;
}

static void put_coded(FILE *out, const char *dn, size_t length) {
    static const char hex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)dn[i];
        if (isalnum(c) || c == '@' || c == '.') {
            putc_unlocked(c, out);
        } else {
            putc_unlocked('!', out);
            putc_unlocked(hex[c >> 4], out);
            putc_unlocked(hex[c & 15], out);
        }
    }
}

static void uncode(const char *coded, char *dn, size_t size) {
    size_t n = 0;
    for (const char *c = coded; *c && n + 1 < size; c++) {
        if (*c == '!' && c[1] && c[2]) {
            int high = isdigit((unsigned char)c[1]) ? c[1] - '0' : c[1] - 55;
            int low = isdigit((unsigned char)c[2]) ? c[2] - '0' : c[2] - 55;
            dn[n++] = (char)((high * 16 + low) & 0xFF);
            c += 2;
        } else {
            dn[n++] = *c;
        }
    }
    dn[n] = 0;
}

/* Entries arrive one by one and are listed as they come, page after page
 * when paged; only the DN is wanted, so no attribute is asked for. With
 * REFCLIENT_HOLD set in the environment the listing is held in memory and
 * written once the search has succeeded, as the service must (a search that
 * fails half-way lists nothing); otherwise it goes out as it comes. */
static void search(LDAP *ld, int is_and, int from, int to, char *conditions) {
    char filter[10250];
    int terms = 0;
    size_t length = (size_t)snprintf(filter, sizeof filter, "%s", is_and ? "(&" : "(|");
    for (char *item = strtok(conditions, ","); item; item = strtok(NULL, ",")) {
        char *equals = strchr(item, '=');
        if (!equals) continue;
        *equals = 0;
        const struct field *f = field_by_name(item);
        if (!f) {
            printf("-failure unknown field type?? {%s}\n", item);
            return;
        }
        length += (size_t)snprintf(filter + length, sizeof filter - length, "(%s=%s)",
                                   f->attribute, equals + 1);
        terms++;
    }
    const char *text = filter;
    if (terms > 1) strcat(filter, ")");
    else if (terms == 1) text = filter + 2;
    else text = "";

    char *no_attributes[] = {LDAP_NO_ATTRS, NULL};
    struct timeval limit = {30, 0};
    int msgid = 0, number = 0, listed = 0, code = -1;
    /* Paged, each page asks for the next with the cookie the last one
     * returned, until a page returns none. */
    struct berval *cookie = NULL;
    char *held = NULL;
    size_t held_length = 0;
    FILE *listing = getenv("REFCLIENT_HOLD") ? open_memstream(&held, &held_length) : stdout;
    if (!listing) {
        printf("-failure none located.\n");
        return;
    }
    do {
        LDAPControl *page = NULL, *request_controls[] = {NULL, NULL};
        if (page_size > 0 &&
            ldap_create_page_control(ld, page_size, cookie, 0, &page) == LDAP_SUCCESS)
            request_controls[0] = page;
        ber_bvfree(cookie);
        cookie = NULL;
        int sent = ldap_search_ext(ld, base_dn, scope, *text ? text : NULL, no_attributes, 0,
                                   page ? request_controls : NULL, NULL, &limit, 0, &msgid);
        ldap_control_free(page);
        code = sent == LDAP_SUCCESS ? -1 : sent;
        /* Each call hands over every message received so far, as one chain. */
        LDAPMessage *chain = NULL;
        while (code == -1 && ldap_result(ld, msgid, LDAP_MSG_RECEIVED, &limit, &chain) > 0) {
            for (LDAPMessage *message = ldap_first_message(ld, chain); message;
                 message = ldap_next_message(ld, message)) {
                if (ldap_msgtype(message) == LDAP_RES_SEARCH_ENTRY) {
                    BerElement *ber = NULL;
                    struct berval dn;
                    number++;
                    if (number >= from && (to < 1 || number <= to) &&
                        ldap_get_dn_ber(ld, message, &ber, &dn) == LDAP_SUCCESS) {
                        if (listed++) fputs(",\n", listing);
                        put_coded(listing, dn.bv_val, dn.bv_len);
                    }
                    if (ber) ber_free(ber, 0);
                } else if (ldap_msgtype(message) == LDAP_RES_SEARCH_RESULT) {
                    LDAPControl **controls = NULL;
                    ldap_parse_result(ld, message, &code, NULL, NULL, NULL, &controls, 0);
                    LDAPControl *response =
                        ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, NULL);
                    struct berval next = {0, NULL};
                    ber_int_t estimate;
                    if (response &&
                        ldap_parse_pageresponse_control(ld, response, &estimate, &next) ==
                            LDAP_SUCCESS &&
                        next.bv_len > 0)
                        cookie = ber_bvdup(&next);
                    ber_memfree(next.bv_val);
                    ldap_controls_free(controls);
                }
            }
            ldap_msgfree(chain);
            chain = NULL;
        }
    } while (code == LDAP_SUCCESS && cookie);
    ber_bvfree(cookie);
    if (listing != stdout) {
        fclose(listing);
        if (code == LDAP_SUCCESS) fwrite(held, 1, held_length, stdout);
        free(held);
    }
    if (code == LDAP_SUCCESS && number > 0) printf("\n+success %d located.\n", number);
    else printf("-failure none located.\n");
}

/* Asks for the attributes the fields name, as the service does: the
 * directory then does the same work for both, and an entry's other
 * attributes (a photo, a long member list) never cross the network. */
static void get(LDAP *ld, const char *coded) {
    char dn[2050];
    uncode(coded, dn, sizeof dn);
    char *wanted[MAX_FIELDS + 1];
    int count = 0;
    for (int i = 0; i < field_count; i++)
        if (strcasecmp(fields[i].attribute, "dn")) wanted[count++] = fields[i].attribute;
    wanted[count] = NULL;
    LDAPMessage *result = NULL;
    struct timeval limit = {30, 0};
    int code = ldap_search_ext_s(ld, dn, LDAP_SCOPE_BASE, "(objectClass=*)", wanted, 0, NULL, NULL,
                                 &limit, 0, &result);
    if (code != LDAP_SUCCESS) {
        printf("-failure '%s' Failed {%s}.\n", coded, ldap_err2string(code));
        ldap_msgfree(result);
        return;
    }
    int located = 0;
    for (LDAPMessage *entry = ldap_first_entry(ld, result); entry;
         entry = ldap_next_entry(ld, entry)) {
        BerElement *ber = NULL;
        struct berval name, *values = NULL;
        if (ldap_get_dn_ber(ld, entry, &ber, &name) != LDAP_SUCCESS) continue;
        located++;
        while (ldap_get_attribute_ber(ld, entry, ber, &name, &values) == LDAP_SUCCESS &&
               name.bv_val) {
            const struct field *f = field_by_attribute(name.bv_val, name.bv_len);
            for (int i = 0; f && values && values[i].bv_val; i++)
                printf("%s=%.*s\n", f->name, (int)values[i].bv_len, values[i].bv_val);
            ber_memfree(values);
            values = NULL;
        }
        ber_free(ber, 0);
    }
    ldap_msgfree(result);
    if (located) printf("+success '%s' located.\n", coded);
    else printf("-failure '%s' Failed.\n", coded);
}

/* The handle's own TLS context from the tls_* settings, made before it
 * connects; 0 when one of them is refused. */
static int set_tls(LDAP *ld) {
    int demand = strcasecmp(tls_verify, "never") ? LDAP_OPT_X_TLS_DEMAND : LDAP_OPT_X_TLS_NEVER;
    int floor = LDAP_OPT_X_TLS_PROTOCOL_TLS1_2, is_server = 0;
    const struct {
        int option;
        const char *value;
    } files[] = {{LDAP_OPT_X_TLS_CACERTFILE, tls_ca_file},
                 {LDAP_OPT_X_TLS_CACERTDIR, tls_ca_dir},
                 {LDAP_OPT_X_TLS_CERTFILE, tls_cert_file},
                 {LDAP_OPT_X_TLS_KEYFILE, tls_key_file}};
    for (size_t i = 0; i < sizeof files / sizeof files[0]; i++)
        if (*files[i].value && ldap_set_option(ld, files[i].option, files[i].value) != LDAP_OPT_SUCCESS)
            return 0;
    return ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand) == LDAP_OPT_SUCCESS &&
           ldap_set_option(ld, LDAP_OPT_X_TLS_PROTOCOL_MIN, &floor) == LDAP_OPT_SUCCESS &&
           ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &is_server) == LDAP_OPT_SUCCESS;
}

/* Connects (StartTLS first or LDAPS when tls says so) and binds; 1 when
 * bound. */
static int connect_and_bind(LDAP **ld) {
    int starttls = !strcasecmp(tls, "starttls"), ldaps = !strcasecmp(tls, "ldaps");
    char url[600];
    snprintf(url, sizeof url, "%s://%s:%s", ldaps ? "ldaps" : "ldap", host, port);
    int version = LDAP_VERSION3;
    struct berval secret = {strlen(password), password};
    return ldap_initialize(ld, url) == LDAP_SUCCESS &&
           ldap_set_option(*ld, LDAP_OPT_PROTOCOL_VERSION, &version) == LDAP_OPT_SUCCESS &&
           (!(starttls || ldaps) || set_tls(*ld)) &&
           (!starttls || ldap_start_tls_s(*ld, NULL, NULL) == LDAP_SUCCESS) &&
           ldap_sasl_bind_s(*ld, bind_dn, LDAP_SASL_SIMPLE, &secret, NULL, NULL, NULL) ==
               LDAP_SUCCESS;
}

int main(int argc, char **argv) {
    if (!load_config(argc > 1 ? argv[1] : "extern_book.ini")) {
        printf("-failure Cannot open file %.100s\n", argc > 1 ? argv[1] : "extern_book.ini");
        return 0;
    }
    LDAP *ld = NULL;
    if (!connect_and_bind(&ld)) {
        printf("-failure Failed to connect to host {%s:%s}\n", host, port);
        return 1;
    }
    /* liblber reads each message's header and body with reads of their own;
     * a read-ahead layer under it takes what the socket holds at once. Over
     * TLS the library below reads each record's header and body the same
     * way: a second read-ahead layer goes under it, on the socket. */
    Sockbuf *sockbuf = NULL;
    if (ldap_get_option(ld, LDAP_OPT_SOCKBUF, &sockbuf) == LDAP_OPT_SUCCESS && sockbuf) {
        ber_sockbuf_add_io(sockbuf, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_TRANSPORT, NULL);
        if (strcasecmp(tls, "off"))
            ber_sockbuf_add_io(sockbuf, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_PROVIDER, NULL);
    }
    printf("+success LDAP External Address Book\n");
    fflush(stdout);

    char line[1024];
    while (fgets(line, sizeof line, stdin)) {
        strip(line);
        char *argument = strchr(line, ' ');
        if (argument) *argument++ = 0;
        if (!strcasecmp(line, "EXIT") || !strcasecmp(line, "QUIT") || !strcasecmp(line, "BYE")) {
            printf("+success bye.\n");
            fflush(stdout);
            break;
        }
        char *range = argument ? strchr(argument, ' ') : NULL;
        char *dash = range ? strchr(range, '-') : NULL;
        char *conditions = dash ? strchr(dash, ' ') : NULL;
        if (!strcasecmp(line, "SEARCH") && conditions) {
            *range++ = 0;
            int from = atoi(range), to = atoi(dash + 1);
            if (to == 0) to = -1;
            if (from == 0) from = 1;
            search(ld, !strcasecmp(argument, "AND"), from, to, conditions + 1);
        } else if (!strcasecmp(line, "GET") && argument) {
            argument[strcspn(argument, " ")] = 0;
            get(ld, argument);
        } else {
            printf("-failure not a valid command.\n");
        }
        fflush(stdout);
    }
    ldap_unbind_ext_s(ld, NULL, NULL);
    return 1;
}
