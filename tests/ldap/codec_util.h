// Helpers of the codec tests: hex views of encoder buffers, owned decoded
// lists, and the common message sink that records what the client reports.
#pragma once
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/message_log.h"
#include "ldap/ldap.h"

// Octets as upper-case hex without separators.
std::string hex(const void *octets, int count);
std::string hex(const data_buf &buf);

// An encoder buffer that clears itself.
struct Buf {
    data_buf b;
    Buf() { data_init(&b); }
    ~Buf() { data_clear(&b); }
    std::string hex() const { return ::hex(b); }
};

// Compiles a filter text and returns the hex of what was appended.
std::string filter_hex(const char *text, int use_default = 0, int *count = nullptr);

// A decoded list released with its record; LRESULT_INVALID and null kept as is.
struct ListDeleter {
    void operator()(lresult *list) const;
};
using List = std::unique_ptr<lresult, ListDeleter>;
// Decoded from a copy of exactly their size, so the sanitizers see any read
// beyond the octets: one message, or one element of any kind.
List decode_message(const std::string &octets, lresult **controls = nullptr,
                    ldap_handle *ldap = nullptr);
List decode_element(const std::string &octets, ldap_handle *ldap = nullptr);
inline bool is_invalid(const List &list) { return list.get() == LRESULT_INVALID; }
