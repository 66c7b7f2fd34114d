// Start-up and the one connection to the directory: connect and bind to the
// first server of "host" that takes the bind, falling back to those of
// "host2"; reconnect once when a search finds the connection lost.
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "channel/chanel.h"
#include "netaddr/net_fns.h"
#include "support/nlib.h"

ldap_handle ldap;

const int TIME_LIMIT = 30;  // seconds a search may take, by default

const char *book_error()
{
    const char *text = ldap_error_str(&ldap);
    return text ? text : "(NULL)";
}

namespace {

// How a connection to a server entry of this kind is secured: an ldaps://
// entry always with TLS from the start, an ldap:// one never in clear when
// "tls" asks for TLS, any other as "tls" says.
int tls_mode_of(int kind)
{
    int tls = book_tls_mode();
    if (kind == BOOK_SERVER_LDAPS)
        return LDAP_TLS_LDAPS;
    if (kind == BOOK_SERVER_LDAP)
        return tls == LDAP_TLS_OFF ? LDAP_TLS_OFF : LDAP_TLS_STARTTLS;
    return tls;
}

// Connects and binds to one server; the result of ldap_connect.
int try_server(const char *host, int port, int tls_mode)
{
    ldap_setup(&ldap, host, port);
    ldap_set_tls(&ldap, book_tls_context(), tls_mode);
    return ldap_connect(&ldap, ini[INI_MANAGER_DN], ini[INI_MANAGER_PASS]);
}

// Tries the targets of a domain's SRV records in their order until one
// binds or refuses the credentials; the last result, -1 when none.
int try_srv(const char *domain)
{
    int tls = book_tls_mode();
    srv_list targets = {};
    // The look-up, like the connections it leads to, within the command's time.
    int seconds = ldap_seconds_left(&ldap, book_setting(INI_CONNECT_TIMEOUT, 20));
    if (!seconds || !srv_lookup(&targets, tls == LDAP_TLS_LDAPS ? "_ldaps._tcp" : "_ldap._tcp",
                                domain, seconds)) {
        ldap_log(&ldap, seconds ? targets.error : "No time left to look up SRV records", nullptr);
        srv_clear(&targets);
        return -1;
    }
    int result = -1;
    for (int i = 0; i < targets.count && result != 0 && result != 49; i++) {
        if (i > 0)
            dmsg("cannot use %s:%d (%s), trying %s:%d", ldap.host, ldap.port, book_error(),
                 targets.targets[i].host, targets.targets[i].port);
        result = try_server(targets.targets[i].host, targets.targets[i].port, tls);
    }
    srv_clear(&targets);
    return result;
}

// Tries the servers of a "host" or "host2" value in order until one binds;
// the last result. A bind refused for bad credentials (49) ends the list:
// the next server would only lock the account sooner.
int try_servers(const char *value)
{
    book_server_list servers = {};
    book_servers_parse(&servers, value, book_number(ini[INI_PORT]));
    int result = -1;
    for (int i = 0; i < servers.count && result != 0 && result != 49; i++) {
        const book_server &server = servers.servers[i];
        if (i > 0)
            dmsg("cannot use %s (%s), trying %s", servers.servers[i - 1].host, book_error(),
                 server.host);
        result = server.kind == BOOK_SERVER_SRV
                     ? try_srv(server.host)
                     : try_server(server.host, server.port, tls_mode_of(server.kind));
    }
    book_servers_clear(&servers);
    return result;
}

// Connects and binds to the servers of "host", then to those of "host2"
// when that is set and none of the first took the bind. Returns 1 when bound.
int book_connect()
{
    int bound = try_servers(ini[INI_HOST]) == 0;
    // A "host2" of separators alone names no server: it is not one empty
    // host to try, which would only replace the failure of "host".
    const char *host2 = ini[INI_HOST2];
    if (!bound && host2[strspn(host2, BOOK_SERVER_SEPARATORS)]) {
        dmsg("cannot use %s (%s), trying %s", ini[INI_HOST], book_error(), ini[INI_HOST2]);
        bound = try_servers(ini[INI_HOST2]) == 0;
    }
    if (bound)
        book_read_schema(&ldap);
    return bound;
}

// "HOST:PORT" of the first server of "host", as the start-up failure names
// it: the host as written (an IPv6 address in brackets), and the port the
// entry names or else the "port" setting as written.
std::string first_server()
{
    book_server_list servers = {};
    book_servers_parse(&servers, ini[INI_HOST], book_number(ini[INI_PORT]));
    std::string text = ini[INI_HOST];
    if (servers.count > 0) {
        const book_server &first = servers.servers[0];
        text = first.kind == BOOK_SERVER_SRV ? std::string("srv:") + first.host : first.host;
        if (first.kind != BOOK_SERVER_SRV && strchr(first.host, ':'))
            text = "[" + text + "]";
        bool own_port = first.port_written || first.kind == BOOK_SERVER_LDAPS;
        text += ":" + (own_port ? std::to_string(first.port) : std::string(ini[INI_PORT]));
    }
    book_servers_clear(&servers);
    return text;
}

// A connection that cannot be trusted any more is dropped without waiting
// for the server, so that the next command connects afresh.
void book_drop_connection()
{
    ldap_timeout(&ldap, 0, 0);
    ldap_disconnect(&ldap);
    book_forget_schema();
}

}  // namespace

