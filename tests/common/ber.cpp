#include "common/ber.h"

#include <algorithm>
#include <cctype>

namespace {

unsigned char octet(const std::string &s, size_t i) { return static_cast<unsigned char>(s[i]); }

// The size of the tag and length octets of the element at pos, its content's
// length in *length; 0 when they are cut short or hold over four length octets.
size_t header_size(const std::string &s, size_t pos, size_t *length)
{
    if (pos + 2 > s.size()) return 0;
    size_t first = octet(s, pos + 1), count = first & 0x80 ? first & 0x7F : 0;
    if (count > 4 || pos + 2 + count > s.size()) return 0;
    *length = count ? 0 : first;
    for (size_t i = 0; i < count; i++) *length = *length << 8 | octet(s, pos + 2 + i);
    return 2 + count;
}

// The shortest big-endian octets of n, at least one.
std::string big_endian(size_t n)
{
    std::string octets(1, static_cast<char>(n & 0xFF));
    while (n >>= 8) octets.insert(octets.begin(), static_cast<char>(n & 0xFF));
    return octets;
}

}  // namespace

std::string hex_bytes(const std::string &hex)
{
    std::string out, digits;
    for (char c : hex)
        if (isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}

std::string ber_element(int tag, const std::string &content)
{
    std::string len = big_endian(content.size());
    if (content.size() >= 128) len = static_cast<char>(0x80 | len.size()) + len;
    return static_cast<char>(tag) + len + content;
}

std::string ber_integer(int tag, int value)
{
    std::string octets = big_endian(static_cast<unsigned>(value));
    return ber_element(tag, octets[0] & 0x80 ? '\0' + octets : octets);
}

std::string ldap_message(int id, const std::string &op) { return ber_element(0x30, ber_integer(0x02, id) + op); }

std::string ldap_result_bytes(int tag, int id, int code, const std::string &message, const std::string &matched,
                              const std::string &more)
{
    std::string op = ber_integer(0x0A, code) + ber_element(0x04, matched) + ber_element(0x04, message) + more;
    return ldap_message(id, ber_element(tag, op));
}

std::string ldap_entry_bytes(int id, const std::string &dn, const std::string &type, const std::string &value)
{
    return ldap_entry_bytes(id, dn, {{type, {value}}});
}

std::string ldap_entry_bytes(int id, const std::string &dn, const LdapAttributes &attributes)
{
    std::string list;
    for (const auto &attribute : attributes) {
        std::string values;
        for (const std::string &value : attribute.second) values += ber_element(0x04, value);
        list += ber_element(0x30, ber_element(0x04, attribute.first) + ber_element(0x31, values));
    }
    return ldap_message(id, ber_element(0x64, ber_element(0x04, dn) + ber_element(0x30, list)));
}

bool ber_next(const std::string &octets, size_t *pos, int *tag, std::string *content)
{
    size_t length = 0, header = header_size(octets, *pos, &length);
    if (!header || octets.size() - *pos - header < length) return false;
    *tag = octet(octets, *pos);
    if (content) *content = octets.substr(*pos + header, length);
    *pos += header + length;
    return true;
}

bool ldap_message_parts(const std::string &message, int *id, int *op_tag, std::string *op)
{
    std::string envelope, number;
    size_t pos = 0, at = 0;
    int tag = 0;
    if (!ber_next(message, &pos, &tag, &envelope) || tag != 0x30 || !ber_next(envelope, &at, &tag, &number) ||
        tag != 0x02 || number.size() > 4)
        return false;
    size_t op_at = at;
    if (!ber_next(envelope, &at, op_tag, nullptr)) return false;
    *op = envelope.substr(op_at, at - op_at);
    *id = 0;
    for (unsigned char c : number) *id = *id << 8 | c;
    return true;
}

int ber_message_id(const std::string &message)
{
    int id = 0, tag = 0;
    std::string op;
    return ldap_message_parts(message, &id, &tag, &op) ? id : 0;
}

// Tag and first length octet, the long form's length octets (one too many
// is enough to refuse), the content.
bool ber_read_element(const ByteSource &read, std::string *element)
{
    auto take = [&](size_t count) {
        char buf[65536];
        for (ssize_t n; count > 0; count -= static_cast<size_t>(n)) {
            if ((n = read(buf, std::min(count, sizeof buf))) <= 0) return false;
            element->append(buf, static_cast<size_t>(n));
        }
        return true;
    };
    element->clear();
    size_t length = 0;
    if (!take(2) || ((*element)[1] & 0x80 && !take(std::min<size_t>(octet(*element, 1) & 0x7F, 5)))) return false;
    return header_size(*element, 0, &length) && take(length);
}
