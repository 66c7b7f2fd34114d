#include "fuzz/fake_directory.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "bench/wire.h"

static std::string attribute(const std::string &type, const std::string &a, const std::string &b) {
    std::string values = wire_element(0x04, a);
    if (!b.empty()) values += wire_element(0x04, b);
    return wire_element(0x30, wire_element(0x04, type) + wire_element(0x31, values));
}

static std::string entry(int id, const std::string &dn) {
    std::string attributes = attribute("cn", "Jo Smith", "") +
                             attribute("MAIL", "jo@example.com", "j.smith@example.com") +
                             attribute("telephoneNumber", "+1 555 0100", "") +
                             attribute("objectClass", "top", "inetOrgPerson");
    return wire_wrap(id, wire_element(0x64, wire_element(0x04, dn) + wire_element(0x30, attributes)));
}

// A bind succeeds; a search gets one entry named by its base (base-object
// scope) or three fixed ones, then success.
static std::string reply(const std::string &request) {
    int id = 0, tag = 0;
    std::string op;
    if (!wire_message(request, id, tag, op)) return "";
    if (tag == 0x60) return wire_result(id, 0x61, 0);
    if (tag != 0x63) return "";
    size_t pos = 0, start = 0, length = 0, base_start = 0, base_length = 0;
    if (!wire_read(op, pos, tag, start, length)) return "";
    pos = start;
    if (!wire_read(op, pos, tag, base_start, base_length) || !wire_read(op, pos, tag, start, length))
        return "";
    if (length == 1 && op[start] == 0)
        return entry(id, op.substr(base_start, base_length)) + wire_result(id, 0x65, 0);
    return entry(id, "cn=Jo Smith,ou=People,dc=example,dc=com") +
           entry(id, "cn=Smith\\2C John,ou=People,dc=example,dc=com") +
           entry(id, "uid=x\n!y,dc=example,dc=com") + wire_result(id, 0x65, 0);
}

static void serve_connection(int fd) {
    std::string buffer;
    char chunk[4096];
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        buffer.append(chunk, got);
        size_t pos = 0, start = 0, length = 0;
        int tag = 0;
        while (wire_read(buffer, pos, tag, start, length)) {
            std::string answer = reply(buffer.substr(0, pos));
            buffer.erase(0, pos);
            pos = 0;
            if (!answer.empty() && send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
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
