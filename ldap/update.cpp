// The update operations: modify, add, delete, rename and compare (one
// request, one reply each) and abandon (a request without reply).
#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

// What sets one update operation apart: its reply and the texts it logs.
struct update_kind {
    int request;
    int reply;
    const char *text;
    const char *no_reply;
};

const update_kind kinds[] = {
    {LDAP_MODIFY_REQUEST, LDAP_MODIFY_RESPONSE, "Modify",
     "LDAP server failed to return back 'LDAP_MODIFY_RESPONSE' {NULL}"},
    {LDAP_ADD_REQUEST, LDAP_ADD_RESPONSE, "Add",
     "LDAP server failed to return back 'LDAP_ADD_RESPONSE' {NULL}"},
    {LDAP_DEL_REQUEST, LDAP_DEL_RESPONSE, "Del",
     "LDAP server failed to return back 'LDAP_DEL_RESPONSE' {NULL}"},
    {LDAP_MODDN_REQUEST, LDAP_MODDN_RESPONSE, "RDN",
     "LDAP server failed to return back 'LDAP_MOD_RND_RESPONSE' {NULL}"},
    {LDAP_COMPARE_REQUEST, LDAP_COMPARE_RESPONSE, "Compare",
     "LDAP server failed to return back 'LDAP_COMPARE_RESPONSE' {NULL}"},
};

// Empties the handle's referrals, then (when the request is complete) sends
// it, waits for its reply of the expected kind and records the outcome;
// returns the result code, -1 on any failure.
int request_reply(ldap_handle *ldap, const ldap_request *request, bool complete)
{
    if (!ldap)
        return -1;
    ldap_clear_referrals(ldap);
    if (!request->dn || !complete)
        return -1;
    const update_kind *kind = kinds;
    while (kind->request != request->op)
        kind++;
    int msgid = ldap_send_request(ldap, request, nullptr);
    if (!msgid)
        return -1;
    lresult *reply = ldap_receive_reply(ldap, msgid, nullptr);
    if (!reply) {
        ldap_log(ldap, kind->no_reply, nullptr);
        return -1;
    }
    int code = -1;
    if (reply->application == kind->reply && reply->id == msgid) {
        code = lresult_get_int(reply, 0);
        if (code == 10)
            ldap_gather_referrals(ldap, reply, 3, 0);
    }
    ldap_log_answer(ldap, kind->text, reply, code);
    ldap_free_message(reply);
    return code;
}

// Modify and add carry the same fields: a DN and a modification list. A
// list that lost an item or value to memory running out is not sent: the
// directory would take it, and report success, for what was asked.
int dn_and_mods(ldap_handle *ldap, int op, const char *dn, ldap_mod *mod)
{
    if (ldap && mod && mod->incomplete) {
        ldap_clear_referrals(ldap);
        ldap_set_error(ldap, "Out of Memory", -1);
        return -1;
    }
    ldap_request request = {};
    request.op = op;
    request.dn = dn;
    request.mod = mod;
    return request_reply(ldap, &request, mod != nullptr);
}

}  // namespace

int ldap_modify(ldap_handle *ldap, const char *dn, ldap_mod *mod)
{
    return dn_and_mods(ldap, LDAP_MODIFY_REQUEST, dn, mod);
}

int ldap_add(ldap_handle *ldap, const char *dn, ldap_mod *mod)
{
    return dn_and_mods(ldap, LDAP_ADD_REQUEST, dn, mod);
}

int ldap_del(ldap_handle *ldap, const char *dn)
{
    ldap_request request = {};
    request.op = LDAP_DEL_REQUEST;
    request.dn = dn;
    return request_reply(ldap, &request, true);
}

int ldap_rdn(ldap_handle *ldap, const char *dn, const char *new_rdn, int delete_old,
             const char *new_superior)
{
    ldap_request request = {};
    request.op = LDAP_MODDN_REQUEST;
    request.dn = dn;
    request.new_rdn = new_rdn;
    request.delete_old = delete_old;
    request.new_superior = new_superior;
    return request_reply(ldap, &request, true);
}

int ldap_compare(ldap_handle *ldap, const char *dn, const char *attribute, const char *value)
{
    ldap_request request = {};
    request.op = LDAP_COMPARE_REQUEST;
    request.dn = dn;
    request.attribute = attribute;
    request.value = value;
    return request_reply(ldap, &request, true);
}

int ldap_abandon(ldap_handle *ldap, int msgid)
{
    // A MessageID is 0..maxInt: a negative one would go out as a five-octet
    // INTEGER, over which servers drop the connection.
    if (!ldap || msgid < 0)
        return -1;
    ldap_clear_referrals(ldap);
    ldap_request request = {};
    request.op = LDAP_ABANDON_REQUEST;
    request.abandon_id = msgid;
    return ldap_send_request(ldap, &request, nullptr) ? 0 : -1;
}
