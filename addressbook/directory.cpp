// Start-up and the one connection to the directory: connect and bind to
// "host", falling back to "host2"; reconnect once when a search finds the
// connection lost.
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "channel/chanel.h"
#include "support/nlib.h"

ldap_handle ldap;

static const int TIME_LIMIT = 30;  // seconds a search may take, by default

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
    int bound = ldap_connect(&ldap, ini[INI_MANAGER_DN], ini[INI_MANAGER_PASS]) == 0;
    if (!bound && ini[INI_HOST2][0]) {
        dmsg("cannot use %s (%s), trying %s", ini[INI_HOST], book_error(), ini[INI_HOST2]);
        ldap_setup(&ldap, ini[INI_HOST2], port);
        bound = ldap_connect(&ldap, ini[INI_MANAGER_DN], ini[INI_MANAGER_PASS]) == 0;
    }
    if (bound)
        book_read_schema();
    return bound;
}

// A connection that cannot be trusted any more is dropped without waiting
// for the server, so that the next command connects afresh.
static void book_drop_connection()
{
    ldap_timeout(&ldap, 0, 0);
    ldap_disconnect(&ldap);
}

int book_start(FILE *out)
{
    check_winstock();
    // The settings never change after loading: without debugging the client
    // gets no debug sink, and skips formatting messages nobody writes.
    bool debugging = strcmp(ini[INI_DEBUG], "true") == 0;
    ldap_init(&ldap, emsg, debugging ? dmsg : nullptr);
    ldap_set_timeouts(&ldap, book_setting(INI_CONNECT_TIMEOUT, 0), book_setting(INI_TIMEOUT, 0));
    if (!book_connect()) {
        std::string line = std::string("-failure Failed to connect to host {") + ini[INI_HOST] +
                           ":" + ini[INI_PORT] + "}(" + book_error() + ")";
        s_write_line(out, "", line.c_str());
        fflush(out);
        return 0;
    }
    fputs("+success LDAP External Address Book\n", out);
    fflush(out);
    return 1;
}

void book_begin_command()
{
    long long seconds = book_setting(INI_TIME_LIMIT, TIME_LIMIT) + book_setting(INI_TIMEOUT, 30) +
                        book_setting(INI_CONNECT_TIMEOUT, 20);
    ldap_set_limit(&ldap, seconds * 1000);
}

void book_end_command()
{
    ldap_set_limit(&ldap, 0);
}

int book_search(const char *base, int scope, const char *filter, const char *attributes,
                int page_size, ldap_entry_fn on_entry, void *context)
{
    int time_limit = book_setting(INI_TIME_LIMIT, TIME_LIMIT);
    int result = ldap_search_paged(&ldap, base, scope, 0, 0, time_limit, 0, filter, attributes,
                                   page_size, on_entry, context);
    // A server that is slow or silent is not asked again: that would only
    // double the wait. The connection is dropped (a paged search that kept
    // what came may have left a page half-read); the next command makes a
    // new one.
    if (ldap_timed_out(&ldap)) {
        dmsg("the directory did not answer in time (%s)", book_error());
        book_drop_connection();
        return result;
    }
    if (result != -1)
        return result;
    // The connection is gone or can no longer be trusted. One fresh
    // connection, one more try, within what is left of the command's time.
    dmsg("directory connection lost (%s), reconnecting", book_error());
    if (!book_connect()) {
        dmsg("reconnecting failed (%s)", book_error());
        // A refused bind leaves an unbound channel. A server that answered
        // the bind with something else may well not answer the unbind
        // either: its answer is not waited for.
        book_drop_connection();
        return -1;
    }
    dmsg("reconnected to %s:%d", ldap.host, ldap.port);
    on_entry(context, nullptr);
    result = ldap_search_paged(&ldap, base, scope, 0, 0, time_limit, 0, filter, attributes,
                               page_size, on_entry, context);
    if (result == -1 && ldap_timed_out(&ldap))
        book_drop_connection();
    return result;
}
