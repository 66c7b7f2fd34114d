// Start-up and the one connection to the directory: connect and bind to
// "host", falling back to "host2"; reconnect once when a search finds the
// connection lost.
#include <cstring>

#include "addressbook/extern_book.h"
#include "channel/chanel.h"
#include "support/nlib.h"

ldap_handle ldap;

const char *book_error()
{
    const char *text = ldap_error_str(&ldap);
    return text ? text : "(NULL)";
}

// Connects and binds to "host", then to "host2" when that is set and the
// first attempt failed. Returns 1 when bound.
static int book_connect()
{
    int port = book_number(ini[INI_PORT]);
    ldap_setup(&ldap, ini[INI_HOST], port);
    if (ldap_connect(&ldap, ini[INI_MANAGER_DN], ini[INI_MANAGER_PASS]) == 0)
        return 1;
    if (!ini[INI_HOST2][0])
        return 0;
    dmsg("cannot use %s (%s), trying %s", ini[INI_HOST], book_error(), ini[INI_HOST2]);
    ldap_setup(&ldap, ini[INI_HOST2], port);
    return ldap_connect(&ldap, ini[INI_MANAGER_DN], ini[INI_MANAGER_PASS]) == 0;
}

int book_start(FILE *out)
{
    check_winstock();
    // The settings never change after loading: without debugging the client
    // gets no debug sink, and skips formatting messages nobody writes.
    bool debugging = strcmp(ini[INI_DEBUG], "true") == 0;
    ldap_init(&ldap, emsg, debugging ? dmsg : nullptr);
    if (!book_connect()) {
        fprintf(out, "-failure Failed to connect to host {%s:%s}(%s)\n", ini[INI_HOST],
                ini[INI_PORT], book_error());
        fflush(out);
        return 0;
    }
    fputs("+success LDAP External Address Book\n", out);
    fflush(out);
    return 1;
}

int book_search(const char *base, int scope, const char *filter, const char *attributes,
                ldap_entry_fn on_entry, void *context)
{
    int result = ldap_search_each(&ldap, base, scope, 0, 0, 30, 0, filter, attributes, on_entry,
                                  context);
    if (result != -1)
        return result;
    // The client failed on its side: the connection is gone or can no longer
    // be trusted. One fresh connection, one more try.
    dmsg("directory connection lost (%s), reconnecting", book_error());
    if (!book_connect()) {
        dmsg("reconnecting failed (%s)", book_error());
        // A refused bind leaves an unbound channel. A server that answered
        // the bind with something else may well not answer the unbind
        // either: its answer is not waited for.
        ldap_timeout(&ldap, 0, 0);
        ldap_disconnect(&ldap);
        return -1;
    }
    dmsg("reconnected to %s:%d", ldap.host, ldap.port);
    on_entry(context, nullptr);
    return ldap_search_each(&ldap, base, scope, 0, 0, 30, 0, filter, attributes, on_entry,
                            context);
}
