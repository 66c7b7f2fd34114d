// Helpers shared by the operations of the client (connection, search,
// updates, server side); not part of the public contract.
#ifndef LDAP_REPLY_H
#define LDAP_REPLY_H

#include "ldap/ldap.h"

// The error text of the result the exchange hands out when the server
// closed the connection before a whole message came.
#define LDAP_TEXT_CLOSED "Connection Closed by LDAP server"

// Whether a message of this application tag (a protocol operation) carries
// an LDAPResult: every response but the search's entries and references.
bool ldap_carries_result(int application);

// Builds the whole LDAPMessage of request under msgid, with the controls
// (ldap_cr records; null or empty for none), into message (initialised by
// the caller, who clears it). Returns 1, or 0 for an operation that is
// never sent, a search whose filter compiled to other than one filter, or a
// buffer that could not grow.
int ldap_build_message(data_buf *message, const ldap_request *request, int msgid,
                       static_list *controls);
// The same around an operation already encoded in body (which gets the
// operation's tag; constructed says whether it is a constructed element).
int ldap_wrap_message(data_buf *message, int op, data_buf *body, int constructed, int msgid,
                      static_list *controls);

// Takes the next message ID and sends the request under it with the
// controls (ldap_cr records; null for none); returns the ID, or 0 when the
// request could not be sent.
int ldap_send_request(ldap_handle *ldap, const ldap_request *request, static_list *controls);

// The next message that belongs to the request with ID msgid: replies to
// other requests are dropped; an error result of the exchange and an
// unsolicited notification (ID 0) are returned as they are. Null when
// nothing came (time-out, or an undecodable message). The controls of the
// message returned go to *controls_out (null when it had none; the caller
// frees them), or are freed when controls_out is null.
lresult *ldap_receive_reply(ldap_handle *ldap, int msgid, lresult **controls_out);

// ldap_receive_reply for a search whose entries need no list. When the
// next message is an entry of msgid that ldap_entry_read reads in place,
// and the handle has neither a trace directory nor a debug sink (both see
// every message decoded), the entry is taken without being decoded: 1, its
// view in *entry, lying in the receive buffer until the next receive.
// Otherwise 0, and *message and *controls_out are what ldap_receive_reply
// hands out for that message.
int ldap_receive_view(ldap_handle *ldap, int msgid, lresult **message, lresult **controls_out,
                      ldap_entry_view *entry);

// Where the entries of a search go: each decoded entry to on_entry; or,
// when on_dn or on_view is set instead, each entry's DN, or the entry as a
// view (read in place where it can be); handed counts them.
struct ldap_entry_sink {
    ldap_entry_fn on_entry;
    ldap_dn_fn on_dn;
    ldap_view_fn on_view;
    void *context;
    int handed;
};

// One search request, sent with the controls (null for none), and its
// replies: each entry goes to the sink as it is received, references (and
// the URLs of a result 10) are added to the handle's referrals, which it
// does not empty first. A time limit in the request bounds the wait for the
// replies by that and one read time-out more. Returns the result code of
// the SearchResultDone (referrals not counted in), or -1 when none came or
// something else did; the outcome is recorded on the handle. The
// SearchResultDone's controls go to *done_controls (null when it had none,
// or the result is -1; the caller frees them) when that is not null.
int ldap_search_request(ldap_handle *ldap, const ldap_request *search, static_list *controls,
                        lresult **done_controls, ldap_entry_sink *sink);

// Gives the operation that starts now `seconds` to receive its replies
// (0: no deadline, each wait bounded only by the channel's time-out and the
// handle's limit).
void ldap_set_deadline(ldap_handle *ldap, int seconds);

// Milliseconds left before the handle's limit; LLONG_MAX without one.
long long ldap_limit_left(ldap_handle *ldap);

// Forgets every buffered received octet.
void ldap_drop_received(ldap_handle *ldap);

// Lets go of the handle's channel: an owned one is closed, cleared and
// freed, one handed in by ldap_server stays its owner's. Buffered octets are
// dropped too, so they are never read as replies on a later channel.
void ldap_release_channel(ldap_handle *ldap);

// Records text (copied; null for none) and code as the handle's outcome.
void ldap_set_error(ldap_handle *ldap, const char *text, int code);

// Records reply as ldap_log does under text, for an operation whose result
// is code (-1: reply is no answer to it, such as a reply of another kind);
// such a reply that reads as a success is recorded as a failure instead.
// Returns code.
int ldap_log_answer(ldap_handle *ldap, const char *text, lresult *reply, int code);

// Empties the handle's referral list, releasing its texts.
void ldap_clear_referrals(ldap_handle *ldap);

// Appends copies of the URL texts at `position` of message (a nested list of
// texts, or one text) to the handle's referrals; with `all_after` set, every
// further text element of the message is taken as well.
void ldap_gather_referrals(ldap_handle *ldap, lresult *message, int position, int all_after);

#endif
