// The server side: an accepted channel attached to a handle, and the
// responses a server sends; none of them waits for anything.
#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

int send_response(ldap_handle *ldap, ldap_request *request, int msgid, static_list *controls,
                  const char *failure)
{
    if (!ldap)
        return -1;
    if (ldap_send(ldap, request, msgid, controls))
        return 0;
    ldap_log(ldap, failure, nullptr);
    return -1;
}

// A referral list always goes out under result code 10, so that it is sent;
// an empty list is none (a referral holds at least one URL).
ldap_request result_request(int op, int code, const char *matched_dn, const char *error_message,
                            static_list *referrals)
{
    if (referrals && static_size(referrals) < 1)
        referrals = nullptr;
    ldap_request request = {};
    request.op = op;
    request.code = referrals ? 10 : code;
    request.matched_dn = matched_dn;
    request.error_message = error_message;
    request.referrals = referrals;
    return request;
}

const char RESPONSE_FAILED[] = "Failed to send 'LDAP_RESPONSE'";
const char SEARCH_FAILED[] = "Failed to send 'LDAP_SEARCH_RESPONCE_B'";

}  // namespace

int ldap_server(ldap_handle *ldap, chan_rec *chan)
{
    if (!ldap)
        return 0;
    ldap_release_channel(ldap);
    ldap->chan = chan;
    return chan != nullptr;
}

int ldap_response(ldap_handle *ldap, int op, int code, const char *matched_dn, int msgid,
                  const char *error_message, static_list *referrals)
{
    ldap_request request = result_request(op, code, matched_dn, error_message, referrals);
    return send_response(ldap, &request, msgid, nullptr, RESPONSE_FAILED);
}

int ldap_ext_response(ldap_handle *ldap, int op, int code, const char *matched_dn, int msgid,
                      const char *error_message, static_list *referrals, const char *name,
                      const char *value)
{
    ldap_request request = result_request(op, code, matched_dn, error_message, referrals);
    request.response_name = name;
    request.response_value = value;
    return send_response(ldap, &request, msgid, nullptr, RESPONSE_FAILED);
}

int ldap_control_response(ldap_handle *ldap, int op, int code, const char *matched_dn, int msgid,
                          const char *error_message, static_list *referrals, static_list *controls)
{
    ldap_request request = result_request(op, code, matched_dn, error_message, referrals);
    return send_response(ldap, &request, msgid, controls, RESPONSE_FAILED);
}

int ldap_search_response(ldap_handle *ldap, const data_buf *entry, int msgid)
{
    ldap_request request = {};
    request.op = LDAP_SEARCH_ENTRY;
    request.entry = entry;
    return send_response(ldap, &request, msgid, nullptr, SEARCH_FAILED);
}

int ldap_search_reference(ldap_handle *ldap, static_list *urls, int msgid)
{
    ldap_request request = {};
    request.op = LDAP_SEARCH_REFERENCE;
    request.urls = urls;
    return send_response(ldap, &request, msgid, nullptr, SEARCH_FAILED);
}
