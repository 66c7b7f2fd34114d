// Building one LDAPMessage: the fields of each operation in wire order under
// their tags, and the envelope around them (message ID, operation,
// controls). The exchange only sends what is built here.
#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

void add_octets_tagged(data_buf *body, int tag, const char *text)
{
    int len = static_cast<int>(s_strlen(text));
    data_start(body, tag, len);
    data_add(body, text, len);
    data_end(body);
}

void add_string_list(data_buf *out, static_list *texts)
{
    for (int i = 0; texts && i < static_size(texts); i++)
        data_add_string(out, static_cast<const char *>(static_get_num(texts, i)));
}

void add_result(data_buf *body, const ldap_request *r)
{
    data_add_enum(body, r->code);
    data_add_string(body, r->matched_dn);
    data_add_string(body, r->error_message);
    if (r->code == 10 && r->referrals) {
        data_buf urls;
        data_init(&urls);
        add_string_list(&urls, r->referrals);
        data_wrap(body, &urls, 0xA3);
    }
}

// The modification list of a modify (with operations) or add request.
void add_mod_items(data_buf *body, ldap_mod *mod, int with_operation)
{
    data_buf items;
    data_init(&items);
    for (int i = 0; mod && i < static_size(&mod->items); i++) {
        ldap_mod_item *item = static_cast<ldap_mod_item *>(static_get_num(&mod->items, i));
        data_buf attr, values, one;
        data_init(&attr);
        data_init(&values);
        data_init(&one);
        data_add_string(&attr, item->type);
        add_string_list(&values, &item->values);
        data_wrap(&attr, &values, 0x31);
        if (with_operation) {
            data_add_enum(&one, item->operation);
            data_wrap(&one, &attr, 0x30);
        } else {
            data_add_data(&one, &attr);
            data_clear(&attr);
        }
        data_wrap(&items, &one, 0x30);
    }
    data_wrap(body, &items, 0x30);
}

// False when the filter compiled to other than one filter (refused, no item
// in it, or more than one): a server drops the connection over such a
// request, or reads a second filter as the attribute list. False too for a
// negative size or time limit, which no INTEGER (0..maxInt) of the request
// can carry: written unsigned, it made servers drop the connection.
bool add_search(data_buf *body, const ldap_request *r)
{
    if (r->size_limit < 0 || r->time_limit < 0)
        return false;
    data_add_string(body, r->base);
    data_add_enum(body, r->scope);
    data_add_enum(body, r->deref);
    data_add_integer(body, static_cast<uint32_t>(r->size_limit));
    data_add_integer(body, static_cast<uint32_t>(r->time_limit));
    data_add_bool(body, r->types_only);
    int before = body->length;
    int items = data_cvt_search(body, r->filter, r->base != nullptr);
    if (items != 1 || body->length <= before)
        return false;
    data_buf attrs;
    data_init(&attrs);
    data_cvt_attrib(&attrs, r->attributes);
    data_wrap(body, &attrs, 0x30);
    return true;
}

