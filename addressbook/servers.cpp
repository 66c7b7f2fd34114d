// Server lists: the "host" and "host2" settings read as one or more
// servers, each a host with an optional port, an LDAP URL or an SRV domain.
//
// Decisions:
// - Entries are separated by blanks, tabs or commas; a value without any
//   entry stands for one server with an empty host, which fails to connect
//   just as an empty setting always has.
// - A bare entry without ':' keeps its text as written and the default
//   port, so a single name or address behaves exactly as before.
// - A bare entry with more than one ':' and no brackets is an IPv6 address
//   without a port ("::1"); a port after an IPv6 address needs brackets
//   ("[::1]:389").
// - "srv:" always starts an SRV entry: a host called "srv" with a port is
//   written "ldap://srv:PORT".
// - An LDAP URL may go on after its host and port with '/' and a DN,
//   attributes and so on; that part is ignored. ldap:// without a port takes
//   the default port, ldaps:// takes 636.
// - Schemes and "srv:" are matched ignoring case; any other scheme is refused.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

namespace {

const char SEPARATORS[] = BOOK_SERVER_SEPARATORS;

// A port of 1 to 65535 written in decimal digits only.
bool read_port(const std::string &text, int *port)
{
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *port = atoi(text.c_str());
    return *port >= 1 && *port <= 65535;
}

// Splits HOST, HOST:PORT, [IPV6], [IPV6]:PORT or a bare IPv6 address into
// host and port (left as it is when none is given); false when the text
// cannot be read or the host is empty.
bool read_hostport(const std::string &text, std::string *host, int *port)
{
    size_t colon = text.find(':');
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos)
            return false;
        *host = text.substr(1, close - 1);
        std::string rest = text.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || !read_port(rest.substr(1), port)))
            return false;
    } else if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        *host = text;
    } else {
        *host = text.substr(0, colon);
        if (!read_port(text.substr(colon + 1), port))
            return false;
    }
    return !host->empty();
}

// True when text begins with prefix, ignoring case; *rest is what follows.
bool starts_with(const std::string &text, const char *prefix, std::string *rest)
{
    size_t length = strlen(prefix);
    if (s_strnicmp(text.c_str(), prefix, int(length)) != 0)
        return false;
    *rest = text.substr(length);
    return true;
}

// Reads one entry into *server (its host newly allocated); false, with the
// reason in *why, when it cannot be read.
bool read_entry(const std::string &entry, int default_port, book_server *server, std::string *why)
{
    std::string rest, host;
    server->port = 0;  // stays so when the entry names no port
    if (starts_with(entry, "srv:", &rest)) {
        server->kind = BOOK_SERVER_SRV;
        server->port = 0;
        host = rest;
        if (host.empty() || host.find_first_of(":/[]") != std::string::npos) {
            *why = "bad SRV domain";
            return false;
        }
    } else if (entry.find("://") != std::string::npos) {
        if (starts_with(entry, "ldap://", &rest))
            server->kind = BOOK_SERVER_LDAP;
        else if (starts_with(entry, "ldaps://", &rest))
            server->kind = BOOK_SERVER_LDAPS;
        else {
            *why = "unknown scheme";
            return false;
        }
        if (!read_hostport(rest.substr(0, rest.find('/')), &host, &server->port)) {
            *why = "bad host or port";
            return false;
        }
    } else {
        server->kind = BOOK_SERVER_PLAIN;
        if (!read_hostport(entry, &host, &server->port)) {
            *why = "bad host or port";
            return false;
        }
    }
    server->port_written = server->port != 0;
    if (!server->port_written && server->kind != BOOK_SERVER_SRV)
        server->port = server->kind == BOOK_SERVER_LDAPS ? BOOK_LDAPS_PORT : default_port;
    server->host = strdup(host.c_str());
    if (!server->host)
        throw std::bad_alloc();  // as the texts above would: the guard answers
    return true;
}

// Empties list and keeps text as its failure; returns 0.
int refuse(book_server_list *list, const char *text)
{
    book_servers_clear(list);
    list->error = strdup(text);
    return 0;
}

// refuse for memory run out; returns -1.
int out_of_memory(book_server_list *list) { return refuse(list, "out of memory") - 1; }

// book_servers_parse of an emptied list, without its guard.
int parse_servers(book_server_list *list, const char *value, int default_port)
{
    std::string text = value ? value : "";
    std::vector<std::string> entries;
    for (size_t start = text.find_first_not_of(SEPARATORS); start != std::string::npos;) {
        size_t end = text.find_first_of(SEPARATORS, start);
        entries.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(SEPARATORS, end);
    }
    list->servers = static_cast<book_server *>(calloc(entries.size() + 1, sizeof(book_server)));
    if (!list->servers)
        return out_of_memory(list);
    if (entries.empty()) {
        // As an empty setting always was: one server that cannot be reached.
        list->servers[0] = book_server{BOOK_SERVER_PLAIN, strdup(""), default_port, 0};
        list->count = 1;
        return list->servers[0].host ? 1 : out_of_memory(list);
    }
    for (const std::string &entry : entries) {
        std::string why;
        if (!read_entry(entry, default_port, &list->servers[list->count], &why))
            return refuse(list, (why + " in server entry \"" + entry + "\"").c_str());
        list->count++;
    }
    return 1;
}

}  // namespace

int book_servers_parse(book_server_list *list, const char *value, int default_port)
{
    if (!list)
        return 0;
    book_servers_clear(list);
    return oom_guard([&] { return parse_servers(list, value, default_port); },
                     [&] { return out_of_memory(list); });
}

void book_servers_clear(book_server_list *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->count; i++)
        free(list->servers[i].host);
    free(list->servers);
    free(list->error);
    *list = book_server_list{};
}
