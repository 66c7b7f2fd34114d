// A scripted fake LDAP server on 127.0.0.1, for what a real server cannot be
// made to do: replies split over many reads, junk, silence, a connection
// closed mid-stream. Build the script (fake.read_request().send(...)...),
// then start(): a thread accepts one connection and plays the steps in
// order; after the last one the connection stays open, silent. Or end the
// script with answer_all(): every later request of every connection (one at
// a time) gets what a function makes of it, as fast as the socket takes it.
// With use_tls, each connection starts with a TLS handshake and every step
// goes through the session: each write of a step is one TLS record (or more
// when above 16 KiB), and close() sends a close_notify.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ber.h"

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
    // The same straight onto the socket, past any TLS session: what an
    // attacker on the path injects.
    FakeServer &send_raw(const std::string &bytes, int chunk = 0, int pause_ms = 0);
    FakeServer &reply(Maker make);  // writes what make gives for the last request
    FakeServer &close();
    // Closes the connection and accepts the next; when keep_open, only once
    // the peer has left or connected again.
    FakeServer &next_connection(bool keep_open = false);
    // Answers each request with what make gives for it (nothing when it
    // gives ""), on this connection and every next one, until the server is
    // destroyed; requests are not kept.
    FakeServer &answer_all(Maker make);

    void start();
    void wait();  // until the script has been played (or the peer left); never with answer_all
    std::vector<std::string> requests() const;  // raw, as read so far

  private:
    enum Kind { READ, WRITE, RAW, CLOSE, NEXT, NEXT_KEPT, ANSWER };
    struct Step {
        Kind kind;
        Maker make;
        int chunk, pause_ms;
    };
    FakeServer &add(Kind kind, int chunk = 0, int pause_ms = 0, Maker make = nullptr);
    void play();
    void silence(bool until_next);
    bool accept_one();
    void drop_connection();
    bool handshake();
    ssize_t receive(char *buf, size_t len);  // >0 bytes, 0 closed or failed, -1 nothing yet
    bool transmit(const std::string &bytes, bool raw = false);
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
