// Active Directory explains a refused bind only in its diagnostic message:
// "80090308: LdapErr: DSID-0C09044E, comment: AcceptSecurityContext error,
// data 52e, v4563". The hexadecimal sub-code after "data" names the reason.
#include "ldap/ldap.h"

namespace {

struct sub_code {
    unsigned code;
    const char *reason;
};

const sub_code AD_REASONS[] = {
    {0x525, "user not found"},
    {0x52e, "invalid credentials"},
    {0x530, "not permitted to log on at this time"},
    {0x531, "not permitted to log on at this workstation"},
    {0x532, "password expired"},
    {0x533, "account disabled"},
    {0x701, "account expired"},
    {0x773, "user must reset password"},
    {0x775, "account locked out"},
};

bool is_alnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The reason for the sub-code written at text ("52e, v4563"); null when the
// hexadecimal digits there are not a whole known sub-code.
const char *reason_at(const char *text)
{
    unsigned code = 0;
    int digits = 0;
    for (; hex_value(text[digits]) >= 0; digits++) {
        if (digits == 8)
            return nullptr;
        code = code << 4 | static_cast<unsigned>(hex_value(text[digits]));
    }
    if (digits == 0 || is_alnum(text[digits]))
        return nullptr;
    for (const sub_code &entry : AD_REASONS)
        if (entry.code == code)
            return entry.reason;
    return nullptr;
}

}  // namespace

const char *ldap_ad_reason(const char *diagnostic)
{
    if (!diagnostic)
        return nullptr;
    for (const char *at = diagnostic; (at = s_stristr(at, "data ")) != nullptr; at++) {
        if (at > diagnostic && is_alnum(at[-1]))
            continue;
        if (const char *reason = reason_at(at + 5))
            return reason;
    }
    return nullptr;
}
