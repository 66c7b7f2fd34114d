// Message exchange: one operation record becomes one LDAPMessage written in
// a single piece; received bytes are buffered until a whole message is there,
// which is then decoded and handed out.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "ldap/ldap.h"
#include "ldap/reply.h"

int xmsg_id = 0;

namespace {

// Octets one read asks for: a long search's replies arrive in few reads.
const int READ_PIECE = 65536;

// Message IDs run from 1 to 2^31 - 1; after the last one the count starts over.
int next_message_id()
{
    xmsg_id = xmsg_id > 0 && xmsg_id < INT_MAX ? xmsg_id + 1 : 1;
    return xmsg_id;
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
    unsigned char *grown =
        static_cast<unsigned char *>(realloc(ldap->rx_data, static_cast<size_t>(size)));
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
    // Every LDAPMessage is a SEQUENCE: anything else is junk at once, not a
    // length to wait for.
    if (start[0] != 0x30 || announced_length(start, ldap->rx_len) > LDAP_MAX_MESSAGE)
        return -1;
    data_element head = data_break_down_length(start, ldap->rx_len);
    if (head.length == -2 || head.header + head.length > ldap->rx_len)
        return 0;
    *size = head.header + head.length;
    return 1;
}

long long monotonic_ms() { return monotonic_us() / 1000; }

// The earlier of the operation's deadline and the handle's limit; 0: none.
long long deadline_of(const ldap_handle *ldap)
{
    long long a = ldap->deadline_ms, b = ldap->limit_ms;
    return a && b ? (a < b ? a : b) : a | b;
}

// One read from the channel; under a deadline each wait lasts at most the
// time left, so a server that drips bytes cannot hold the operation longer.
// -2 when time ran out.
int read_before_deadline(ldap_handle *ldap, unsigned char *into)
{
    long long deadline = deadline_of(ldap);
    if (!deadline)
        return chan_read_internal(ldap->chan, into, READ_PIECE, 1);
    long long left = deadline - monotonic_ms();
    if (left <= 0)
        return -2;
    chan_rec *chan = ldap->chan;
    long long wait = chan->timeout_sec * 1000LL + chan->timeout_usec / 1000;
    if (wait <= left)
        return chan_read_internal(chan, into, READ_PIECE, 1);
    int sec = chan->timeout_sec, usec = chan->timeout_usec;
    chan_timeout(chan, static_cast<int>(left / 1000), static_cast<int>(left % 1000) * 1000);
    int count = chan_read_internal(chan, into, READ_PIECE, 1);
    chan_timeout(chan, sec, usec);
    return count;
}

// A reply that carries an LDAPResult must begin with a result code from 0 to
// 2^31 - 1: anything else read as a code could pass for success, as a code
// without content octets would (it reads as 0).
bool result_code_valid(lresult *message)
{
    return !ldap_carries_result(message->application) ||
           (lresult_check(message, 0) == 1 && lresult_get(message, 0)->size > 0 &&
            lresult_get_int(message, 0) >= 0);
}

// Traces a built message and writes it in one piece; 1 when all went out.
int send_message(ldap_handle *ldap, const data_buf *message)
{
    if (ldap->log_dir)
        trace_outgoing(ldap, message);
    // A directory that stops reading must not hold a request past the
    // deadline either; one that did has timed out, as a silent one would.
    long long deadline = deadline_of(ldap);
    if (chan_write_until(ldap->chan, message->data, message->length, deadline * 1000) == 1)
        return 1;
    if (deadline && monotonic_ms() >= deadline)
        ldap->timed_out = 1;
    return 0;
}

// Undecodable or oversized input: the connection cannot be trusted any more.
lresult *junk(ldap_handle *ldap)
{
    chan_close(ldap->chan);
    ldap_drop_received(ldap);
    return nullptr;
}

// Reads until a whole message is buffered: 1 when it is (its size in
// *size), -1 when the buffered octets are junk, 0 when nothing more came,
// with what ldap_receive then hands out in *failure (an error result, or
// null after a time-out or a failed read).
int await_message(ldap_handle *ldap, int *size, lresult **failure)
{
    int state;
    while ((state = buffered_message(ldap, size)) == 0) {
        if (!ldap->chan) {
            *failure = error_result("LDAP Chanel not setup");
            return 0;
        }
        if (!reserve(ldap, READ_PIECE + 2)) {
            *failure = error_result("Out of Memory");
            return 0;
        }
        unsigned char *end = ldap->rx_data + ldap->rx_start + ldap->rx_len;
        int count = read_before_deadline(ldap, end);
        if (count == 0) {
            *failure = error_result(LDAP_TEXT_CLOSED);
            return 0;
        }
        if (count < 0) {
            ldap->timed_out = count == -2;
            *failure = nullptr;
            return 0;
        }
        ldap->rx_len += count;
    }
    return state;
}

// Takes the buffered message of size octets as read.
void consume(ldap_handle *ldap, int size)
{
    ldap->rx_len -= size;
    ldap->rx_start += size;
}

}  // namespace