int book_start(FILE *out)
{
    check_winstock();
    // The settings never change after loading: without debugging the client
    // gets no debug sink, and skips formatting messages nobody writes.
    bool debugging = strcmp(ini[INI_DEBUG], "true") == 0;
    ldap_init(&ldap, emsg, debugging ? dmsg : nullptr);
    ldap_set_timeouts(&ldap, book_setting(INI_CONNECT_TIMEOUT, 0), book_setting(INI_TIMEOUT, 0));
    if (!book_connect()) {
        oom_guard(
            [&] {
                std::string line = "-failure Failed to connect to host {" + first_server() + "}(" +
                                   book_error() + ")";
                s_write_line(out, "", line.c_str());
            },
            [&] {
                char line[INI_SIZE * 2 + 64];  // both settings fit
                lprintf(line, sizeof line,
                        "-failure Failed to connect to host {%s:%s}(Out of Memory)", ini[INI_HOST],
                        ini[INI_PORT]);
                s_write_line(out, "", line);
            });
        fflush(out);
        return 0;
    }
    fputs("+success LDAP External Address Book\n", out);
    fflush(out);
    return 1;
}

namespace {

bool unreachable;  // this command found no server to bind to

}  // namespace

int book_unreachable() { return unreachable; }

void book_begin_command()
{
    unreachable = false;
    long long seconds = book_setting(INI_TIME_LIMIT, TIME_LIMIT) + book_setting(INI_TIMEOUT, 30) +
                        book_setting(INI_CONNECT_TIMEOUT, 20);
    ldap_set_limit(&ldap, seconds * 1000);
}

void book_end_command() { ldap_set_limit(&ldap, 0); }

namespace {

// Connects and binds afresh. Returns 1 when bound; else 0, the connection
// dropped and book_error() naming why.
int reconnect()
{
    if (!book_connect()) {
        dmsg("reconnecting failed (%s)", book_error());
        unreachable = true;
        // A refused bind leaves an unbound channel. A server that answered
        // the bind with something else may well not answer the unbind
        // either: its answer is not waited for.
        book_drop_connection();
        return 0;
    }
    dmsg("reconnected to %s:%d", ldap.host, ldap.port);
    return 1;
}

// One search (search(false)), and the one retry of book_search on a fresh
// connection (search(true)).
template <typename Search>
int search_with_retry(Search search)
{
    // A connection an earlier command dropped is made before the first try:
    // that is no loss, and leaves this command its one retry.
    if (!ldap.chan && !reconnect())
        return -1;
    int result = search(false);
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
    if (!reconnect())
        return -1;
    result = search(true);
    // Lost or untrusted again (junk leaves its closed channel behind): the
    // next command connects afresh and keeps its own retry.
    if (result == -1)
        book_drop_connection();
    return result;
}

}  // namespace

int book_search(const char *base, int scope, const char *filter, const char *attributes,
                int page_size, ldap_view_fn on_view, void *context)
{
    int time_limit = book_setting(INI_TIME_LIMIT, TIME_LIMIT);
    return search_with_retry([&](bool again) {
        if (again)
            on_view(context, nullptr);
        return ldap_search_views(&ldap, base, scope, 0, 0, time_limit, filter, attributes,
                                 page_size, on_view, context);
    });
}

int book_search_dns(const char *base, int scope, const char *filter, int page_size,
                    ldap_dn_fn on_dn, void *context)
{
    int time_limit = book_setting(INI_TIME_LIMIT, TIME_LIMIT);
    return search_with_retry([&](bool again) {
        if (again)
            on_dn(context, nullptr, -1);
        return ldap_search_dns(&ldap, base, scope, 0, 0, time_limit, filter, page_size, on_dn,
                               context);
    });
}
