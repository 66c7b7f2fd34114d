// The LDAP version 3 client: BER encoder and decoder, filter compiler,
// decoded element lists, protocol trace, the connection handle, message
// exchange, the operations, server-side responses and DN utilities.
//
// Operations return the server's result code (0 success), -1 for a failure
// on the client's side and 10 when referrals were gathered, and record the
// outcome on the handle (ldap_error, ldap_error_str).
#ifndef LDAP_LDAP_H
#define LDAP_LDAP_H

#include <cstdint>
#include <cstdio>

#include "channel/chanel.h"
#include "support/nlib.h"
#include "support/static.h"

struct ldap_handle;

// ---------------------------------------------------------------------------
// BER encoder (ber_encode.cpp)

// Lengths are always definite: one octet up to 127, 0x82 and two octets up
// to 31999, then 0x83/0x84 and three or four octets. A buffer whose storage
// cannot grow is marked failed (length -1, data null): later writes to it
// are ignored, wrapping or copying it fails the destination too, and
// data_clear makes it usable again. Check length < 0 before sending. Its
// storage is sized by its length alone: only the encoder changes either.
struct data_buf {
    int indefinite;       // set by data_start; read by data_end
    int length;           // octets of encoding held; -1 once failed
    unsigned char *data;  // the encoding, with one spare octet after it
};

// Every function below ignores a null buffer. The buffer owns its octets.

// An empty buffer (it owns nothing yet); data_clear frees the octets and
// makes it empty again, a failed one included.
void data_init(data_buf *buf);
void data_clear(data_buf *buf);
// An element by hand: data_start appends the identifier octet and the
// length, data_add the count octets of content (nothing for null octets or
// a count below 1), data_end the spare zero octet after them.
void data_start(data_buf *buf, int id, int length);
void data_add(data_buf *buf, const void *octets, int count);
void data_end(data_buf *buf);
// Appends the octets of src as the content of one element with identifier
// id; a failed src fails dst.
void data_data(data_buf *dst, const data_buf *src, int id);
// Appends inner to dst as the content of an element with identifier id,
// then clears inner: the usual way to close a constructed element.
void data_wrap(data_buf *dst, data_buf *inner, int id);
// Appends the octets of src as they are; a failed src fails dst.
void data_add_data(data_buf *dst, const data_buf *src);
// The whole buffer becomes the content of one element with identifier id.
void data_add_upper(data_buf *buf, int id);
// The same for a protocolOp: identifier tag | 0x40 (APPLICATION; the
// caller's 0x20 says constructed). An empty buffer becomes an empty
// primitive element, 0x20 cleared.
void data_upper_app(data_buf *buf, int tag);
// Whole elements: an INTEGER of value read as unsigned, in the fewest
// octets (a zero first when the top bit is set); a BOOLEAN, 0xFF or 0x00;
// an ENUMERATED of value, written as the INTEGER; an OCTET STRING of text
// (empty for null; an LDAPDN is one too) or of count octets (empty for null
// octets or a negative count); an IA5String of text.
void data_add_integer(data_buf *buf, uint32_t value);
void data_add_bool(data_buf *buf, int flag);
void data_add_enum(data_buf *buf, int value);
void data_add_string(data_buf *buf, const char *text);
void data_add_ldapdn(data_buf *buf, const char *text);
void data_add_binary(data_buf *buf, const void *octets, int count);
void data_add_IA5string(data_buf *buf, const char *text);

// ---------------------------------------------------------------------------
// Filter and attribute-list encoding (filter.cpp, filter_check.cpp)

// And/or/not nesting the filter compiler takes at most.
#define LDAP_FILTER_MAX_DEPTH 48

// Compiles a textual filter (the text is not changed) and appends it to
// out; a null text with use_default non-zero compiles "(objectClass)".
// Returns the number of top-level items. Values may carry backslash-hex-hex
// escapes; and/or/not nested more than LDAP_FILTER_MAX_DEPTH deep, and a
// '!' with other than one filter, are refused (nothing appended, 0
// returned). The compiler is lenient: it makes what it can of any text.
// Null out or text: 0. When memory runs out, out is failed and 0 returned.
int data_cvt_search(data_buf *out, const char *text, int use_default);
// Checks that text is one whole filter written as RFC 4515 writes it, which
// data_cvt_search compiles to exactly what it says: nothing before or after
// it, no blank outside a value, an attribute description (a name or numeric
// OID, options after ';') before every operator, '*' only in values of '='
// and no value of stars only but "*", no unescaped parenthesis, every
// backslash followed by two hexadecimal digits, no value ending in a blank
// or tab (the compiler drops those), '&' and '|' with at least one filter,
// '!' with exactly one, an extensible match with a type or a matching rule.
// Returns the depth of its and/or/not nesting (0 for a single item), or -1
// when it is no such filter, is nested more than LDAP_FILTER_MAX_DEPTH
// deep, or is null.
int ldap_filter_check(const char *text);
// Appends one OCTET STRING per comma-separated name (blanks before a name
// skipped); returns their number, 0 for a null text. When memory runs out,
// out is failed and 0 returned.
int data_cvt_attrib(data_buf *out, const char *text);

