// A scripted fake LDAP server on 127.0.0.1, for what a real server cannot be
// made to do: replies split over many reads, junk, silence, a connection
// closed mid-stream. Build the script (fake.read_request().send(...)...),
// then start(): a thread accepts one connection and plays the steps in
// order; after the last one the connection stays open, silent. With
// use_tls, each connection starts with a TLS handshake and every step goes
// through the session: each write of a step is one TLS record (or more when
// above 16 KiB), and close() sends a close_notify.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeServer {
public:
    using Maker = std::function<std::string(const std::string &request)>;

    FakeServer();   // listens on 127.0.0.1 at a free port
    ~FakeServer();  // ends the script, closes everything, joins the thread
    FakeServer(const FakeServer &) = delete;
    FakeServer &operator=(const FakeServer &) = delete;

    // Serves TLS with the PEM certificate (chain) and key; before start().
    // False when they cannot be loaded.
    bool use_tls(const std::string &cert_file, const std::string &key_file);

    int port() const { return port_; }
    const char *host() const { return "127.0.0.1"; }

    FakeServer &read_request();  // one whole BER message
    // Writes of `chunk` octets (0: all at once), pause_ms apart.
    FakeServer &send(const std::string &bytes, int chunk = 0, int pause_ms = 0);
    FakeServer &reply(Maker make);  // writes what make gives for the last request
    FakeServer &close();
    // Closes the connection and accepts the next; when keep_open, only once
    // the peer has left or connected again.
    FakeServer &next_connection(bool keep_open = false);

    void start();
    void wait();  // until the script has been played (or the peer left)
    std::vector<std::string> requests() const;  // raw, as read so far

private:
    enum Kind { READ, WRITE, CLOSE, NEXT, NEXT_KEPT };
    struct Step {
        Kind kind;
        Maker make;
        int chunk, pause_ms;
    };
    FakeServer &add(Kind kind, Maker make = nullptr, int chunk = 0, int pause_ms = 0);
    void play();
    void silence(bool until_next);
    bool accept_one();
    void drop_connection();
    bool handshake();
    ssize_t receive(char *buf, size_t len);  // >0 bytes, 0 closed or failed, -1 nothing yet
    bool transmit(const char *bytes, size_t len);
    bool read_exact(std::string *into, size_t count);
    bool read_message(std::string *message);

    int listen_fd_ = -1, conn_fd_ = -1, port_ = 0;
    struct ssl_ctx_st *tls_ = nullptr;
    struct ssl_st *session_ = nullptr;
    std::vector<Step> steps_;
    std::thread thread_;
    std::atomic<bool> stopping_{false}, played_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// "30 0c 02 01" -> the octets; blanks are ignored.
std::string hex_bytes(const std::string &hex);
// A BER element of definite length; an INTEGER-shaped one (tag 0x02, 0x0A
// for ENUMERATED) of a non-negative value.
std::string ber_element(int tag, const std::string &content);
std::string ber_integer(int tag, int value);
// The message ID of an encoded LDAP message (0 when it cannot be read).
int ber_message_id(const std::string &message);
// An LDAPResult-shaped reply (0x61 BindResponse, 0x65 SearchResultDone, ...),
// matched DN empty.
std::string ldap_result_bytes(int tag, int id, int code, const std::string &message = "");
// A SearchResultEntry with one attribute of one value.
std::string ldap_entry_bytes(int id, const std::string &dn, const std::string &type,
                             const std::string &value);
