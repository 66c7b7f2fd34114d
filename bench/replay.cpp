// Recording and replaying a directory server's reply streams, so that a
// search of 100,000 entries costs the server nothing and the clients' own
// cost dominates.
//
//   replay record DIR PORTFILE UPSTREAM_PORT
//       a proxy to 127.0.0.1:UPSTREAM_PORT that keeps, for every search
//       request passing through, the server's replies to it (entries and
//       the final result) in DIR, named by a hash of the request;
//   replay serve DIR PORTFILE
//       answers every bind with success and every recorded search with its
//       recording, written as fast as the socket takes it.
//
// Both listen on 127.0.0.1 at a free port, write its number to PORTFILE
// once they accept connections, and serve one connection at a time until
// they are killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "bench/wire.h"

static std::string directory;

// Search requests differ only in their operation element, not in their ID.
static std::string key_of(const std::string &op) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : op) hash = (hash ^ c) * 1099511628211ull;
    char name[40];
    snprintf(name, sizeof name, "%016llx.stream", static_cast<unsigned long long>(hash));
    return directory + "/" + name;
}

static bool send_all(int fd, const std::string &octets) {
    for (size_t done = 0; done < octets.size();) {
        ssize_t sent = send(fd, octets.data() + done, octets.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += sent;
    }
    return true;
}

// Takes every complete message off the front of buffer.
template <typename Handler> static void each_message(std::string &buffer, Handler handle) {
    size_t pos = 0, start = 0, length = 0, taken = 0;
    int tag = 0;
    while (wire_read(buffer, pos, tag, start, length)) {
        handle(buffer.substr(taken, pos - taken));
        taken = pos;
    }
    buffer.erase(0, taken);
}

static int listen_local(const char *port_file) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        listen(fd, 16) != 0 || getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        perror("replay: listen");
        exit(1);
    }
    std::string temporary = std::string(port_file) + ".tmp";
    std::ofstream(temporary) << ntohs(address.sin_port) << "\n";
    rename(temporary.c_str(), port_file);
    return fd;
}

static int connect_local(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One client through the proxy: bytes go both ways unchanged.
static void record_connection(int client, int upstream_port) {
    int server = connect_local(upstream_port);
    if (server < 0) {
        close(client);
        return;
    }
    std::string from_client, from_server, recording, file;
    int search_id = -1;
    char chunk[65536];
    for (;;) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) break;
        if (fds[0].revents) {
            ssize_t got = read(client, chunk, sizeof chunk);
            if (got <= 0 || !send_all(server, std::string(chunk, got))) break;
            from_client.append(chunk, got);
            each_message(from_client, [&](const std::string &message) {
                int id = 0, tag = 0;
                std::string op;
                if (wire_message(message, id, tag, op) && tag == 0x63) {
                    search_id = id;
                    file = key_of(op);
                    recording.clear();
                }
            });
        }
        if (fds[1].revents) {
            // The recording is on disk before the client can see its end.
            ssize_t got = read(server, chunk, sizeof chunk);
            if (got <= 0) break;
            from_server.append(chunk, got);
            each_message(from_server, [&](const std::string &message) {
                int id = 0, tag = 0;
                std::string op;
                if (search_id < 0 || !wire_message(message, id, tag, op) || id != search_id) return;
                recording += message;
                if (tag == 0x65) {
                    std::string temporary = file + ".tmp";
                    std::ofstream(temporary, std::ios::binary) << recording;
                    rename(temporary.c_str(), file.c_str());
                    search_id = -1;
                }
            });
            if (!send_all(client, std::string(chunk, got))) break;
        }
    }
    close(server);
    close(client);
}

// The recording with every message's ID replaced (when it differs).
static std::string with_id(const std::string &recording, int id) {
    std::string copy = recording, out;
    bool same = true;
    each_message(copy, [&](const std::string &message) {
        int old_id = 0, tag = 0;
        std::string op;
        if (!wire_message(message, old_id, tag, op)) return;
        same = same && old_id == id;
        out += wire_wrap(id, op);
    });
    return same ? recording : out;
}

static void serve_connection(int client) {
    static std::map<std::string, std::string> loaded;
    std::string buffer;
    char chunk[65536];
    bool open = true;
    while (open) {
        ssize_t got = read(client, chunk, sizeof chunk);
        if (got <= 0) break;
        buffer.append(chunk, got);
        each_message(buffer, [&](const std::string &message) {
            int id = 0, tag = 0;
            std::string op;
            if (!open || !wire_message(message, id, tag, op)) return;
            if (tag == 0x60) {
                open = send_all(client, wire_result(id, 0x61, 0));
            } else if (tag == 0x63) {
                std::string file = key_of(op);
                if (!loaded.count(file)) {
                    std::ifstream in(file, std::ios::binary);
                    std::stringstream content;
                    content << in.rdbuf();
                    loaded[file] = content.str();
                }
                const std::string &recording = loaded[file];
                open = send_all(client, recording.empty() ? wire_result(id, 0x65, 1)
                                                          : with_id(recording, id));
            } else if (tag == 0x42) {
                open = false;
            }
        });
    }
    close(client);
}

int main(int argc, char **argv) {
    bool record = argc == 5 && !strcmp(argv[1], "record");
    if (!record && !(argc == 4 && !strcmp(argv[1], "serve"))) {
        fprintf(stderr, "usage: replay record DIR PORTFILE UPSTREAM_PORT | replay serve DIR PORTFILE\n");
        return 2;
    }
    directory = argv[2];
    int listener = listen_local(argv[3]);
    for (;;) {
        int client = accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        if (record) record_connection(client, atoi(argv[4]));
        else serve_connection(client);
    }
}
