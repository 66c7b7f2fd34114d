// Connection life cycle: server address, connect and bind, unbind and
// disconnect, release, and the recording of every operation's outcome.
#include <cstdlib>
#include <cstring>

#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

struct code_name {
    int code;
    const char *name;
};

const code_name RESULT_NAMES[] = {
    {-1, "Error"},
    {1, "Operation Error"},
    {2, "Protocol Error"},
    {3, "Time Limit Exceeded"},
    {4, "Size Limit Exceeded"},
    {5, "Compare False"},
    {6, "Compare True"},
    {7, "Auth Method Not Supported"},
    {8, "Strong Auth Required"},
    {10, "Referral"},
    {11, "Admin Limit Exceeded"},
    {12, "Unavailable Critical Extension"},
    {13, "Confidentiality Required"},
    {14, "SASL Bind In Progress"},
    {16, "No Such Attribute"},
    {17, "Undefined Attribute Type"},
    {18, "Inappropriate Matching"},
    {19, "Constraint Violation"},
    {20, "Attribute or Value Exists"},
    {21, "Invalid Attribute Syntax"},
    {32, "No Such Object"},
    {33, "Alias Problem"},
    {34, "Invalid DN Syntax"},
    {35, "Is Leaf"},
    {36, "Alias Dereferencing Problem"},
    {48, "Inappropriate Authentication"},
    {49, "Invalid Credentials"},
    {50, "Insufficient Access Rights"},
    {51, "Busy"},
    {52, "Unavailable"},
    {53, "Unwilling To Perform"},
    {54, "Loop Detect"},
    {64, "Naming Violation"},
    {65, "Object Class Violation"},
    {66, "Not Allowed On NonLeaf"},
    {67, "Not Allowed On RDN"},
    {68, "Entry Already Exists"},
    {69, "Object Class Mods Prohibited"},
    {71, "Affects Multiple DSAs"},
    {80, "Other"},
    {118, "Canceled"},
    {119, "No Such Operation"},
    {120, "Too Late"},
    {121, "Cannot Cancel"},
    {122, "Assertion Failed"},
    {123, "Authorization Denied"},
};

const char *result_name(int code)
{
    for (const code_name &entry : RESULT_NAMES)
        if (entry.code == code)
            return entry.name;
    return "unknown";
}

void set_error(ldap_handle *ldap, const char *text, int code)
{
    free(ldap->error_text);
    ldap->error_text = text ? strdup(text) : nullptr;
    ldap->error_code = code;
}

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
    free(ldap->host);
    ldap->host = host ? strdup(host) : nullptr;
    ldap->port = port;
}

void ldap_timeout(ldap_handle *ldap, int seconds, int microseconds)
{
    if (ldap && ldap->chan)
        chan_timeout(ldap->chan, seconds, microseconds);
}

int ldap_connect(ldap_handle *ldap, const char *dn, const char *password)
{
    if (!ldap || !ldap->host)
        return -1;
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
    if (!chan_open(chan, ldap->host, ldap->port, 20)) {
        ldap_log(ldap, chan_error_string(chan), nullptr);
        ldap_release_channel(ldap);
        return -1;
    }
    ldap_request bind = {};
    bind.op = LDAP_BIND_REQUEST;
    bind.version = 3;
    bind.name = dn;
    bind.password = password;
    int msgid = ldap_send_request(ldap, &bind);
    if (!msgid) {
        ldap_log(ldap, "Failed to send 'LDAP_BIND_REQUEST'", nullptr);
        ldap_release_channel(ldap);
        return -1;
    }
    lresult *reply = ldap_receive_reply(ldap, msgid);
    if (!reply) {
        ldap_log(ldap, "LDAP server failed to return back 'BIND_RESPONSE' {NULL}", nullptr);
        return -1;
    }
    int code = reply->application == LDAP_BIND_RESPONSE ? lresult_get_int(reply, 0) : -1;
    ldap_log(ldap, "Connect", reply);
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
    ldap_request unbind = {};
    unbind.op = LDAP_UNBIND_REQUEST;
    if (ldap_send_request(ldap, &unbind)) {
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
    set_error(ldap, nullptr, 0);
}

int ldap_error(ldap_handle *ldap)
{
    return ldap ? ldap->error_code : -1;
}

char *ldap_error_str(ldap_handle *ldap)
{
    return ldap ? ldap->error_text : nullptr;
}

void ldap_log(ldap_handle *ldap, const char *text, lresult *result)
{
    if (!ldap)
        return;
    if (!result || result == LRESULT_INVALID) {
        set_error(ldap, text, -1);
        return;
    }
    // An error result of the exchange carries no result code, only its text.
    int code = result->application == -1 ? -1 : lresult_get_int(result, 0);
    if (code == 0) {
        set_error(ldap, nullptr, 0);
        return;
    }
    const char *detail = code == -1 ? result->error : lresult_get_char(result, 2);
    if (!detail && code != -1)
        detail = lresult_get_char(result, 1);
    char line[512];
    lprintf(line, sizeof line, "%s - %s", result_name(code), detail);
    set_error(ldap, line, code);
    ldap_emsg(ldap, "%s {%s}", text, ldap->error_text);
}