// Encodes the fields of the request's operation into body and tells whether
// the operation is a constructed element; 0 for an operation never sent
// or a search whose filter compiled to other than one filter.
int encode_request(data_buf *body, const ldap_request *r, int *constructed)
{
    *constructed = 1;
    if (ldap_carries_result(r->op)) {
        add_result(body, r);
        if (r->op == LDAP_EXTENDED_RESPONSE) {
            add_octets_tagged(body, 0x8A, r->response_name);
            add_octets_tagged(body, 0x8B, r->response_value);
        }
        return 1;
    }
    switch (r->op) {
    case LDAP_BIND_REQUEST:
        data_add_integer(body, static_cast<uint32_t>(static_cast<signed char>(r->version)));
        data_add_string(body, r->name);
        add_octets_tagged(body, 0x80, r->password);
        return 1;
    case LDAP_UNBIND_REQUEST: return 1;
    case LDAP_EXTENDED_REQUEST:
        add_octets_tagged(body, 0x80, r->request_name);
        if (r->request_value)
            add_octets_tagged(body, 0x81, r->request_value);
        return 1;
    case LDAP_SEARCH_REQUEST: return add_search(body, r) ? 1 : 0;
    case LDAP_SEARCH_ENTRY: data_add_data(body, r->entry); return 1;
    case LDAP_MODIFY_REQUEST:
    case LDAP_ADD_REQUEST:
        data_add_string(body, r->dn);
        add_mod_items(body, r->mod, r->op == LDAP_MODIFY_REQUEST);
        return 1;
    case LDAP_DEL_REQUEST:
        data_add(body, r->dn, static_cast<int>(s_strlen(r->dn)));
        *constructed = 0;
        return 1;
    case LDAP_MODDN_REQUEST:
        data_add_string(body, r->dn);
        data_add_string(body, r->new_rdn);
        data_add_bool(body, r->delete_old);
        if (r->new_superior)
            add_octets_tagged(body, 0x80, r->new_superior);
        return 1;
    case LDAP_COMPARE_REQUEST: {
        data_add_string(body, r->dn);
        data_buf ava;
        data_init(&ava);
        data_add_string(&ava, r->attribute);
        data_add_string(&ava, r->value);
        data_wrap(body, &ava, 0x30);
        return 1;
    }
    case LDAP_ABANDON_REQUEST: {
        // Only the content octets of the INTEGER, after its tag and length.
        data_buf id;
        data_init(&id);
        data_add_integer(&id, static_cast<uint32_t>(r->abandon_id));
        if (id.length > 2)
            data_add(body, id.data + 2, id.length - 2);
        data_clear(&id);
        *constructed = 0;
        return 1;
    }
    case LDAP_SEARCH_REFERENCE: add_string_list(body, r->urls); return 1;
    default: return 0;
    }
}

// Appends the controls ([0], one sequence per ldap_cr) when the list holds any.
void encode_controls(data_buf *message, static_list *controls)
{
    if (!controls || static_size(controls) < 1)
        return;
    data_buf all;
    data_init(&all);
    ldap_cr *cr;
    for (int i = 0; (cr = static_cast<ldap_cr *>(static_get_num(controls, i))) != nullptr; i++) {
        data_buf one;
        data_init(&one);
        data_add_string(&one, cr->type);
        // FALSE, the default criticality, is left out: LDAP's encoding
        // rules write no value that is its type's default (RFC 4511, 5.1).
        if (cr->critical)
            data_add_bool(&one, cr->critical);
        // A control without value is sent without one: an empty value is
        // a value, which controls that take none refuse.
        if (cr->value)
            data_add_binary(&one, cr->value, cr->length);
        data_wrap(&all, &one, 0x30);
    }
    data_wrap(message, &all, 0xA0);
}

}  // namespace

bool ldap_carries_result(int application)
{
    switch (application) {
    case LDAP_BIND_RESPONSE:
    case LDAP_SEARCH_DONE:
    case LDAP_MODIFY_RESPONSE:
    case LDAP_ADD_RESPONSE:
    case LDAP_DEL_RESPONSE:
    case LDAP_MODDN_RESPONSE:
    case LDAP_COMPARE_RESPONSE:
    case LDAP_EXTENDED_RESPONSE: return true;
    default: return false;
    }
}

int ldap_wrap_message(data_buf *message, int op, data_buf *body, int constructed, int msgid,
                      static_list *controls)
{
    data_add_integer(message, static_cast<uint32_t>(msgid));
    // An empty body is always written primitive (data_upper_app clears 0x20).
    data_upper_app(body, op | (constructed ? 0x20 : 0));
    data_add_data(message, body);
    encode_controls(message, controls);
    data_add_upper(message, 0x30);
    // A buffer that could not grow holds no message (length -1).
    return message->length > 0;
}

int ldap_build_message(data_buf *message, const ldap_request *request, int msgid,
                       static_list *controls)
{
    data_buf body;
    data_init(&body);
    int constructed;
    int built = encode_request(&body, request, &constructed) &&
                ldap_wrap_message(message, request->op, &body, constructed, msgid, controls);
    data_clear(&body);
    return built;
}