// ---------------------------------------------------------------------------
// Decoded element list (lresult.cpp)

struct lresult_node {
    int type;            // universal type, 16 for constructed, or the identifier octet
    void *value;         // int cell, text (zero after it), or nested lresult
    int size;            // content length on the wire
    signed char choice;  // low four identifier bits, -1 for universal primitives
    // 1 when node and value are one allocation: a primitive's value right
    // after its node, or a constructed element's node right after its nested
    // list. Set by the decoder; read when the node is released.
    unsigned char shared;
};

struct lresult {
    int application;    // APPLICATION tag number; -1 for a failed decode
    int id;             // message ID
    char *error;        // owned error text, or null
    static_list items;  // owned lresult_node pointers in wire order
    int attr_cursor;    // attribute walk position
    char **values;      // owned vector of value texts, built on demand
};

// What a decoding that found junk answers instead of a list.
#define LRESULT_INVALID (reinterpret_cast<lresult *>(static_cast<intptr_t>(-1)))

// Every function below takes a null list or LRESULT_INVALID as an empty
// one (0, -1 for a choice, or null). Positions count from 0 in wire order;
// one out of range finds nothing. What a getter hands back stays the
// list's and lasts as long as its element.

// An empty list (it owns nothing yet); lresult_clear releases every element
// (nested lists too), the error text and the value vectors, leaving the
// record (the caller's) empty; lresult_remove releases one element.
void lresult_init(lresult *list);
void lresult_clear(lresult *list);
// Clears and frees a list allocated by the decoder, such as a received
// message or a list taken out with lresult_get_result (null and
// LRESULT_INVALID ignored).
void ldap_free_message(lresult *message);
void lresult_remove(lresult *list, int position);
// The APPLICATION tag number, the message ID, the number of elements.
int lresult_application(const lresult *list);
int lresult_id(const lresult *list);
int lresult_size(lresult *list);
// The kind of element at position: 1 integer (BOOLEAN, INTEGER,
// ENUMERATED), 2 text (BIT, OCTET, PrintableString, IA5String), 3 nested
// list (constructed), 4 tagged primitive (read as text), 0 none or other.
int lresult_check(lresult *list, int position);
// The element's node.
lresult_node *lresult_get(lresult *list, int position);
// The low four identifier bits, -1 for a universal primitive; and the value
// of any other element (a nested list for a constructed one), its length in
// *size (size may be null); null and 0 for a universal primitive.
int lresult_get_choice(lresult *list, int position);
void *lresult_get_choice_data(lresult *list, int position, int *size);
// The nested list of a constructed element; null for another kind. With
// remove 0 it stays the list's. With remove 1 the element is taken out and
// the nested list is the caller's: lresult_clear and free it (or
// ldap_free_message).
lresult *lresult_get_result(lresult *list, int position, int remove);
// An integer element's value; 0 for another kind.
int lresult_get_int(lresult *list, int position);
// A text or tagged element's octets, two zeros after them (the octets may
// hold zeros too); null for another kind or empty content.
char *lresult_get_char(lresult *list, int position);
// The content length; one more for text and tagged elements (a terminator).
int lresult_get_size(lresult *list, int position);

// ---------------------------------------------------------------------------
// BER decoder (ber_decode.cpp). Input nested more than 64 constructed levels
// deep is junk ("Nesting Too Deep"); nothing beyond count octets is read.

struct data_element {
    uint32_t tag;                  // identifier octet; 0 when fewer than two octets
    int length;                    // content length; -2 when incomplete
    const unsigned char *content;  // first content octet; null when incomplete
    int header;                    // identifier and length octets
};

// The header of the element at octets (count of them readable): its tag,
// content length and first content octet. An open-ended length (0x80)
// reads as empty content. Length -2 and content null when the header or
// the content would run past count (or octets is null). Nothing allocated.
data_element data_break_down(const unsigned char *octets, int count);
data_element data_break_down_length(const unsigned char *octets, int count);
// Decodes one broken-down element onto the end of target. Returns the
// octets used; -1 for junk or no memory (target->error tells which) or a
// null target; 0 for a null element.
int ldap_decode_BD(ldap_handle *ldap, const data_element *element, lresult *target);
// One LDAPMessage: a new list of its operation's elements, with its
// application and id set; *controls (when controls is given) a new list of
// its controls, or null. The caller frees both (ldap_free_message). Null
// for null octets or a message of another shape; LRESULT_INVALID for junk,
// and when memory runs out: a decoding is whole or none.
lresult *ldap_decode_data(ldap_handle *ldap, const unsigned char *octets, int count,
                          lresult **controls);
