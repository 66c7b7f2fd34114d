// The connection handle: its initialisation, the message functions through
// which every layer of the client reports to the owner's sinks, and the
// outcome of each operation kept on it (error text and code, referrals).
#include "ldap/ldap.h"
#include "ldap/reply.h"

#include <climits>
#include <cstdlib>
#include <cstring>

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

// A referral that cannot be kept (one too many, or no memory for it) is
// still counted: the operation then reports referrals all the same.
void add_referral(ldap_handle *ldap, const char *url)
{
    if (!url)
        return;
    char *copy = static_size(&ldap->referrals) < LDAP_MAX_REFERRALS ? strdup(url) : nullptr;
    if (!copy || static_add(&ldap->referrals, copy) < 0) {
        free(copy);
        // Counted without being kept, so nothing else bounds the count.
        if (ldap->referrals_dropped < INT_MAX)
            ldap->referrals_dropped++;
    }
}

// "LDAP: " and the formatted text, cut to fit 1024 octets.
int handle_message(msg_fn sink, const char *format, va_list args)
{
    if (!sink)
        return 1;
    static const char prefix[] = "LDAP: ";
    char text[1024];
    memcpy(text, prefix, sizeof prefix);
    lvprintf(text + sizeof prefix - 1, sizeof text - (sizeof prefix - 1), format, args);
    sink("%s", text);
    return 1;
}

}  // namespace

void ldap_init(ldap_handle *ldap, msg_fn emsg, msg_fn dmsg)
{
    if (!ldap)
        return;
    memset(ldap, 0, sizeof *ldap);
    ldap->emsg = emsg;
    ldap->dmsg = dmsg;
    static_init(&ldap->referrals, nullptr);
}

int ldap_emsg(ldap_handle *ldap, const char *format, ...)
{
    if (!ldap)
        return 0;
    va_list args;
    va_start(args, format);
    int result = handle_message(ldap->emsg, format, args);
    va_end(args);
    return result;
}

int ldap_dmsg(ldap_handle *ldap, const char *format, ...)
{
    if (!ldap)
        return 0;
    va_list args;
    va_start(args, format);
    int result = handle_message(ldap->dmsg, format, args);
    va_end(args);
    return result;
}

void ldap_set_error(ldap_handle *ldap, const char *text, int code)
{
    // Copied first: text may be the handle's own.
    char *copy = text ? strdup(text) : nullptr;
    free(ldap->error_text);
    ldap->error_text = copy;
    ldap->error_code = code;
}

int ldap_error(ldap_handle *ldap) { return ldap ? ldap->error_code : -1; }

char *ldap_error_str(ldap_handle *ldap) { return ldap ? ldap->error_text : nullptr; }

void ldap_log(ldap_handle *ldap, const char *text, lresult *result)
{
    if (!ldap)
        return;
    if (!result || result == LRESULT_INVALID) {
        ldap_set_error(ldap, text, -1);
        return;
    }
    // An error result of the exchange carries no result code, only its text.
    int code = result->application == -1 ? -1 : lresult_get_int(result, 0);
    if (code == 0) {
        ldap_set_error(ldap, nullptr, 0);
        return;
    }
    const char *detail = code == -1 ? result->error : lresult_get_char(result, 2);
    if (!detail && code != -1)
        detail = lresult_get_char(result, 1);
    char line[512];
    // Active Directory explains a refused bind only by a sub-code inside its
    // text: its meaning is added in words, after a text cut to leave room.
    const char *reason =
        result->application == LDAP_BIND_RESPONSE ? ldap_ad_reason(detail) : nullptr;
    if (reason)
        lprintf(line, sizeof line, "%s - %.400s (%s)", result_name(code), detail, reason);
    else
        lprintf(line, sizeof line, "%s - %s", result_name(code), detail);
    ldap_set_error(ldap, line, code);
    ldap_emsg(ldap, "%s {%s}", text, ldap->error_text);
}

int ldap_log_answer(ldap_handle *ldap, const char *text, lresult *reply, int code)
{
    ldap_log(ldap, text, reply);
    if (code == -1 && ldap->error_code == 0) {
        char line[256];
        lprintf(line, sizeof line, "%s - not an answer to the request", text);
        ldap_log(ldap, line, nullptr);
    }
    return code;
}

void ldap_clear_referrals(ldap_handle *ldap)
{
    static_clear_dealloc(&ldap->referrals);
    ldap->referrals_dropped = 0;
}

void ldap_gather_referrals(ldap_handle *ldap, lresult *message, int position, int all_after)
{
    lresult *nested = lresult_get_result(message, position, 0);
    if (nested) {
        for (int i = 0; i < lresult_size(nested); i++)
            add_referral(ldap, lresult_get_char(nested, i));
    } else {
        add_referral(ldap, lresult_get_char(message, position));
    }
    for (int i = position + 1; all_after && i < lresult_size(message); i++)
        add_referral(ldap, lresult_get_char(message, i));
}

char *ldap_first_referral(ldap_handle *ldap)
{
    if (!ldap)
        return nullptr;
    return static_cast<char *>(static_get_num(&ldap->referrals, 0));
}

char *ldap_next_referral(ldap_handle *ldap)
{
    return ldap ? static_cast<char *>(static_get(&ldap->referrals)) : nullptr;
}
