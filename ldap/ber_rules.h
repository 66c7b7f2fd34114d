// How the BER decoder takes each element, shared by the decoder and by the
// reading of entry DNs in place, which must accept exactly what the decoder
// accepts; not part of the public contract.
#ifndef LDAP_BER_RULES_H
#define LDAP_BER_RULES_H

#include "ldap/ldap.h"

// Constructed levels the decoder descends before it calls the input junk.
#define DECODE_MAX_DEPTH 64

// What an element becomes: a nested list; a text node (BIT, OCTET,
// PrintableString, IA5String, any context-specific or application
// primitive); an integer node (BOOLEAN, INTEGER, ENUMERATED); nothing (NULL,
// OID, REAL, SET, time types); a primitive SEQUENCE, whose header alone is
// taken (its content is read as further elements of the enclosing list);
// or junk (any other universal type).
enum ber_kind { BER_NESTED, BER_TEXT, BER_INTEGER, BER_SKIPPED, BER_OPEN_SEQUENCE, BER_JUNK };

// The kind of element the identifier octet tag makes; for a text or integer
// node also its node type and choice (the low four identifier bits, -1 for a
// universal primitive). Inline, as ber_header: the DNs of a search's
// entries are read with them, entry after entry.
inline ber_kind ber_kind_of(int tag, int *type, int *choice)
{
    *choice = -1;
    if (tag & 0x20)
        return BER_NESTED;
    if (tag & 0x80) {
        *type = tag;
        *choice = tag & 0x0F;
        return BER_TEXT;
    }
    // An application primitive is read as an OCTET STRING.
    *type = (tag & 0xC0) == 0x40 ? 4 : tag & 0x1F;
    switch (*type) {
    case 1:
    case 2:
    case 10: return BER_INTEGER;
    case 3:
    case 4:
    case 19:
    case 22: return BER_TEXT;
    case 5:
    case 6:
    case 9:
    case 17:
    case 23:
    case 24: return BER_SKIPPED;
    case 16: return BER_OPEN_SEQUENCE;
    default: return BER_JUNK;
    }
}

// data_break_down's reading of an element's header.
inline data_element ber_header(const unsigned char *octets, int count)
{
    data_element e = {0, -2, nullptr, 0};
    if (!octets || count < 2)
        return e;
    e.tag = octets[0];
    uint32_t length = octets[1];
    int header = 2;
    if (length == 0x80) {
        length = 0;  // the open-ended form is not read: the element is empty
    } else if (length > 0x80) {
        int n = length & 0x7F;
        if (count < n + 2)
            return e;
        // Octets that 32 bits cannot hold would be lost, not read: such a
        // length is more than any input holds.
        length = 0;
        for (int i = 0; i < n; i++) {
            if (length >> 24)
                return e;
            length = length << 8 | octets[2 + i];
        }
        header = n + 2;
    }
    e.header = header;
    if (length > static_cast<uint32_t>(count - header))
        return e;
    e.length = static_cast<int>(length);
    e.content = octets + header;
    return e;
}

// The value of an INTEGER's content octets, read as 32 bits; one that needs
// more reads as INT_MIN.
int ber_integer_value(const unsigned char *content, int length);

#endif