// One element of any kind in a new list (the caller's); a lone SEQUENCE
// gives the list of its children. Null for null octets; LRESULT_INVALID
// for junk or no memory.
lresult *ldap_decode_data_input(ldap_handle *ldap, const unsigned char *octets, int count);

// ---------------------------------------------------------------------------
// Entries read in place (entry_view.cpp)

// An entry as a search hands it out without decoding it: the contents of
// its SearchResultEntry where they lie in the received octets; or, where
// only the decoder reads it (or the handle traces), the decoded entry.
struct ldap_entry_view {
    const unsigned char *octets;  // the entry's contents, or null
    int length;                   // the number of those octets
    lresult *decoded;             // the decoded entry when octets is null
};

// A SearchResultEntry read where it lies, without a list: for a message
// of the usual shape (message ID, the entry, optionally controls). The
// whole message is checked by the rules ldap_decode_data follows. Returns 1
// when ldap_decode_data would decode it (memory permitting) to an entry:
// its message ID in *id, its contents (octets inside octets) in *entry. -1
// when ldap_decode_data would call it junk; 0 for anything else (another
// message, or a shape only the decoder reads), or a null argument.
int ldap_entry_read(const unsigned char *octets, int count, int *id, ldap_entry_view *entry);
// The entry's DN as ldap_get_dn gives it: null when it has none, else its
// octets up to the first zero octet, their number in *length (length may be
// null). The entry's octets; null for a null entry.
const char *ldap_view_dn(const ldap_entry_view *entry, int *length);
// Takes one value of an attribute: the attribute's type as a C text ("" for
// an empty one; the walk's, lasting until on_value returns) and the value's
// length octets (zeros included, no terminator after them). Returns 0 to end
// the walk.
typedef int (*ldap_value_fn)(void *context, const char *type, const char *value, int length);
// Hands every value of every attribute of the entry to on_value, in the
// order the directory sent them, as ldap_attribute_at and ldap_value_at walk
// the decoded entry. Returns 1; 0 when on_value ended the walk, memory ran
// out, or entry or on_value is null.
int ldap_view_values(const ldap_entry_view *entry, ldap_value_fn on_value, void *context);

// ---------------------------------------------------------------------------
// Protocol trace log (trace.cpp). Files are created exclusively, mode 0600;
// bind credentials and the values of password attributes (userPassword,
// authPassword, unicodePwd) are written as ********.

// Traces every message of the handle into files in dir (the text is
// copied); null stops the trace, as does memory running out for the copy.
void ldap_set_log(ldap_handle *ldap, const char *dir);
// Writes one trace file, "LDAP_<id>-<direction>_XXXXXX", holding controls
// (null: "NO CONTROL") and message (null or LRESULT_INVALID: "NO CMD");
// both stay the caller's. Nothing without a trace directory. Memory
// running out cuts the file short.
void ldap_log_data(ldap_handle *ldap, const char *direction, lresult *message, lresult **controls);
// Creates "<dir>/<stem>_XXXXXX" and opens it for writing (the caller
// closes it); its name goes to path, which may be null. Null for an empty
// or null dir, a null stem, a name that would not fit, or a failed creation.
FILE *log_file(const char *dir, const char *stem, char *path /* 512 octets */);
// Writes the tree of list on stream, each line after prefix (null: none),
// octet strings that hold BER decoded too; null list or stream: nothing.
// Memory running out cuts it short.
void lresult_log(lresult *list, FILE *stream, const char *prefix);

// ---------------------------------------------------------------------------
// LDAP handle and client messages (handle.cpp)

struct ldap_handle {
    msg_fn emsg;  // error sink, or null
    msg_fn dmsg;  // debug sink, or null
    char *host;   // server host, owned
    int port;
    int own_chan;            // the handle made chan and releases it
    chan_rec *chan;          // channel in use, or null
    int rx_len;              // received bytes not yet consumed
    unsigned char *rx_data;  // those bytes, owned
    char *error_text;        // last recorded error, owned
    int error_code;          // 0 none, -1 local failure, else LDAP result code
    static_list referrals;   // owned referral URL texts, LDAP_MAX_REFERRALS at most
    char *log_dir;           // trace directory, owned; null means no trace
    // Receive buffer layout (meaningful only while rx_data is set): the
    // unconsumed octets start at rx_data + rx_start; rx_size is allocated.
    int rx_start;
    int rx_size;
    // While non-zero, the monotonic time (milliseconds) by which the current
    // operation must have its reply; set by a search with a time limit.
    long long deadline_ms;
    // While non-zero, the monotonic time by which everything the handle does
    // must be over (ldap_set_limit): no wait lasts beyond it.
    long long limit_ms;
    int connect_timeout;    // seconds for ldap_connect's attempt; 0: 20
    int read_timeout;       // seconds of each wait on its channels; 0: 30
    int timed_out;          // the last operation failed because time ran out
    int referrals_dropped;  // referrals not kept (too many, or no memory), counted only
    chan_tls *tls;          // TLS context of ldap_connect (borrowed), or null
    int tls_mode;           // LDAP_TLS_OFF, LDAP_TLS_STARTTLS or LDAP_TLS_LDAPS
};

