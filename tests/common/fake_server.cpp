#include "common/fake_server.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/loopback.h"

FakeServer::FakeServer()
{
    signal(SIGPIPE, SIG_IGN);
    listen_fd_ = loopback_listen(host(), &port_);
}

FakeServer::~FakeServer()
{
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    drop_connection();
    SSL_CTX_free(tls_);
    if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool FakeServer::use_tls(const std::string &cert_file, const std::string &key_file)
{
    SSL_CTX_free(tls_);
    tls_ = SSL_CTX_new(TLS_server_method());
    return tls_ && SSL_CTX_use_certificate_chain_file(tls_, cert_file.c_str()) == 1 &&
           SSL_CTX_use_PrivateKey_file(tls_, key_file.c_str(), SSL_FILETYPE_PEM) == 1;
}

void FakeServer::drop_connection()
{
    if (session_) SSL_shutdown(session_);
    SSL_free(session_);
    session_ = nullptr;
    if (conn_fd_ >= 0) ::close(conn_fd_);
    conn_fd_ = -1;
}

// On the non-blocking socket, so that a stop request is noticed.
bool FakeServer::handshake()
{
    session_ = SSL_new(tls_);
    if (!session_ || fcntl(conn_fd_, F_SETFL, O_NONBLOCK) != 0 || SSL_set_fd(session_, conn_fd_) != 1) return false;
    for (int result; !stopping_ && (result = SSL_accept(session_)) != 1;) {
        int code = SSL_get_error(session_, result);
        if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) return false;
        fd_ready(conn_fd_, 100, code == SSL_ERROR_WANT_WRITE);
    }
    return !stopping_;
}

ssize_t FakeServer::receive(char *buf, size_t len)
{
    if (!session_) return !fd_ready(conn_fd_, 100) ? -1 : std::max<ssize_t>(recv(conn_fd_, buf, len, 0), 0);
    if (SSL_pending(session_) == 0 && !fd_ready(conn_fd_, 100)) return -1;
    int n = SSL_read(session_, buf, static_cast<int>(len));
    int code = n > 0 ? SSL_ERROR_NONE : SSL_get_error(session_, n);
    return n > 0 ? n : code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE ? -1 : 0;
}

bool FakeServer::transmit(const std::string &bytes, bool raw)
{
    if (raw || !session_) return write_all(conn_fd_, bytes);
    for (int n; !stopping_; fd_ready(conn_fd_, 100, true))
        if ((n = SSL_write(session_, bytes.data(), static_cast<int>(bytes.size()))) > 0 ||
            SSL_get_error(session_, n) != SSL_ERROR_WANT_WRITE)
            return n == static_cast<int>(bytes.size());
    return false;
}

FakeServer &FakeServer::add(Kind kind, int chunk, int pause_ms, Maker make)
{
    steps_.push_back({kind, std::move(make), chunk, pause_ms});
    return *this;
}

FakeServer &FakeServer::read_request() { return add(READ); }
FakeServer &FakeServer::reply(Maker make) { return add(WRITE, 0, 0, std::move(make)); }
FakeServer &FakeServer::answer_all(Maker make) { return add(ANSWER, 0, 0, std::move(make)); }
FakeServer &FakeServer::close() { return add(CLOSE); }
FakeServer &FakeServer::next_connection(bool keep_open) { return add(keep_open ? NEXT_KEPT : NEXT); }

FakeServer &FakeServer::send(const std::string &bytes, int chunk, int pause_ms)
{
    return add(WRITE, chunk, pause_ms, [bytes](const std::string &) { return bytes; });
}

FakeServer &FakeServer::send_raw(const std::string &bytes, int chunk, int pause_ms)
{
    return add(RAW, chunk, pause_ms, [bytes](const std::string &) { return bytes; });
}

void FakeServer::start()
{
    thread_ = std::thread([this] { play(); });
}

void FakeServer::wait()
{
    while (!played_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::vector<std::string> FakeServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool FakeServer::accept_one()
{
    drop_connection();
    while (!stopping_)
        if (fd_ready(listen_fd_, 100))
            return (conn_fd_ = accept(listen_fd_, nullptr, nullptr)) >= 0 && (!tls_ || handshake());
    return false;
}

// Reads until a whole message is there; a stop request ends the stream.
bool FakeServer::read_message(std::string *message)
{
    return ber_read_element(
        [this](char *buf, size_t len) {
            ssize_t n = -1;
            while (!stopping_ && (n = receive(buf, len)) < 0) {}
            return stopping_ ? 0 : n;
        },
        message);
}

void FakeServer::play()
{
    bool ok = accept_one();
    std::string last;
    for (size_t i = 0; ok && !stopping_ && i < steps_.size(); i++) {
        const Step &step = steps_[i];
        std::string bytes = step.kind == WRITE || step.kind == RAW ? step.make(last) : "";
        size_t chunk = step.chunk > 0 ? static_cast<size_t>(step.chunk) : bytes.size();
        // A peer that leaves ends the write, not the script: its next
        // connection may be scripted too.
        for (size_t pos = 0; !stopping_ && pos < bytes.size(); pos += chunk) {
            if (pos > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
            if (!transmit(bytes.substr(pos, chunk), step.kind == RAW)) break;
        }
        if (step.kind == READ && (ok = read_message(&last))) {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(last);
        } else if (step.kind == CLOSE) {
            drop_connection();
        } else if (step.kind == NEXT || step.kind == NEXT_KEPT) {
            if (step.kind == NEXT_KEPT) silence(true);
            ok = accept_one();
        } else if (step.kind == ANSWER) {
            for (; ok; ok = accept_one())
                while (read_message(&last) && transmit(step.make(last))) {}
        }
    }
    played_ = true;
    silence(false);
}

// Swallows whatever the peer sends until it leaves, or (when until_next)
// it opens another connection.
void FakeServer::silence(bool until_next)
{
    char buf[512];
    for (pollfd p[2] = {{conn_fd_, POLLIN, 0}, {listen_fd_, POLLIN, 0}}; !stopping_ && conn_fd_ >= 0;) {
        if (poll(p, until_next ? 2 : 1, 100) > 0 && (p[1].revents || recv(conn_fd_, buf, sizeof buf, 0) <= 0)) break;
    }
}
