// Message exchange: one operation record becomes one LDAPMessage written in
// a single piece; received bytes are buffered until a whole message is there,
// which is then decoded and handed out.
#include <cstdlib>
#include <cstring>

#include "ldap/ldap.h"
#include "ldap/reply.h"

int xmsg_id = 0;

namespace {

const int READ_PIECE = 9999;

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

// Encodes the operation's fields; 0 for an operation that is never sent.
int encode_body(data_buf *body, const ldap_request *r, int *constructed)
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

void add_controls(data_buf *message, static_list *controls)
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

void trace_outgoing(ldap_handle *ldap, const data_buf *message)
{
    lresult *controls = nullptr;
    lresult *decoded = ldap_decode_data(ldap, message->data, message->length, &controls);
    ldap_log_data(ldap, "OUT", decoded, &controls);
    ldap_free_message(decoded);
    ldap_free_message(controls);
}

lresult *error_result(const char *text)
{
    lresult *result = static_cast<lresult *>(malloc(sizeof(lresult)));
    if (!result)
        return nullptr;
    lresult_init(result);
    result->application = -1;
    result->error = strdup(text);
    return result;
}

// The length a message announces once its header is buffered, read over all
// its length octets; -1 while the header is not complete.
long long announced_length(const unsigned char *octets, int count)
{
    if (count < 2)
        return -1;
    if (octets[1] < 0x80)
        return octets[1];
    int n = octets[1] & 0x7F;
    if (count < n + 2)
        return -1;
    long long length = 0;
    for (int i = 0; i < n; i++) {
        length = length * 256 + octets[2 + i];
        if (length > LDAP_MAX_MESSAGE)
            return length;
    }
    return length;
}

// Makes room for `more` octets after the buffered ones. Consumed octets are
// dropped from the front only when they are at least as many as the kept
// ones, so every octet is moved a bounded number of times.
int reserve(ldap_handle *ldap, int more)
{
    if (!ldap->rx_data) {
        ldap->rx_start = 0;
        ldap->rx_size = 0;
        ldap->rx_len = 0;
    }
    if (ldap->rx_start + ldap->rx_len + more <= ldap->rx_size)
        return 1;
    if (ldap->rx_start > 0 && ldap->rx_start >= ldap->rx_len) {
        memmove(ldap->rx_data, ldap->rx_data + ldap->rx_start, static_cast<size_t>(ldap->rx_len));
        ldap->rx_start = 0;
        if (ldap->rx_len + more <= ldap->rx_size)
            return 1;
    }
    int size = ldap->rx_size * 2;
    if (size < ldap->rx_start + ldap->rx_len + more)
        size = ldap->rx_start + ldap->rx_len + more;
    unsigned char *grown = static_cast<unsigned char *>(realloc(ldap->rx_data, static_cast<size_t>(size)));
    if (!grown)
        return 0;
    ldap->rx_data = grown;
    ldap->rx_size = size;
    return 1;
}

// 1 when a whole message is buffered (its size in *size), 0 when more must
// be read, -1 when it announces more than the receive buffer accepts.
int buffered_message(ldap_handle *ldap, int *size)
{
    if (ldap->rx_len == 0 || !ldap->rx_data)
        return 0;
    const unsigned char *start = ldap->rx_data + ldap->rx_start;
    if (announced_length(start, ldap->rx_len) > LDAP_MAX_MESSAGE)
        return -1;
    data_element head = data_break_down_length(start, ldap->rx_len);
    if (head.length == -2 || head.header + head.length > ldap->rx_len)
        return 0;
    *size = head.header + head.length;
    return 1;
}

// Undecodable or oversized input: the connection cannot be trusted any more.
lresult *junk(ldap_handle *ldap)
{
    chan_close(ldap->chan);
    ldap_drop_received(ldap);
    return nullptr;
}

}  // namespace

void ldap_drop_received(ldap_handle *ldap)
{
    free(ldap->rx_data);
    ldap->rx_data = nullptr;
    ldap->rx_len = 0;
    ldap->rx_start = 0;
    ldap->rx_size = 0;
}

void ldap_free_message(lresult *message)
{
    if (!message || message == LRESULT_INVALID)
        return;
    lresult_clear(message);
    free(message);
}

int ldap_send(ldap_handle *ldap, const ldap_request *request, int msgid, static_list *controls)
{
    if (msgid == 0)
        msgid = ++xmsg_id;
    if (!ldap || !ldap->chan || !request)
        return 0;
    data_buf body;
    data_init(&body);
    int constructed;
    int sent = 0;
    if (encode_body(&body, request, &constructed))
        sent = ldap_send_data(ldap, request->op, &body, constructed, msgid, controls);
    data_clear(&body);
    return sent;
}

int ldap_send_data(ldap_handle *ldap, int op, data_buf *body, int constructed, int msgid,
                   static_list *controls)
{
    if (!body || !ldap || !ldap->chan)
        return 0;
    data_buf message;
    data_init(&message);
    data_add_integer(&message, static_cast<uint32_t>(msgid));
    // An empty body is always written primitive (data_upper_app clears 0x20).
    data_upper_app(body, op | (constructed ? 0x20 : 0));
    data_add_data(&message, body);
    add_controls(&message, controls);
    data_add_upper(&message, 0x30);
    // A buffer that could not grow holds no message (length -1).
    int written = 0;
    if (message.length > 0) {
        if (ldap->log_dir)
            trace_outgoing(ldap, &message);
        written = chan_write(ldap->chan, message.data, message.length, 1);
    }
    data_clear(&message);
    return written != 0;
}

lresult *ldap_receive(ldap_handle *ldap, lresult **controls_out)
{
    if (!ldap)
        return nullptr;
    if (controls_out)
        *controls_out = nullptr;
    int size = 0;
    int state;
    while ((state = buffered_message(ldap, &size)) == 0) {
        if (!ldap->chan)
            return error_result("LDAP Chanel not setup");
        if (!reserve(ldap, READ_PIECE + 2))
            return nullptr;
        unsigned char *end = ldap->rx_data + ldap->rx_start + ldap->rx_len;
        int count = chan_read_internal(ldap->chan, end, READ_PIECE, 1);
        if (count == 0)
            return error_result("Connection Closed by LDAP server");
        if (count < 0)
            return nullptr;
        ldap->rx_len += count;
    }
    if (state < 0) {
        ldap_log_data(ldap, "IN", LRESULT_INVALID, controls_out);
        return junk(ldap);
    }
    lresult *result = ldap_decode_data(ldap, ldap->rx_data + ldap->rx_start, ldap->rx_len,
                                       controls_out);
    ldap_log_data(ldap, "IN", result, controls_out);
    if (result == LRESULT_INVALID)
        return junk(ldap);
    ldap->rx_len -= size;
    ldap->rx_start += size;
    if (ldap->rx_len == 0)
        ldap_drop_received(ldap);
    return result;
}

int ldap_send_request(ldap_handle *ldap, const ldap_request *request)
{
    int msgid = ++xmsg_id;
    return ldap_send(ldap, request, msgid, nullptr) ? msgid : 0;
}

lresult *ldap_receive_reply(ldap_handle *ldap, int msgid)
{
    for (;;) {
        lresult *message = ldap_receive(ldap, nullptr);
        if (!message || message->application == -1 || message->id == msgid || message->id == 0)
            return message;
        ldap_dmsg(ldap, "dropped a reply to message %d while waiting for %d", message->id, msgid);
        ldap_free_message(message);
    }
}