// How ldap_connect secures a connection: not at all, with the StartTLS
// operation before the bind, or with TLS from the first octet.
enum { LDAP_TLS_OFF, LDAP_TLS_STARTTLS, LDAP_TLS_LDAPS };

// Referral texts a handle keeps; a server that sends more cannot make it
// hold them all.
#define LDAP_MAX_REFERRALS 1000

// An empty handle (no host, no channel; it owns nothing yet) reporting to
// emsg and dmsg (null: silent); ldap_clear releases what it comes to hold.
// Every function taking a handle takes a null one as a failure (-1, 0 or
// null) without effect.
void ldap_init(ldap_handle *ldap, msg_fn emsg, msg_fn dmsg);
// "LDAP: " and the text (cut to 1023 octets in all) to the handle's sink.
// Return 1, also without a sink; 0 for a null handle.
int ldap_emsg(ldap_handle *ldap, const char *format, ...) NLIB_PRINTF(2, 3);
int ldap_dmsg(ldap_handle *ldap, const char *format, ...) NLIB_PRINTF(2, 3);

// ---------------------------------------------------------------------------
// Modification lists and controls (modlist.cpp)

struct ldap_mod_item {
    int operation;       // 0 add, 1 delete, 2 replace
    char *type;          // attribute type, owned
    static_list values;  // owned value texts
};

struct ldap_mod {
    char *mod_text;     // owned; released by ldap_mod_clear
    static_list items;  // owned ldap_mod_item records
    int incomplete;     // 1 once memory ran out while adding: an item or value is missing
};

struct ldap_cr {
    char *type;  // control OID, owned
    int critical;
    int length;            // value bytes
    unsigned char *value;  // owned, or null
};

// An empty list; ldap_mod_clear releases its items, values and mod_text and
// leaves it empty (and complete again). Null is ignored by every function here.
void ldap_mod_init(ldap_mod *mod);
void ldap_mod_clear(ldap_mod *mod);
// The item of type (matched ignoring case; appended when missing) gets the
// operation and value (copied; null: none) as its only value.
// ldap_mod_add_value appends a value (an item it adds gets operation 0).
// A null type is ignored; memory running out leaves the item or value out
// and marks the list incomplete, which ldap_modify and ldap_add refuse.
void ldap_mod_add(ldap_mod *mod, int operation, const char *type, const char *value);
void ldap_mod_add_value(ldap_mod *mod, const char *type, const char *value);
// A new control of type (copied), without value: the caller frees it with
// ldap_cr_clear. Null when memory runs out.
ldap_cr *ldap_cr_init(const char *type, int critical);
// Replaces the control's value by a copy of length octets (null data or a
// negative length: an empty value); memory running out keeps the old one.
void ldap_cr_set(ldap_cr *cr, const void *data, int length);
// Frees the control and what it holds.
void ldap_cr_clear(ldap_cr *cr);

// ---------------------------------------------------------------------------
// Message exchange (exchange.cpp)
//
// ldap_receive hands out the next whole message; a message announcing more
// than LDAP_MAX_MESSAGE octets is junk like an undecodable one (channel
// closed, null). The operations below take only replies carrying their own
// request's message ID; an unsolicited notification (ID 0) ends them as a
// failure.

// Largest message the receive buffer accepts (64 MiB).
#define LDAP_MAX_MESSAGE (64 * 1024 * 1024)

// protocolOp numbers
enum {
    LDAP_BIND_REQUEST = 0,
    LDAP_BIND_RESPONSE = 1,
    LDAP_UNBIND_REQUEST = 2,
    LDAP_SEARCH_REQUEST = 3,
    LDAP_SEARCH_ENTRY = 4,
    LDAP_SEARCH_DONE = 5,
    LDAP_MODIFY_REQUEST = 6,
    LDAP_MODIFY_RESPONSE = 7,
    LDAP_ADD_REQUEST = 8,
    LDAP_ADD_RESPONSE = 9,
    LDAP_DEL_REQUEST = 10,
    LDAP_DEL_RESPONSE = 11,
    LDAP_MODDN_REQUEST = 12,
    LDAP_MODDN_RESPONSE = 13,
    LDAP_COMPARE_REQUEST = 14,
    LDAP_COMPARE_RESPONSE = 15,
    LDAP_ABANDON_REQUEST = 16,
    LDAP_SEARCH_REFERENCE = 19,
    LDAP_EXTENDED_REQUEST = 23,
    LDAP_EXTENDED_RESPONSE = 24
};

