// Just enough BER to stand in for a directory server: writing an element
// with a definite length, and reading one element's tag and content. Shared
// by the replay server here and the scripted directory of the fuzz targets.
#ifndef BENCH_WIRE_H
#define BENCH_WIRE_H

#include <cstddef>
#include <string>

// One element: tag, length octets (short or long form), content.
inline std::string wire_element(int tag, const std::string &content) {
    std::string out(1, static_cast<char>(tag));
    size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string digits;
        for (; n; n >>= 8) digits.insert(digits.begin(), static_cast<char>(n & 0xFF));
        out += static_cast<char>(0x80 | digits.size());
        out += digits;
    }
    return out + content;
}

// Reads the element at pos: its tag and where its content lies; moves pos
// past it. False (pos unchanged) when the element is not complete.
inline bool wire_read(const std::string &s, size_t &pos, int &tag, size_t &start,
                      size_t &length) {
    if (pos + 2 > s.size()) return false;
    size_t n = static_cast<unsigned char>(s[pos + 1]), at = pos + 2;
    if (n & 0x80) {
        size_t digits = n & 0x7F;
        if (digits > 4 || at + digits > s.size()) return false;
        n = 0;
        for (size_t i = 0; i < digits; i++) n = n << 8 | static_cast<unsigned char>(s[at + i]);
        at += digits;
    }
    if (at + n > s.size()) return false;
    tag = static_cast<unsigned char>(s[pos]);
    start = at;
    length = n;
    pos = at + n;
    return true;
}

// The message ID and the operation element (tag, whole octets) of one
// LDAPMessage; false when it is not one.
inline bool wire_message(const std::string &message, int &id, int &op_tag, std::string &op) {
    size_t pos = 0, start = 0, length = 0;
    int tag = 0;
    if (!wire_read(message, pos, tag, start, length) || tag != 0x30) return false;
    std::string envelope = message.substr(start, length);
    pos = 0;
    if (!wire_read(envelope, pos, tag, start, length) || tag != 0x02 || length > 4) return false;
    id = 0;
    for (size_t i = 0; i < length; i++) id = id << 8 | static_cast<unsigned char>(envelope[start + i]);
    size_t op_at = pos;
    if (!wire_read(envelope, pos, op_tag, start, length)) return false;
    op = envelope.substr(op_at, pos - op_at);
    return true;
}

// An LDAPMessage with the given ID around an operation element.
inline std::string wire_wrap(int id, const std::string &op) {
    std::string octets;
    for (int shift = 24; shift >= 0; shift -= 8)
        if ((id >> shift) || shift == 0 || !octets.empty())
            octets += static_cast<char>((id >> shift) & 0xFF);
    if (static_cast<unsigned char>(octets[0]) & 0x80) octets.insert(octets.begin(), '\0');
    return wire_element(0x30, wire_element(0x02, octets) + op);
}

// A result (BindResponse, SearchResultDone, ...) with a code and no texts.
inline std::string wire_result(int id, int op_tag, int code) {
    return wire_wrap(id, wire_element(op_tag, wire_element(0x0A, std::string(1, static_cast<char>(code))) +
                                                  wire_element(0x04, "") + wire_element(0x04, "")));
}

#endif
