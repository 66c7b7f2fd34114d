// The connection handle's initialisation and the message functions through
// which every layer of the client reports to the owner's sinks.
#include "ldap/ldap.h"

#include <cstring>

namespace {

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
