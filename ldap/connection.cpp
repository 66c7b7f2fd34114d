// Connection life cycle: server address and time-outs, connect and bind,
// unbind and disconnect, release.
#include <cstdlib>
#include <cstring>

#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

const int CONNECT_TIMEOUT = 20;  // seconds, unless ldap_set_timeouts says otherwise

}  // namespace

void ldap_release_channel(ldap_handle *ldap)
{
    if (ldap->chan && ldap->own_chan) {
        chan_clear(ldap->chan);
        free(ldap->chan);
    }
    ldap->chan = nullptr;
    ldap->own_chan = 0;
    ldap_drop_received(ldap);
}

void ldap_setup(ldap_handle *ldap, const char *host, int port)
{
    if (!ldap)
        return;
    // Copied first: host may be the handle's own.
    char *copy = host ? strdup(host) : nullptr;
    free(ldap->host);
    ldap->host = copy;
    ldap->port = port;
}

void ldap_timeout(ldap_handle *ldap, int seconds, int microseconds)
{
    if (ldap && ldap->chan)
        chan_timeout(ldap->chan, seconds, microseconds);
}

void ldap_set_timeouts(ldap_handle *ldap, int connect_sec, int read_sec)
{
    if (!ldap)
        return;
    ldap->connect_timeout = connect_sec > 0 ? connect_sec : 0;
    ldap->read_timeout = read_sec > 0 ? read_sec : 0;
}

namespace {

// Seconds a connection attempt may take now: the connect time-out, or less
// when the handle's limit comes first (0 when it has passed).
int connect_seconds(ldap_handle *ldap)
{
    return ldap_seconds_left(ldap, ldap->connect_timeout ? ldap->connect_timeout : CONNECT_TIMEOUT);
}

}  // namespace

void ldap_set_tls(ldap_handle *ldap, chan_tls *tls, int mode)
{
    if (!ldap)
        return;
    ldap->tls = tls;
    ldap->tls_mode = mode;
}

namespace {

// The result code of reply when it answers the request with a reply of
// kind `answer`; -1 for anything else, an unsolicited notification (ID 0)
// included, whatever code it holds.
int answer_code(lresult *reply, int answer)
{
    return reply->application == answer && reply->id != 0 ? lresult_get_int(reply, 0) : -1;
}

// Sends request and waits for the reply to it within one read time-out,
// however its octets arrive and whatever else the server sends meanwhile.
// The reply (or a notice of disconnection) is the caller's; null when none
// came, the failure recorded as `unsent` or `missing` says.
lresult *exchange_once(ldap_handle *ldap, const ldap_request *request, const char *unsent,
                       const char *missing)
{
    int msgid = ldap_send_request(ldap, request, nullptr);
    if (!msgid) {
        ldap_log(ldap, unsent, nullptr);
        return nullptr;
    }
    int wait = ldap->chan->timeout_sec;
    ldap_set_deadline(ldap, wait > 0 ? wait : 1);
    lresult *reply = ldap_receive_reply(ldap, msgid, nullptr);
    ldap_set_deadline(ldap, 0);
    if (!reply)
        ldap_log(ldap, missing, nullptr);
    return reply;
}

// Starts TLS on the handle's open channel, bounded by `seconds`; a failure
// closes the channel, so that nothing is ever sent in clear instead.
int handshake(ldap_handle *ldap, int seconds)
{
    if (chan_tls_start(ldap->chan, ldap->tls, ldap->host, seconds))
        return 1;
    ldap_log(ldap, chan_error_string(ldap->chan), nullptr);
    return 0;
}

// The StartTLS operation, then the handshake; 0 after recording why not.
int start_tls(ldap_handle *ldap, int seconds)
{
    ldap_request request = {};
    request.op = LDAP_EXTENDED_REQUEST;
    request.request_name = "1.3.6.1.4.1.1466.20037";
    lresult *reply = exchange_once(ldap, &request, "Failed to send 'StartTLS'",
                                   "LDAP server failed to answer 'StartTLS' {NULL}");
    if (!reply && ldap->timed_out) {
        // An LDAPS port may also stay silent: its TLS layer waits for the
        // rest of what it reads as a TLS record.
        char why[160];
        lprintf(why, sizeof why,
                "StartTLS not answered within %d s (does the port speak TLS? then use tls ldaps)",
                ldap->chan->timeout_sec > 0 ? ldap->chan->timeout_sec : 1);
        ldap_set_error(ldap, why, -1);
    }
    if (!reply)
        return 0;
    int code = answer_code(reply, LDAP_EXTENDED_RESPONSE);
    if (code != 0) {
        ldap_log(ldap, "StartTLS", reply);
        // The text ldap_log kept is null when memory ran out copying it. The
        // line is made without the C++ library: no std::bad_alloc may leave here.
        const char *text = ldap_error_str(ldap);
        bool answered = reply->application != -1;
        char why[600];  // room for the prefix and any text ldap_log keeps
        // Only an answer is a refusal. A server hanging up instead is most
        // often one that speaks TLS from the first octet (an LDAPS port); a
        // failure of this side (memory ran out reading the answer) is ours.
        if (!answered && reply->error && strcmp(reply->error, LDAP_TEXT_CLOSED) == 0)
            lprintf(why, sizeof why,
                    "StartTLS not answered: %s (does the port speak TLS? then use tls ldaps)",
                    reply->error);
        else
            lprintf(why, sizeof why, "%s: %s",
                    answered ? "StartTLS refused by the server" : "StartTLS failed",
                    answered && code == -1 ? "not an answer to it"
                    : text                 ? text
                                           : "Out of Memory");
        ldap_set_error(ldap, why, code);
    }
    ldap_free_message(reply);
    if (code != 0)
        return 0;
    // What came after the answer was sent in clear and is no part of TLS.
    if (ldap->rx_len > 0) {
        ldap_log(ldap, "StartTLS refused: the server sent more than its answer", nullptr);
        return 0;
    }
    return handshake(ldap, seconds);
}

}  // namespace

