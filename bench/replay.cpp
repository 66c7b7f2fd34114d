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
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "common/fake_server.h"
#include "common/loopback.h"
#include "common/tempdir.h"

namespace {

std::string directory;
int upstream_port = 0;

// Search requests differ only in their operation element, not in their ID.
std::string key_of(const std::string &op)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : op) hash = (hash ^ c) * 1099511628211ull;
    char name[40];
    snprintf(name, sizeof name, "%016llx.stream", static_cast<unsigned long long>(hash));
    return directory + "/" + name;
}

// Written whole under a temporary name, so that no reader sees a part.
void write_whole(const std::string &path, const std::string &content)
{
    std::string temporary = path + ".tmp";
    std::ofstream(temporary, std::ios::binary) << content;
    rename(temporary.c_str(), path.c_str());
}

// Whether a reply with this tag ends the exchange its request began: all
// but entries, references and intermediate responses do.
bool is_final(int tag) { return tag != 0x64 && tag != 0x73 && tag != 0x79; }

// Passes the request on to the server (one connection for each client,
// left with its unbind) and gives back the server's replies to it, the
// recording of a search on disk before the client can see its end.
std::string relay(const std::string &request)
{
    static int server = -1;
    int id = 0, tag = 0, reply_id = 0, reply_tag = 0;
    std::string op, reply, reply_op, replies;
    if (!ldap_message_parts(request, &id, &tag, &op)) return "";
    if (server < 0) server = loopback_connect("127.0.0.1", upstream_port);
    bool sent = server >= 0 && write(server, request.data(), request.size()) == ssize_t(request.size());
    if (sent && tag == 0x50) return "";  // an abandon has no answer
    bool done = false;
    while (sent && tag != 0x42 && !done &&
           ber_read_element([](char *buf, size_t len) { return read(server, buf, len); }, &reply)) {
        replies += reply;
        done = ldap_message_parts(reply, &reply_id, &reply_tag, &reply_op) && reply_id == id && is_final(reply_tag);
    }
    if (done && tag == 0x63) write_whole(key_of(op), replies);
    if (!done && server >= 0) {
        close(server);
        server = -1;
    }
    return replies;
}

// The recording with every message's ID replaced; the recording itself when
// its messages (which all share one ID) already have that one.
std::string with_id(const std::string &recording, int id)
{
    std::string out, op;
    int old_id = 0, tag = 0;
    for (size_t pos = 0, start = 0; start = pos, ber_next(recording, &pos, &tag, nullptr);) {
        if (!ldap_message_parts(recording.substr(start, pos - start), &old_id, &tag, &op)) continue;
        if (old_id == id) return recording;
        out += ldap_message(id, op);
    }
    return out;
}

// A bind succeeds, a search gets its recording (the search failing when
// there is none), others nothing. Each stream is made once per message ID.
std::string serve(const std::string &request)
{
    static std::map<std::string, std::string> streams;
    int id = 0, tag = 0;
    std::string op;
    if (!ldap_message_parts(request, &id, &tag, &op)) return "";
    if (tag == 0x60) return ldap_result_bytes(0x61, id, 0);
    if (tag != 0x63) return "";
    std::string file = key_of(op), &stream = streams[file + " " + std::to_string(id)];
    if (stream.empty()) {
        std::string recording = read_file(file);
        stream = recording.empty() ? ldap_result_bytes(0x65, id, 1) : with_id(recording, id);
    }
    return stream;
}

}  // namespace

int main(int argc, char **argv)
{
    bool record = argc == 5 && !strcmp(argv[1], "record");
    if (!record && !(argc == 4 && !strcmp(argv[1], "serve"))) {
        fprintf(stderr, "usage: replay record DIR PORTFILE UPSTREAM_PORT | replay serve DIR PORTFILE\n");
        return 2;
    }
    directory = argv[2];
    upstream_port = record ? atoi(argv[4]) : 0;
    FakeServer server;
    if (!server.port()) {
        perror("replay: listen");
        return 1;
    }
    server.answer_all(record ? relay : serve).start();
    write_whole(argv[3], std::to_string(server.port()) + "\n");
    server.wait();
}