// The process-wide message ID counter; the first request carries ID 1.
extern int xmsg_id;

// One operation for ldap_send: the operation code, then the fields that
// code reads (zero-initialise the record and fill those). Texts belong to
// the caller; ldap_send keeps nothing.
struct ldap_request {
    int op;
    // BindRequest
    int version;
    const char *name;
    const char *password;
    // responses (1, 5, 7, 9, 11, 13, 15, 24)
    int code;
    const char *matched_dn;
    const char *error_message;
    static_list *referrals;      // URL texts, sent when code is 10
    const char *response_name;   // 24 only
    const char *response_value;  // 24 only
    // ExtendedRequest (23): the operation's OID and its value (null: none)
    const char *request_name;
    const char *request_value;
    // SearchRequest
    const char *base;
    int scope;
    int deref;
    int size_limit;
    int time_limit;
    int types_only;
    const char *filter;
    const char *attributes;
    // SearchResultEntry: the entry's encoded fields
    const data_buf *entry;
    // Modify, Add, Del, ModifyDN, Compare: the entry's DN
    const char *dn;
    ldap_mod *mod;
    const char *new_rdn;
    int delete_old;
    const char *new_superior;
    const char *attribute;
    const char *value;
    // AbandonRequest
    int abandon_id;
    // SearchResultReference
    static_list *urls;
};

// Builds request (with the controls, ldap_cr records; null: none) and
// writes it in one piece under msgid (0: the next ID). 1 when sent; 0 for
// a null handle, channel or request, an operation never sent, no memory,
// or a failed write (the channel's text tells).
int ldap_send(ldap_handle *ldap, const ldap_request *request, int msgid, static_list *controls);
// The same for an operation op already encoded in body, which is turned
// into the operation's element (constructed or not) on the way.
int ldap_send_data(ldap_handle *ldap, int op, data_buf *body, int constructed, int msgid,
                   static_list *controls);
// The next message, decoded into a new list (and *controls_out, when
// given, into another or null); the caller frees both. Null after a
// time-out (ldap_timed_out), junk (see above) or a failed read. An error
// result (application -1, its text in error) when the server closed the
// connection, there is no channel, or memory runs out for the bytes.
lresult *ldap_receive(ldap_handle *ldap, lresult **controls_out);

// ---------------------------------------------------------------------------
// Connection life cycle (connection.cpp)
//
// ldap_connect first releases a channel of an earlier attempt. ldap_log
// records an error result of the exchange (application -1) as code -1 with
// the text "Error - <its text>".

// The server of the next ldap_connect (host copied; null, or memory
// running out, leaves none).
void ldap_setup(ldap_handle *ldap, const char *host, int port);
// The wait bound of the open channel (chan_timeout); nothing without one.
void ldap_timeout(ldap_handle *ldap, int seconds, int microseconds);
// Time-outs of the channels ldap_connect opens from now on: connect_sec
// bounds the connection attempt, read_sec each wait for data, the bind's
// answer (which must come within one such wait) included. 0 keeps the
// default of 20 and 30 seconds.
void ldap_set_timeouts(ldap_handle *ldap, int connect_sec, int read_sec);
// Bounds all the handle does from now on (connecting, binding, every wait
// for a reply) by one deadline ms milliseconds ahead; 0 lifts it.
void ldap_set_limit(ldap_handle *ldap, long long ms);
// seconds, cut to the whole seconds left of the handle's limit; 0 when less
// than a second is left. A null handle has no limit.
int ldap_seconds_left(ldap_handle *ldap, int seconds);
// How the next connections of ldap_connect are secured: mode is one of
// LDAP_TLS_*, tls the context their handshakes use (borrowed: it must outlive
// the handle's use of it; null with a mode other than off makes connecting
// fail). The certificate must name the host given to ldap_setup.
void ldap_set_tls(ldap_handle *ldap, chan_tls *tls, int mode);
// 1 when the handle's last operation failed because time ran out (a wait
// of the channel, the operation's deadline or the limit), else 0 (also for
// null). Such a connection is not worth retrying on: its server is slow or
// silent, not gone.
int ldap_timed_out(ldap_handle *ldap);
// Connects to the server of ldap_setup and binds simply as dn. Returns the
// bind's result code (0 bound; after a refusal the channel stays, unbound),
// or -1: no server set, no memory, no connection, or the bind not sent
// (channel released) or not answered.
int ldap_connect(ldap_handle *ldap, const char *dn, const char *password);
// Sends an unbind, reads the server's answer (it closes), then closes and
// releases the channel; the referrals go too. 1 when closed; 0 when
// there was no channel or closing failed. The handle's outcome stays that
// of the last operation: what fails while closing is only reported.
int ldap_disconnect(ldap_handle *ldap);
// Disconnects and releases all the handle holds (host, trace directory,
// referrals, outcome); it stays ready for use with the same sinks.
void ldap_clear(ldap_handle *ldap);
// The last outcome: its code (0 none, -1 local failure, else the LDAP
// result code; -1 for a null handle) and its text (the handle's, until the
// next operation; null when none).
int ldap_error(ldap_handle *ldap);
char *ldap_error_str(ldap_handle *ldap);
// Records the outcome of result: success clears it; a result code is kept
// with "<name> - <diagnostic>" and reported as "text {...}"; a null result
// records text with code -1.
void ldap_log(ldap_handle *ldap, const char *text, lresult *result);

