#include "fuzz/fake_directory.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

// BER pieces, definite lengths only.
static std::string ber(int tag, const std::string &content) {
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

static std::string message(int id, const std::string &op) {
    return ber(0x30, ber(0x02, std::string(1, static_cast<char>(id & 0x7F))) + op);
}

static std::string done(int tag) {
    return ber(tag, ber(0x0A, std::string(1, '\0')) + ber(0x04, "") + ber(0x04, ""));
}

static std::string attribute(const std::string &type, const std::string &a, const std::string &b) {
    std::string values = ber(0x04, a);
    if (!b.empty()) values += ber(0x04, b);
    return ber(0x30, ber(0x04, type) + ber(0x31, values));
}

static std::string entry(int id, const std::string &dn) {
    std::string attributes = attribute("cn", "Jo Smith", "") +
                             attribute("MAIL", "jo@example.com", "j.smith@example.com") +
                             attribute("telephoneNumber", "+1 555 0100", "") +
                             attribute("objectClass", "top", "inetOrgPerson");
    return message(id, ber(0x64, ber(0x04, dn) + ber(0x30, attributes)));
}

// Reads one element at pos: its tag and content; false when cut short.
static bool element(const std::string &s, size_t &pos, int &tag, std::string &content) {
    if (pos + 2 > s.size()) return false;
    tag = static_cast<unsigned char>(s[pos]);
    size_t length = static_cast<unsigned char>(s[pos + 1]), at = pos + 2;
    if (length & 0x80) {
        size_t n = length & 0x7F;
        if (n > 4 || at + n > s.size()) return false;
        length = 0;
        for (size_t i = 0; i < n; i++) length = length << 8 | static_cast<unsigned char>(s[at + i]);
        at += n;
    }
    if (at + length > s.size()) return false;
    content = s.substr(at, length);
    pos = at + length;
    return true;
}

// The reply to one request: a bind succeeds, a search gets its entries.
static std::string reply(const std::string &request) {
    size_t pos = 0;
    int tag = 0, id = 0;
    std::string envelope, field;
    if (!element(request, pos, tag, envelope)) return "";
    pos = 0;
    if (!element(envelope, pos, tag, field) || tag != 0x02) return "";
    for (unsigned char octet : field) id = id << 8 | octet;
    std::string op;
    if (!element(envelope, pos, tag, op)) return "";
    if (tag == 0x60) return message(id, done(0x61));
    if (tag != 0x63) return "";
    std::string base, scope;
    size_t at = 0;
    if (!element(op, at, tag, base) || !element(op, at, tag, scope)) return "";
    if (scope == std::string(1, '\0')) return entry(id, base) + message(id, done(0x65));
    return entry(id, "cn=Jo Smith,ou=People,dc=example,dc=com") +
           entry(id, "cn=Smith\\2C John,ou=People,dc=example,dc=com") +
           entry(id, "uid=x\n!y,dc=example,dc=com") + message(id, done(0x65));
}

static void serve_connection(int fd) {
    std::string buffer;
    char chunk[4096];
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        buffer.append(chunk, got);
        for (;;) {
            size_t length = 0;
            int tag = 0;
            std::string content;
            if (!element(buffer, length, tag, content)) break;
            std::string answer = reply(buffer.substr(0, length));
            buffer.erase(0, length);
            if (!answer.empty() && send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0)
                break;
        }
    }
    close(fd);
}

int fake_directory_start() {
    static int port = 0;
    if (port) return port;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return 0;
    port = ntohs(address.sin_port);
    std::thread([listener] {
        for (;;) {
            int fd = accept(listener, nullptr, nullptr);
            if (fd >= 0) serve_connection(fd);
        }
    }).detach();
    return port;
}
