// Request encoding: the fields of each operation, in wire order, under
// their tags.
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

// ENUMERATED written as an INTEGER whose tag octet is then replaced, so
// that codes above 255 keep all their octets.
void add_result_code(data_buf *body, int code)
{
    int at = body->length;
    data_add_integer(body, static_cast<uint32_t>(code));
    if (at >= 0 && body->length > at)
        body->data[at] = 0x0A;
}

void add_string_list(data_buf *out, static_list *texts)
{
    for (int i = 0; texts && i < static_size(texts); i++)
        data_add_string(out, static_cast<const char *>(static_get_num(texts, i)));
}

void add_wrapped(data_buf *out, data_buf *inner, int tag)
{
    data_data(out, inner, tag);
    data_clear(inner);
}

void add_result(data_buf *body, const ldap_request *r)
{
    add_result_code(body, r->code);
    data_add_string(body, r->matched_dn);
    data_add_string(body, r->error_message);
    if (r->code == 10 && r->referrals) {
        data_buf urls;
        data_init(&urls);
        add_string_list(&urls, r->referrals);
        add_wrapped(body, &urls, 0xA3);
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
        add_wrapped(&attr, &values, 0x31);
        if (with_operation) {
            data_add_enum(&one, item->operation);
            add_wrapped(&one, &attr, 0x30);
        } else {
            data_add_data(&one, &attr);
            data_clear(&attr);
        }
        add_wrapped(&items, &one, 0x30);
    }
    add_wrapped(body, &items, 0x30);
}

void add_search(data_buf *body, const ldap_request *r)
{
    data_add_string(body, r->base);
    data_add_enum(body, r->scope);
    data_add_enum(body, r->deref);
    data_add_integer(body, static_cast<uint32_t>(r->size_limit));
    data_add_integer(body, static_cast<uint32_t>(r->time_limit));
    data_add_bool(body, r->types_only);
    data_cvt_search(body, r->filter, r->base != nullptr);
    data_buf attrs;
    data_init(&attrs);
    data_cvt_attrib(&attrs, r->attributes);
    add_wrapped(body, &attrs, 0x30);
}

}  // namespace

int ldap_encode_request(data_buf *body, const ldap_request *r, int *constructed)
{
    *constructed = 1;
    switch (r->op) {
    case LDAP_BIND_REQUEST:
        data_add_integer(body, static_cast<uint32_t>(static_cast<signed char>(r->version)));
        data_add_string(body, r->name);
        add_octets_tagged(body, 0x80, r->password);
        return 1;
    case LDAP_BIND_RESPONSE: case LDAP_SEARCH_DONE: case LDAP_MODIFY_RESPONSE:
    case LDAP_ADD_RESPONSE: case LDAP_DEL_RESPONSE: case LDAP_MODDN_RESPONSE:
    case LDAP_COMPARE_RESPONSE:
        add_result(body, r);
        return 1;
    case LDAP_EXTENDED_RESPONSE:
        add_result(body, r);
        add_octets_tagged(body, 0x8A, r->response_name);
        add_octets_tagged(body, 0x8B, r->response_value);
        return 1;
    case LDAP_UNBIND_REQUEST:
        return 1;
    case LDAP_SEARCH_REQUEST:
        add_search(body, r);
        return 1;
    case LDAP_SEARCH_ENTRY:
        data_add_data(body, r->entry);
        return 1;
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
        add_wrapped(body, &ava, 0x30);
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
    case LDAP_SEARCH_REFERENCE:
        add_string_list(body, r->urls);
        return 1;
    default:
        return 0;
    }
}

void ldap_encode_controls(data_buf *message, static_list *controls)
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
        data_add_bool(&one, cr->critical);
        data_add_binary(&one, cr->value, cr->value ? cr->length : 0);
        add_wrapped(&all, &one, 0x30);
    }
    add_wrapped(message, &all, 0xA0);
}
