// Just enough BER to stand in for a directory server or to hand the client
// octets of one's own making: writing elements and LDAP messages, reading
// elements back from a string or from a stream. Shared by the tests, the
// fuzz targets and the benchmarks. Lengths are written in the shortest form;
// reading takes up to four length octets, and anything else is no element.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// "30 0c 02 01" -> the octets; blanks are ignored.
std::string hex_bytes(const std::string &hex);

// A BER element of definite length; an INTEGER-shaped one (tag 0x02, 0x0A
// for ENUMERATED) of a non-negative value.
std::string ber_element(int tag, const std::string &content);
std::string ber_integer(int tag, int value);

// An LDAPMessage: the message ID and an operation element (whole octets).
std::string ldap_message(int id, const std::string &op);
// An LDAPResult-shaped reply (0x61 BindResponse, 0x65 SearchResultDone, ...);
// more (referrals, a response name, ...) follows the three usual fields.
std::string ldap_result_bytes(int tag, int id, int code, const std::string &message = "",
                              const std::string &matched = "", const std::string &more = "");
// A SearchResultEntry with one attribute of one value, or with attributes
// of any number of values each.
using LdapAttributes = std::vector<std::pair<std::string, std::vector<std::string>>>;
std::string ldap_entry_bytes(int id, const std::string &dn, const std::string &type, const std::string &value);
std::string ldap_entry_bytes(int id, const std::string &dn, const LdapAttributes &attributes);

// Reads the element at *pos of octets: its tag and (unless null) its
// content; moves *pos past it. False, nothing moved, when no whole element
// starts there.
bool ber_next(const std::string &octets, size_t *pos, int *tag, std::string *content);
// The message ID, operation tag and operation element (whole octets) of an
// LDAPMessage; false when it is not one.
bool ldap_message_parts(const std::string &message, int *id, int *op_tag, std::string *op);
// The message ID of an encoded LDAP message (0 when it cannot be read).
int ber_message_id(const std::string &message);

// Gives up to len octets of a stream into buf: how many (> 0), or 0 (or
// less) at its end or on failure.
using ByteSource = std::function<ssize_t(char *buf, size_t len)>;
// Reads one whole element from the stream into *element; false when the
// stream ends first or the element's length cannot be read.
bool ber_read_element(const ByteSource &read, std::string *element);
