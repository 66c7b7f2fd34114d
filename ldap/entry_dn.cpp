// The DN of a SearchResultEntry read where it lies in the received octets,
// for a search that lists DNs only: no element list is built. The whole
// message is still walked under the decoder's own rules (ber_rules.h), so
// that an entry read here is one the decoder would have taken, and junk
// stays junk.
#include <cstring>

#include "ldap/ber_rules.h"

namespace {

// Whether the decoder takes every child of the constructed element e, whose
// children it meets at depth.
bool children_checked(const data_element &e, int depth)
{
    for (int pos = 0; pos < e.length;) {
        data_element child = ber_header(e.content + pos, e.length - pos);
        int type = 0, choice = 0;
        if (child.length == -2)
            return false;
        switch (ber_kind_of(static_cast<int>(child.tag), &type, &choice)) {
        case BER_NESTED:
            if (depth >= DECODE_MAX_DEPTH || !children_checked(child, depth + 1))
                return false;
            break;
        case BER_OPEN_SEQUENCE:
            // Its header alone: its content is read as further children.
            pos += child.header;
            continue;
        case BER_JUNK: return false;
        default: break;
        }
        pos += child.header + child.length;
    }
    return true;
}

}  // namespace

int ldap_entry_dn(const unsigned char *octets, int count, int *id, const char **dn, int *length)
{
    // The usual message: SEQUENCE { INTEGER id, [APPLICATION 4] entry,
    // [0] controls (optional) }, as the decoder's own fast way reads it.
    data_element message = ber_header(octets, count);
    if (message.length == -2 || message.tag != 0x30 || !id || !dn || !length)
        return 0;
    const unsigned char *end = message.content + message.length;
    data_element number = ber_header(message.content, message.length);
    if (number.length == -2 || number.tag != 0x02)
        return 0;
    const unsigned char *at = number.content + number.length;
    data_element entry = ber_header(at, static_cast<int>(end - at));
    if (entry.length == -2 || entry.tag != 0x64)
        return 0;
    at = entry.content + entry.length;
    data_element controls = ber_header(at, static_cast<int>(end - at));
    if (at != end && (controls.length == -2 || controls.tag != 0xA0 ||
                      controls.content + controls.length != end))
        return 0;
    // The decoder meets the children of both at depth 2.
    if (!children_checked(entry, 2) || (at != end && !children_checked(controls, 2)))
        return -1;
    // The DN is the first element's text: none without elements, none for
    // an empty one, and up to its first zero octet, as a C text reads it.
    data_element name = ber_header(entry.content, entry.length);
    if (entry.length > 0 && name.tag != 0x04)
        return 0;
    *id = ber_integer_value(number.content, number.length);
    *dn = nullptr;
    *length = 0;
    if (entry.length > 0 && name.length > 0) {
        *dn = reinterpret_cast<const char *>(name.content);
        const void *zero = memchr(*dn, 0, static_cast<size_t>(name.length));
        *length = zero ? static_cast<int>(static_cast<const char *>(zero) - *dn) : name.length;
    }
    return 1;
}