// ---------------------------------------------------------------------------
// Searches (paged_search.cpp, search.cpp) and what they hand out (entries.cpp)

// Searches and appends every entry to results, which it initialises: clear
// a list used before with ldap_clear_result_list, or its entries are lost.
// The entries are the list's. Returns as ldap_search_each; -1 ("Out of
// Memory") with the list empty when an entry could not be kept. A null
// results: 0, nothing done. A negative size or time limit (0 is none) is
// refused by every search: -1, nothing sent.
int ldap_search(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                int time_limit, int types_only, const char *filter, const char *attributes,
                static_list *results);
// Takes one entry of ldap_search_each as it arrives. Returns non-zero to keep
// it (the callback then owns it: lresult_clear and free), 0 to have it freed.
typedef int (*ldap_entry_fn)(void *context, lresult *entry);
// The same search with nothing held: each entry goes to on_entry as soon as
// it is decoded; on_entry must not throw. Returns the server's result code
// (10 as well when referrals were gathered, ldap_first_referral) or -1 for
// a failure on the client's side (no reply, a lost connection, no memory;
// a null handle or callback), which voids the entries handed so far.
int ldap_search_each(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                     int time_limit, int types_only, const char *filter, const char *attributes,
                     ldap_entry_fn on_entry, void *context);
// Takes the DN of one entry of ldap_search_dns as it arrives: length
// octets, no terminator after them (the DN up to its first zero octet), or
// null when the entry has none. The octets stay the client's and last until
// on_dn returns; on_dn must not throw.
typedef void (*ldap_dn_fn)(void *context, const char *dn, int length);
// Frees every entry and empties the list; null is ignored.
void ldap_clear_result_list(static_list *results);
// The first and next entry of a result list; null at its end (or for null).
lresult *ldap_first_entry(static_list *results);
lresult *ldap_next_entry(static_list *results);
// An entry's DN; the entry's text, null when it has none.
char *ldap_get_dn(lresult *entry);
// The type of the entry's first and next attribute ("" for an empty type;
// the entry keeps the place); the entry's text, null after the last.
char *ldap_first_attribute(lresult *entry);
char *ldap_next_attribute(lresult *entry);
// The values of the first attribute of type (ignoring case) as a vector
// ended by null ("" for an empty value), made once and kept by the entry.
// Null when there is no such attribute or it holds no value list; null
// with errno ENOMEM when memory runs out.
char **ldap_get_values(lresult *entry, const char *type);
// The same walk by position, with nothing made: the type of the entry's
// attribute at index ("" for an empty type), its value list in *values
// (values may be null; null when it holds none), and the value at index of
// such a list ("" for an empty value). The entry's texts and list; null past
// the last (and for null), as for a value that is not text.
char *ldap_attribute_at(lresult *entry, int index, lresult **values);
char *ldap_value_at(lresult *values, int index);
// The referral URLs the last operation gathered, first and next; the
// handle's texts, null at the end.
char *ldap_first_referral(ldap_handle *ldap);
char *ldap_next_referral(ldap_handle *ldap);

// ---------------------------------------------------------------------------
// Simple paged results (paging.cpp, paged_search.cpp)
//
// A search sent with the control of ldap_page_control returns one page of
// entries; its SearchResultDone carries the server's control, whose cookie
// asks for the next page. An empty cookie marks the last page.

// A new request control (OID 1.2.840.113556.1.4.319, not critical) asking
// for page_size entries after the cookie (null and 0 for the first page; the
// octets are copied). The caller owns it: ldap_cr_clear. Null for a
// negative size or length, or out of memory.
ldap_cr *ldap_page_control(int page_size, const void *cookie, int cookie_length);

struct ldap_page {
    int present;            // 1 when the server's control was read
    int estimate;           // the server's count of all entries; 0 when it gave none
    int cookie_length;      // octets of cookie; they may include zeros
    unsigned char *cookie;  // owned; null when the cookie is empty
};

