// A scripted fake LDAP server on a 127.0.0.1 socket, for what a real server
// cannot be made to do: replies split over many reads, several replies in
// one write, junk, a connection closed mid-stream, silence.
//
// Build the script, then start(); a thread accepts one connection and plays
// the steps in order. When the script ends without close(), the connection
// stays open (silent) until the object is destroyed.
//
//     FakeServer fake;
//     fake.read_request()
//         .reply([](const std::string &req) { return bind_ok(ber_message_id(req)); })
//         .send(hex_bytes("30 0c ..."), 3, 10)   // 3 octets per write, 10 ms apart
//         .close();
//     fake.start();
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeServer {
public:
    FakeServer();   // listens on 127.0.0.1 at a free port
    ~FakeServer();  // ends the script, closes everything, joins the thread
    FakeServer(const FakeServer &) = delete;
    FakeServer &operator=(const FakeServer &) = delete;

    int port() const { return port_; }
    const char *host() const { return "127.0.0.1"; }

    // Script steps.
    FakeServer &read_request();  // waits for one whole BER message
    // Writes bytes in writes of `chunk` octets (0: all at once), pausing
    // pause_ms after each write but the last.
    FakeServer &send(const std::string &bytes, int chunk = 0, int pause_ms = 0);
    // Writes what the function makes of the last request read.
    FakeServer &reply(std::function<std::string(const std::string &request)> make);
    FakeServer &pause(int ms);
    FakeServer &close();            // closes the connection
    FakeServer &next_connection();  // closes it and accepts the next one

    void start();
    // Waits until the script has been played to its end (or the peer left).
    void wait();
    // The requests read so far, raw.
    std::vector<std::string> requests() const;

private:
    struct Step {
        enum Kind { READ, SEND, REPLY, PAUSE, CLOSE, NEXT } kind;
        std::string bytes;
        int chunk = 0;
        int pause_ms = 0;
        std::function<std::string(const std::string &)> make;
    };
    void play();
    bool accept_one();
    bool read_exact(std::string *into, size_t count);
    bool read_message(std::string *message);
    bool write_all(const char *data, size_t len);

    int listen_fd_ = -1;
    int conn_fd_ = -1;
    int port_ = 0;
    std::vector<Step> steps_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> played_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// "30 0c 02 01" -> the octets; blanks are ignored.
std::string hex_bytes(const std::string &hex);
// One BER element with definite length; an INTEGER-shaped element (tag
// 0x02, or 0x0A for ENUMERATED) of a non-negative value.
std::string ber_element(int tag, const std::string &content);
std::string ber_integer(int tag, int value);
// The message ID of an encoded LDAP message (0 when it cannot be read).
int ber_message_id(const std::string &message);
// An LDAPResult-shaped reply (tag 0x61 BindResponse, 0x65 SearchResultDone,
// ...) with the given ID, result code and error message, matched DN empty.
std::string ldap_result_bytes(int tag, int id, int code, const std::string &message = "");
// A SearchResultEntry with one attribute of one value.
std::string ldap_entry_bytes(int id, const std::string &dn, const std::string &type,
                             const std::string &value);