int ldap_connect(ldap_handle *ldap, const char *dn, const char *password)
{
    if (!ldap || !ldap->host)
        return -1;
    ldap->timed_out = 0;
    // A channel of an earlier attempt is closed and released first.
    ldap_release_channel(ldap);
    chan_rec *chan = static_cast<chan_rec *>(malloc(sizeof(chan_rec)));
    if (!chan) {
        ldap_log(ldap, "Out of memory for the LDAP channel", nullptr);
        return -1;
    }
    chan_init(chan);
    ldap->chan = chan;
    ldap->own_chan = 1;
    int seconds = connect_seconds(ldap);
    if (!seconds || !chan_open(chan, ldap->host, ldap->port, seconds)) {
        ldap->timed_out = !seconds;
        ldap_log(ldap, seconds ? chan_error_string(chan) : "No time left to connect", nullptr);
        ldap_release_channel(ldap);
        return -1;
    }
    if (ldap->read_timeout)
        chan_timeout(chan, ldap->read_timeout, 0);
    // A handshake is bounded like the connection attempt.
    int secured = ldap->tls_mode == LDAP_TLS_OFF ||
                  (ldap->tls_mode == LDAP_TLS_LDAPS ? handshake(ldap, connect_seconds(ldap))
                                                    : start_tls(ldap, connect_seconds(ldap)));
    if (!secured) {
        ldap_release_channel(ldap);
        return -1;
    }
    ldap_request bind = {};
    bind.op = LDAP_BIND_REQUEST;
    bind.version = 3;
    bind.name = dn;
    bind.password = password;
    lresult *reply = exchange_once(ldap, &bind, "Failed to send 'LDAP_BIND_REQUEST'",
                                   "LDAP server failed to return back 'BIND_RESPONSE' {NULL}");
    if (!reply)
        return -1;
    int code = answer_code(reply, LDAP_BIND_RESPONSE);
    ldap_log_answer(ldap, "Connect", reply, code);
    ldap_free_message(reply);
    return code;
}

int ldap_disconnect(ldap_handle *ldap)
{
    if (!ldap)
        return 0;
    ldap_clear_referrals(ldap);
    if (!ldap->chan)
        return 0;
    // The unbind and the close of a connection already lost fail too, which
    // says nothing new: why it was lost stays the handle's outcome.
    char *outcome = ldap->error_text ? strdup(ldap->error_text) : nullptr;
    int outcome_code = ldap->error_code;
    ldap_request unbind = {};
    unbind.op = LDAP_UNBIND_REQUEST;
    if (ldap_send_request(ldap, &unbind, nullptr)) {
        // The server answers an unbind by closing the connection; only
        // something else is worth recording.
        lresult *reply = ldap_receive(ldap, nullptr);
        if (reply && reply->application != -1)
            ldap_log(ldap, "Disconnect", reply);
        ldap_free_message(reply);
    } else {
        ldap_log(ldap, "Failed to send 'LDAP_UNBIND_REQUEST'", nullptr);
    }
    int closed = chan_close(ldap->chan);
    if (!closed)
        ldap_log(ldap, chan_error_string(ldap->chan), nullptr);
    ldap_release_channel(ldap);
    ldap_set_error(ldap, outcome, outcome_code);
    free(outcome);
    return closed;
}

void ldap_clear(ldap_handle *ldap)
{
    if (!ldap)
        return;
    ldap_disconnect(ldap);
    free(ldap->log_dir);
    ldap->log_dir = nullptr;
    free(ldap->host);
    ldap->host = nullptr;
    ldap_release_channel(ldap);
    ldap_clear_referrals(ldap);
    ldap_set_error(ldap, nullptr, 0);
}