// Empties a new record (it owns nothing yet); null ignored.
void ldap_page_init(ldap_page *page);
// Releases the cookie and empties the record; null ignored.
void ldap_page_clear(ldap_page *page);
// Reads the paged-results control from the controls ldap_receive handed
// back with a SearchResultDone (null when it had none) into page, which it
// clears first. Returns 1 when read (present set), 0 when there is no such
// control, -1 when one is there but its value is missing or garbled (left
// unread, present 0). The controls stay the caller's.
int ldap_page_read(ldap_page *page, lresult *controls);

// Pages a paged search gives up after when none of them brought an entry
// while the server's cookie stayed non-empty.
#define LDAP_IDLE_PAGES 3

// ldap_search_each page by page (paged_search.cpp). With page_size above 0
// each request carries the paged-results control for page_size entries and
// the cookie of the page before, until the server's cookie comes back
// empty; the entries of all pages go to on_entry as those of one search.
// page_size 0 sends no control. A server that returns no paged-results
// control has answered whole, as to any search. Returns as
// ldap_search_each: the result code of the page that ended the search (10
// when referrals were gathered), or -1, which voids the entries handed so
// far: the connection was lost or sent junk (a garbled paged-results
// control too), or time ran out on the first page. When the paging cannot
// go on, what came is kept, and the reason recorded on the handle and
// reported to its error sink:
// - time runs out after the first page (the handle's limit, or a page's
//   time limit and one read time-out): 3, with ldap_timed_out set; part of
//   a reply may be left unread, so the connection is not worth keeping;
// - the paging does not advance: the server sends again a cookie it sent
//   before another one (the same cookie page after page is taken), or
//   LDAP_IDLE_PAGES pages in a row without an entry: 54 (Loop Detect).
int ldap_search_paged(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                      int time_limit, int types_only, const char *filter, const char *attributes,
                      int page_size, ldap_entry_fn on_entry, void *context);
// The same search for the entries' DNs only: it asks for no attributes
// ("1.1"), and each entry's DN goes to on_dn. Entries are not decoded where
// ldap_entry_read reads them, unless the handle traces or has a debug sink;
// all else is as ldap_search_paged (a null on_dn: -1).
int ldap_search_dns(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                    int time_limit, const char *filter, int page_size, ldap_dn_fn on_dn,
                    void *context);
// Takes one entry of ldap_search_views as it arrives. Returns non-zero to
// keep entry->decoded (the callback then owns it: ldap_free_message), 0 to
// have it freed; entry->octets last until on_view returns. Must not throw.
typedef int (*ldap_view_fn)(void *context, const ldap_entry_view *entry);
// The same search with each entry handed to on_view as a view: read in
// place where ldap_entry_read reads it, unless the handle traces or has a
// debug sink, else decoded; all else is as ldap_search_paged (types and
// values asked for; a null on_view: -1).
int ldap_search_views(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                      int time_limit, const char *filter, const char *attributes, int page_size,
                      ldap_view_fn on_view, void *context);

// ---------------------------------------------------------------------------
// Attribute types of the directory's schema (schema.cpp)
//
// Which attribute type names denote one type: its numeric OID and every
// name of its description ("cn", "commonName", "2.5.4.3"), compared ignoring
// case. Options ("cn;lang-de") are no part of the type: names are looked up
// by their type part, and callers compare the options themselves.

struct ldap_schema {
    int types;    // attribute types kept
    int refused;  // descriptions refused: unreadable, or beyond a limit
    char *error;  // owned text of why ldap_schema_read failed, or null
    void *keys;   // lower-cased names and OIDs to type numbers; schema.cpp's own
};

// Empties a new record (it owns nothing yet); null ignored.
void ldap_schema_init(ldap_schema *schema);
// Releases everything the record holds and empties it; null ignored.
void ldap_schema_clear(ldap_schema *schema);
// Keeps the OID and names of one attribute type description ("( 2.5.4.3
// NAME ( 'cn' 'commonName' ) ... )"), length octets long (below 0: up to
// its zero). Returns 0 when kept; -1 when refused (counted in refused): not
// one whole description, more than 32 names and OID or one over 128
// octets, or beyond 16384 types or 65536 names and OIDs in all. A name already kept for
// another type stays that type's.
int ldap_schema_add(ldap_schema *schema, const char *description, int length);
// Reads the attribute types from the server into the schema, replacing what
// it held: the root DSE's subschemaSubentry, then that entry's
// attributeTypes. Both searches together take at most one wait for data of
// the handle's channel (and end by the handle's limit); their failures go
// to the handle's debug sink, not its error sink. Returns 0 when read
// (unreadable descriptions are only counted), else the failed search's
// result code or -1, with the reason in schema->error; the schema is then
// empty, so names compare ignoring case only.
int ldap_schema_read(ldap_schema *schema, ldap_handle *ldap);
// The number of the type the name (or OID) denotes, or -1 when the schema
// does not know it (or is null).
int ldap_schema_type(const ldap_schema *schema, const char *name);
// 1 when the two names denote the same type: their type parts equal
// ignoring case (with any schema, even none) or known as one type; else 0
// (also for a null name or an empty type part).
int ldap_schema_same(const ldap_schema *schema, const char *a, const char *b);
// The length of the type part of "type;options": the octets before the
// first ';', all of them when there is none; 0 for null.
int ldap_attr_type_length(const char *name);

