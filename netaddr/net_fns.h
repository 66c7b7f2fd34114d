// net_fns: mail-style address texts taken apart, host names and IPv4
// addresses converted both ways, and DNS SRV look-ups.
//
// An address is a user and a host joined by '@', optionally followed by
// ':' and a port, possibly inside angle brackets, after a display name in
// double quotes or before a comment; a list holds several of them separated
// by ',' or ';'. Text between two ESC bytes (0x1B) is an escape sequence and
// never counts as a separator.
//
// Every function accepts a null text. Results live in the function's own
// buffer (512 bytes; 1024 for the joined forms; 200 for tcp_hostname) and
// stay valid until that function is called again (which may be given one as
// input): copy what you keep.
// Results are cut to fit: 493 characters for the cleaned forms, 511 for the
// parts, 1023 for the joined forms. A function that runs out of memory
// answers as when it finds nothing (null, 0, or a refused list).
#ifndef NETADDR_NET_FNS_H
#define NETADDR_NET_FNS_H

// ---------------------------------------------------------------------------
// Address parsing (address_parse.cpp)

// The ',' or ';' after the first address of list (a ';' is overwritten with
// ','), skipping separators inside quotes and escape sequences; null when
// list holds a single address.
char *net_addr_seperator(char *list);
// The address without quoted runs and escape sequences or, when it has
// angle brackets, the text between the first '>' and the '<' before it.
char *net_remove_qoute(const char *address);
// The user and host parts; null when there is no '@' or the part is empty.
// Of two '@' the second separates user and host.
char *net_user_only(const char *address);
char *net_host_only(const char *address);
// The port after ':' following the host; 0 when none is given.
int net_port_only(const char *address);
// "user@host", and "user@host:port" when a port is given; null when the
// user or the host is missing.
char *net_addr_only(const char *address);
char *net_addr_port(const char *address);
// The display name or comment beside the address; null when there is none.
char *net_extra_only(const char *address);
// Earlier form of net_extra_only: no escape sequences, no nested brackets,
// and the whole address when it finds no display name.
char *net_extra_only_old(const char *address);

// ---------------------------------------------------------------------------
// Host look-up and conversion (host_lookup.cpp)

// The host name of a dotted IPv4 address; the text itself when it is not one
// or has no name. Empty for null.
char *convert_ip_to_name(const char *text);
// The first IPv4 address of a host name, dotted; the name itself when it
// holds no letter or is not found. Empty for null.
char *convert_name_to_ip(const char *name);
// "user@host" with the host converted by the two functions above; empty when
// the address lacks a user or a host.
char *convert_to_name(const char *address);
char *convert_to_ip(const char *address);
// "name:a.b.c.d" of the local host (the bare name when it does not resolve,
// "NONAME" when the name is unknown); the first good answer is kept for the
// life of the process. oldhost_details gives the canonical name instead.
char *host_details();
char *oldhost_details();
// The local host name.
char *tcp_hostname();
// 1 when a and b name the same mailbox: users equal ignoring case, hosts
// equal ignoring case or, when resolve is non-zero, resolving to the same
// address. Otherwise 0.
int compare_email_addresses(const char *a, const char *b, int resolve);

// ---------------------------------------------------------------------------
// DNS SRV look-up (srv_lookup.cpp)
//
// Unlike the functions above, these fill a list record of the caller's: a
// zeroed record, or one of an earlier call (emptied first). A null list is
// ignored (result 0). The list owns its texts until srv_clear.

struct srv_target {
    char *host;  // target name, without final dot (escaped as the resolver prints it)
    int port;
    int priority;
    int weight;
};

struct srv_list {
    srv_target *targets;  // count entries
    int count;
    char *error;  // text of the last failure, or null
};

// Queries the SRV records of "SERVICE.DOMAIN" (service such as "_ldap._tcp")
// with the system resolver and fills list in the order to try them (see
// srv_order). Returns 1, or 0 with list empty and error set: "no SRV records
// for NAME" when the name or its records do not exist, and texts naming
// NAME for a failed look-up, a malformed answer or a service marked not
// available (a single target "."). Null or empty texts fail. A positive
// timeout bounds the whole look-up to that many seconds, shared among the
// name servers, each asked once (0 keeps the resolver's own settings, with
// no bound).
int srv_lookup(srv_list *list, const char *service, const char *domain, int timeout);
// Reads the SRV records of a whole DNS answer message of length octets (name
// is the queried name, for the failure texts; null reads as empty), in
// answer order. Records of other types are skipped and targets "." dropped.
// Any record that cannot be read refuses the answer; the number of records
// is bounded by the answer's length alone. Returns 1, or 0 as srv_lookup
// does (null answer: malformed).
int srv_parse(srv_list *list, const unsigned char *answer, int length, const char *name);
// Orders the targets as RFC 2782 says: lowest priority first; within one
// priority, each next target drawn with chances by weight (weight 0 only
// when the draw is 0). pick(upper) draws from 0 to upper, both included;
// null uses a seeded pseudo-random generator.
void srv_order(srv_list *list, long (*pick)(long upper));
// Frees what list holds and zeroes it; null is ignored.
void srv_clear(srv_list *list);

#endif
