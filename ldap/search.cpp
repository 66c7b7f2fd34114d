// One search request and its replies: entries handed to a sink as they
// arrive, references gathered, the result that ends it.
#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

// Hands an entry on as the sink takes it: its DN, a view or the entry.
void hand_view(ldap_entry_sink *sink, const ldap_entry_view *entry)
{
    sink->handed++;
    if (sink->on_view) {
        if (!sink->on_view(sink->context, entry))
            ldap_free_message(entry->decoded);
        return;
    }
    int length = 0;
    const char *dn = ldap_view_dn(entry, &length);
    sink->on_dn(sink->context, dn, length);
    ldap_free_message(entry->decoded);
}

void hand_entry(ldap_entry_sink *sink, lresult *entry)
{
    if (sink->on_entry) {
        sink->handed++;
        if (!sink->on_entry(sink->context, entry))
            ldap_free_message(entry);
        return;
    }
    ldap_entry_view view = {nullptr, 0, entry};
    hand_view(sink, &view);
}

// Hands the entries of search msgid to the sink and gathers its references;
// returns the message that ends it (normally its SearchResultDone, its
// controls in *controls), or null when none came.
lresult *receive_search(ldap_handle *ldap, int msgid, ldap_entry_sink *sink, lresult **controls)
{
    for (;;) {
        lresult *message = nullptr;
        ldap_entry_view view;
        if (sink->on_entry) {
            message = ldap_receive_reply(ldap, msgid, controls);
        } else if (ldap_receive_view(ldap, msgid, &message, controls, &view)) {
            hand_view(sink, &view);
            continue;
        }
        if (!message || message->id != msgid)
            return message;
        if (message->application == LDAP_SEARCH_ENTRY) {
            hand_entry(sink, message);
        } else if (message->application == LDAP_SEARCH_REFERENCE) {
            ldap_gather_referrals(ldap, message, 0, 1);
            ldap_free_message(message);
        } else {
            return message;
        }
        ldap_free_message(*controls);
        *controls = nullptr;
    }
}

}  // namespace

int ldap_search_request(ldap_handle *ldap, const ldap_request *search, static_list *controls,
                        lresult **done_controls, ldap_entry_sink *sink)
{
    if (done_controls)
        *done_controls = nullptr;
    int msgid = ldap_send_request(ldap, search, controls);
    if (!msgid) {
        ldap_log(ldap, "Failed to send 'LDAP_SEARCH_REQUEST'", nullptr);
        return -1;
    }
    // The server ends the search itself after time_limit seconds; one more
    // read time-out is the most its answer may take beyond that.
    if (search->time_limit > 0 && ldap->chan)
        ldap_set_deadline(ldap, search->time_limit + ldap->chan->timeout_sec);
    lresult *received = nullptr;
    lresult *message = receive_search(ldap, msgid, sink, &received);
    ldap_set_deadline(ldap, 0);
    if (!message) {
        ldap_log(ldap, "LDAP server failed to return back 'LDAP_SEARCH_RESPONCE' {NULL}", nullptr);
        return -1;
    }
    int code = -1;
    if (message->application == LDAP_SEARCH_DONE && message->id == msgid) {
        code = lresult_get_int(message, 0);
        if (code == 10)
            ldap_gather_referrals(ldap, message, 3, 0);
    }
    ldap_log_answer(ldap, "Search", message, code);
    ldap_free_message(message);
    if (code >= 0 && done_controls)
        *done_controls = received;
    else
        ldap_free_message(received);
    return code;
}