// ---------------------------------------------------------------------------
// Active Directory bind diagnostics (ad_reason.cpp)

// The reason an Active Directory diagnostic message gives for a refused
// bind, from its "data NNN" sub-code ("data 52e" -> "invalid credentials"):
// a static text, or null when there is no known sub-code (or no text).
const char *ldap_ad_reason(const char *diagnostic);

// ---------------------------------------------------------------------------
// Active Directory range retrieval (attr_range.cpp)
//
// A directory that holds more values of an attribute than it returns at
// once (Active Directory: 1,500, its MaxValRange) returns the first ones
// under a range option, "member;range=0-1499"; a base search of the same
// entry for "member;range=1500-*" asks for the rest, which come as
// "member;range=1500-2999" (more remain) or "member;range=1500-*" (the last).

struct ldap_range {
    int at;      // octets of the description before the option's ';'
    int length;  // octets of the option, its ';' included
    int low;     // index of its first value
    int high;    // index of its last value; -1 for '*': no more remain
};

// Reads the range option of an attribute description, its name "range"
// compared ignoring case. Returns 1 when it has one of the form LOW-HIGH,
// both decimal below INT_MAX, HIGH not below LOW or '*': its place and
// indexes in *range. 0 when it has none, and for null arguments. -1 when it
// has one that reads otherwise, or more than one: the place of the last
// read in *range, its indexes unset.
int ldap_attr_range(const char *description, ldap_range *range);

// ---------------------------------------------------------------------------
// Update operations (update.cpp)

// One request, one reply: the result code (10 with referrals gathered; 5
// and 6 compare false and true), or -1 (a null dn or mod, nothing sent; an
// incomplete mod, nothing sent, "Out of Memory" recorded; a request not
// sent, or no reply of its kind). The referrals of the handle are
// emptied first. ldap_rdn's new_superior may be null. ldap_abandon sends
// its request only: 0, or -1 when it could not (a negative msgid: unsent).
int ldap_modify(ldap_handle *ldap, const char *dn, ldap_mod *mod);
int ldap_add(ldap_handle *ldap, const char *dn, ldap_mod *mod);
int ldap_del(ldap_handle *ldap, const char *dn);
int ldap_rdn(ldap_handle *ldap, const char *dn, const char *new_rdn, int delete_old,
             const char *new_superior);
int ldap_compare(ldap_handle *ldap, const char *dn, const char *attribute, const char *value);
int ldap_abandon(ldap_handle *ldap, int msgid);

// ---------------------------------------------------------------------------
// Server-side responses (server.cpp)

// Makes the handle answer on chan, an accepted channel that stays the
// caller's (a channel held before is released). 1, or 0 for a null chan.
int ldap_server(ldap_handle *ldap, chan_rec *chan);
// Responses of type op with an LDAPResult (referrals, URL texts, if any,
// make the code 10), and: a responseName and value (24), controls (ldap_cr
// list); a SearchResultEntry of fields already encoded; a
// SearchResultReference.
// All arguments stay the caller's. 0 when sent; -1 with the failure
// recorded on the handle.
int ldap_response(ldap_handle *ldap, int op, int code, const char *matched_dn, int msgid,
                  const char *error_message, static_list *referrals);
int ldap_ext_response(ldap_handle *ldap, int op, int code, const char *matched_dn, int msgid,
                      const char *error_message, static_list *referrals, const char *name,
                      const char *value);
int ldap_control_response(ldap_handle *ldap, int op, int code, const char *matched_dn, int msgid,
                          const char *error_message, static_list *referrals, static_list *controls);
int ldap_search_response(ldap_handle *ldap, const data_buf *entry, int msgid);
int ldap_search_reference(ldap_handle *ldap, static_list *urls, int msgid);

// ---------------------------------------------------------------------------
// DN utilities (dn.cpp)

// 0 when each comma-separated part holds '=' and the last a value after it;
// 18 for null, empty, an octet outside 0x20..0x7E or a part without '='.
// Escapes are not read here: every comma splits.
int dn_check(const char *dn);
// The first RDN (before the first comma no backslash escapes; cut to 511
// octets), and what follows that comma (leading blanks skipped). Null for
// null, for no parent, and when memory runs out.
char *dn_to_top(const char *dn);     // newly allocated; caller frees
char *dn_to_parent(const char *dn);  // newly allocated; caller frees

#endif
