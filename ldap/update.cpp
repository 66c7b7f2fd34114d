// The update operations: modify, add, delete, rename and compare (one
// request, one reply each) and abandon (a request without reply).
#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

// Sends the request, waits for its reply of the expected kind and records
// the outcome under `text`.
int request_reply(ldap_handle *ldap, const ldap_request *request, int expected, const char *text,
                  const char *no_reply)
{
    int msgid = ldap_send_request(ldap, request);
    if (!msgid)
        return -1;
    lresult *reply = ldap_receive_reply(ldap, msgid);
    if (!reply) {
        ldap_log(ldap, no_reply, nullptr);
        return -1;
    }
    ldap_log(ldap, text, reply);
    int code = -1;
    if (reply->application == expected && reply->id == msgid) {
        code = lresult_get_int(reply, 0);
        if (code == 10)
            ldap_gather_referrals(ldap, reply, 3, 0);
    }
    ldap_free_message(reply);
    return code;
}

// The common start: a handle is needed, and its referrals are emptied.
bool begin(ldap_handle *ldap)
{
    if (!ldap)
        return false;
    ldap_clear_referrals(ldap);
    return true;
}

}  // namespace

int ldap_modify(ldap_handle *ldap, const char *dn, ldap_mod *mod)
{
    if (!begin(ldap) || !dn || !mod)
        return -1;
    ldap_request request = {};
    request.op = LDAP_MODIFY_REQUEST;
    request.dn = dn;
    request.mod = mod;
    return request_reply(ldap, &request, LDAP_MODIFY_RESPONSE, "Modify",
                         "LDAP server failed to return back 'LDAP_MODIFY_RESPONSE' {NULL}");
}

int ldap_add(ldap_handle *ldap, const char *dn, ldap_mod *mod)
{
    if (!begin(ldap) || !dn || !mod)
        return -1;
    ldap_request request = {};
    request.op = LDAP_ADD_REQUEST;
    request.dn = dn;
    request.mod = mod;
    return request_reply(ldap, &request, LDAP_ADD_RESPONSE, "Add",
                         "LDAP server failed to return back 'LDAP_ADD_RESPONSE' {NULL}");
}

int ldap_del(ldap_handle *ldap, const char *dn)
{
    if (!begin(ldap) || !dn)
        return -1;
    ldap_request request = {};
    request.op = LDAP_DEL_REQUEST;
    request.dn = dn;
    return request_reply(ldap, &request, LDAP_DEL_RESPONSE, "Del",
                         "LDAP server failed to return back 'LDAP_DEL_RESPONSE' {NULL}");
}

int ldap_rdn(ldap_handle *ldap, const char *dn, const char *new_rdn, int delete_old,
             const char *new_superior)
{
    if (!begin(ldap) || !dn)
        return -1;
    ldap_request request = {};
    request.op = LDAP_MODDN_REQUEST;
    request.dn = dn;
    request.new_rdn = new_rdn;
    request.delete_old = delete_old;
    request.new_superior = new_superior;
    return request_reply(ldap, &request, LDAP_MODDN_RESPONSE, "RDN",
                         "LDAP server failed to return back 'LDAP_MOD_RND_RESPONSE' {NULL}");
}

int ldap_compare(ldap_handle *ldap, const char *dn, const char *attribute, const char *value)
{
    if (!begin(ldap) || !dn)
        return -1;
    ldap_request request = {};
    request.op = LDAP_COMPARE_REQUEST;
    request.dn = dn;
    request.attribute = attribute;
    request.value = value;
    return request_reply(ldap, &request, LDAP_COMPARE_RESPONSE, "Compare",
                         "LDAP server failed to return back 'LDAP_COMPARE_RESPONSE' {NULL}");
}

int ldap_abandon(ldap_handle *ldap, int msgid)
{
    if (!begin(ldap))
        return -1;
    ldap_request request = {};
    request.op = LDAP_ABANDON_REQUEST;
    request.abandon_id = msgid;
    return ldap_send_request(ldap, &request) ? 0 : -1;
}