void ldap_set_deadline(ldap_handle *ldap, int seconds)
{
    ldap->deadline_ms = seconds > 0 ? monotonic_ms() + seconds * 1000LL : 0;
}

void ldap_set_limit(ldap_handle *ldap, long long ms)
{
    if (ldap)
        ldap->limit_ms = ms > 0 ? monotonic_ms() + ms : 0;
}

long long ldap_limit_left(ldap_handle *ldap)
{
    return ldap->limit_ms ? ldap->limit_ms - monotonic_ms() : LLONG_MAX;
}

int ldap_seconds_left(ldap_handle *ldap, int seconds)
{
    long long left = ldap ? ldap_limit_left(ldap) : LLONG_MAX;
    // Rounded down: a wait of whole seconds must end by the limit, not after it.
    if (left < seconds * 1000LL)
        return left > 0 ? static_cast<int>(left / 1000) : 0;
    return seconds;
}

int ldap_timed_out(ldap_handle *ldap) { return ldap ? ldap->timed_out : 0; }

void ldap_drop_received(ldap_handle *ldap)
{
    free(ldap->rx_data);
    ldap->rx_data = nullptr;
    ldap->rx_len = 0;
    ldap->rx_start = 0;
    ldap->rx_size = 0;
}

int ldap_send(ldap_handle *ldap, const ldap_request *request, int msgid, static_list *controls)
{
    if (msgid == 0)
        msgid = next_message_id();
    if (!ldap || !ldap->chan || !request)
        return 0;
    data_buf message;
    data_init(&message);
    int sent =
        ldap_build_message(&message, request, msgid, controls) && send_message(ldap, &message);
    data_clear(&message);
    return sent;
}

int ldap_send_data(ldap_handle *ldap, int op, data_buf *body, int constructed, int msgid,
                   static_list *controls)
{
    if (!body || !ldap || !ldap->chan)
        return 0;
    data_buf message;
    data_init(&message);
    int sent = ldap_wrap_message(&message, op, body, constructed, msgid, controls) &&
               send_message(ldap, &message);
    data_clear(&message);
    return sent;
}

lresult *ldap_receive(ldap_handle *ldap, lresult **controls_out)
{
    if (!ldap)
        return nullptr;
    if (controls_out)
        *controls_out = nullptr;
    int size = 0;
    lresult *failure = nullptr;
    int state = await_message(ldap, &size, &failure);
    if (state == 0)
        return failure;
    if (state < 0) {
        ldap_log_data(ldap, "IN", LRESULT_INVALID, controls_out);
        return junk(ldap);
    }
    lresult *result =
        ldap_decode_data(ldap, ldap->rx_data + ldap->rx_start, ldap->rx_len, controls_out);
    ldap_log_data(ldap, "IN", result, controls_out);
    if (result == LRESULT_INVALID)
        return junk(ldap);
    if (result && !result_code_valid(result)) {
        ldap_emsg(ldap, "a reply of type %d carries no valid result code", result->application);
        ldap_free_message(result);
        if (controls_out) {
            ldap_free_message(*controls_out);
            *controls_out = nullptr;
        }
        return junk(ldap);
    }
    consume(ldap, size);
    // An emptied buffer stays for the next reply, unless a large message
    // grew it beyond a few reads' room.
    if (ldap->rx_len == 0 && ldap->rx_size > 4 * READ_PIECE)
        ldap_drop_received(ldap);
    else if (ldap->rx_len == 0)
        ldap->rx_start = 0;
    return result;
}

int ldap_receive_view(ldap_handle *ldap, int msgid, lresult **message, lresult **controls_out,
                      ldap_entry_view *entry)
{
    *message = nullptr;
    if (controls_out)
        *controls_out = nullptr;
    int size = 0, id = 0;
    int state = await_message(ldap, &size, message);
    if (state == 0)
        return 0;
    if (state > 0 && !ldap->log_dir && !ldap->dmsg &&
        ldap_entry_read(ldap->rx_data + ldap->rx_start, size, &id, entry) == 1 && id == msgid) {
        // The buffer stays, even when emptied: the entry lies in it.
        consume(ldap, size);
        return 1;
    }
    // A whole message (or junk) is buffered: ldap_receive reads nothing more.
    *message = ldap_receive_reply(ldap, msgid, controls_out);
    return 0;
}

int ldap_send_request(ldap_handle *ldap, const ldap_request *request, static_list *controls)
{
    ldap->timed_out = 0;
    int msgid = next_message_id();
    return ldap_send(ldap, request, msgid, controls) ? msgid : 0;
}

lresult *ldap_receive_reply(ldap_handle *ldap, int msgid, lresult **controls_out)
{
    for (;;) {
        lresult *controls = nullptr;
        lresult *message = ldap_receive(ldap, &controls);
        if (!message || message->application == -1 || message->id == msgid || message->id == 0) {
            if (controls_out)
                *controls_out = controls;
            else
                ldap_free_message(controls);
            return message;
        }
        ldap_dmsg(ldap, "dropped a reply to message %d while waiting for %d", message->id, msgid);
        ldap_free_message(message);
        ldap_free_message(controls);
    }
}
