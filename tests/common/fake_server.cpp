#include "common/fake_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Polls for up to 100 ms, so that a stop request is noticed.
bool ready(int fd, short events = POLLIN)
{
    pollfd p{fd, events, 0};
    return poll(&p, 1, 100) > 0;
}

}  // namespace

std::string ber_element(int tag, const std::string &content)
{
    std::string len(1, static_cast<char>(content.size()));
    if (content.size() >= 128) {
        len.clear();
        for (size_t n = content.size(); n; n >>= 8)
            len.insert(len.begin(), static_cast<char>(n & 0xFF));
        len.insert(len.begin(), static_cast<char>(0x80 | len.size()));
    }
    return static_cast<char>(tag) + len + content;
}

std::string ber_integer(int tag, int value)
{
    std::string octets;
    for (unsigned v = static_cast<unsigned>(value); octets.empty() || v; v >>= 8)
        octets.insert(octets.begin(), static_cast<char>(v & 0xFF));
    if (octets[0] & 0x80)
        octets.insert(octets.begin(), '\0');
    return ber_element(tag, octets);
}

std::string hex_bytes(const std::string &hex)
{
    std::string out, digit;
    for (char c : hex)
        if (isxdigit(static_cast<unsigned char>(c)) && (digit += c).size() == 2) {
            out += static_cast<char>(std::stoi(digit, nullptr, 16));
            digit.clear();
        }
    return out;
}

int ber_message_id(const std::string &m)
{
    // 30 <length> 02 <n> <ID octets>
    if (m.size() < 2)
        return 0;
    size_t pos = 2 + (m[1] & 0x80 ? m[1] & 0x7F : 0);
    if (pos + 2 > m.size() || m[pos] != 0x02)
        return 0;
    int id = 0;
    for (size_t i = pos + 2; i < pos + 2 + static_cast<unsigned char>(m[pos + 1]) && i < m.size(); i++)
        id = id * 256 + static_cast<unsigned char>(m[i]);
    return id;
}

std::string ldap_result_bytes(int tag, int id, int code, const std::string &message)
{
    std::string op = ber_integer(0x0A, code) + ber_element(0x04, "") + ber_element(0x04, message);
    return ber_element(0x30, ber_integer(0x02, id) + ber_element(tag, op));
}

std::string ldap_entry_bytes(int id, const std::string &dn, const std::string &type,
                             const std::string &value)
{
    std::string attr = ber_element(0x04, type) + ber_element(0x31, ber_element(0x04, value));
    std::string op = ber_element(0x04, dn) + ber_element(0x30, ber_element(0x30, attr));
    return ber_element(0x30, ber_integer(0x02, id) + ber_element(0x64, op));
}

FakeServer::FakeServer()
{
    signal(SIGPIPE, SIG_IGN);
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    auto *sa = reinterpret_cast<sockaddr *>(&addr);
    if (listen_fd_ >= 0 && bind(listen_fd_, sa, len) == 0 && listen(listen_fd_, 8) == 0 &&
        getsockname(listen_fd_, sa, &len) == 0)
        port_ = ntohs(addr.sin_port);
}

FakeServer::~FakeServer()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    drop_connection();
    SSL_CTX_free(tls_);
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
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
    if (session_)
        SSL_shutdown(session_);
    SSL_free(session_);
    session_ = nullptr;
    if (conn_fd_ >= 0)
        ::close(conn_fd_);
    conn_fd_ = -1;
}

// On the non-blocking socket, so that a stop request is noticed.
bool FakeServer::handshake()
{
    session_ = SSL_new(tls_);
    if (!session_ || fcntl(conn_fd_, F_SETFL, O_NONBLOCK) != 0 || SSL_set_fd(session_, conn_fd_) != 1)
        return false;
    for (int result; !stopping_ && (result = SSL_accept(session_)) != 1;) {
        int code = SSL_get_error(session_, result);
        if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE)
            return false;
        ready(conn_fd_, code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT);
    }
    return !stopping_;
}

ssize_t FakeServer::receive(char *buf, size_t len)
{
    if (!session_)
        return !ready(conn_fd_) ? -1 : std::max<ssize_t>(recv(conn_fd_, buf, len, 0), 0);
    if (SSL_pending(session_) == 0 && !ready(conn_fd_))
        return -1;
    int n = SSL_read(session_, buf, static_cast<int>(len));
    int code = n > 0 ? SSL_ERROR_NONE : SSL_get_error(session_, n);
    return n > 0 ? n : code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE ? -1 : 0;
}

bool FakeServer::transmit(const char *bytes, size_t len)
{
    if (!session_)
        return ::send(conn_fd_, bytes, len, MSG_NOSIGNAL) == static_cast<ssize_t>(len);
    for (int n; !stopping_; ready(conn_fd_, POLLOUT))
        if ((n = SSL_write(session_, bytes, static_cast<int>(len))) > 0 ||
            SSL_get_error(session_, n) != SSL_ERROR_WANT_WRITE)
            return n == static_cast<int>(len);
    return false;
}

FakeServer &FakeServer::add(Kind kind, Maker make, int chunk, int pause_ms)
{
    steps_.push_back({kind, std::move(make), chunk, pause_ms});
    return *this;
}

FakeServer &FakeServer::read_request() { return add(READ); }
FakeServer &FakeServer::reply(Maker make) { return add(WRITE, std::move(make)); }
FakeServer &FakeServer::close() { return add(CLOSE); }
FakeServer &FakeServer::next_connection(bool keep_open) { return add(keep_open ? NEXT_KEPT : NEXT); }

FakeServer &FakeServer::send(const std::string &bytes, int chunk, int pause_ms)
{
    return add(WRITE, [bytes](const std::string &) { return bytes; }, chunk, pause_ms);
}

void FakeServer::start() { thread_ = std::thread([this] { play(); }); }

void FakeServer::wait()
{
    while (!played_)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
        if (ready(listen_fd_))
            return (conn_fd_ = accept(listen_fd_, nullptr, nullptr)) >= 0 && (!tls_ || handshake());
    return false;
}

bool FakeServer::read_exact(std::string *into, size_t count)
{
    char buf[4096];
    for (ssize_t n; count > 0 && !stopping_;) {
        if ((n = receive(buf, std::min(count, sizeof buf))) < 0)
            continue;
        if (n == 0)
            return false;
        into->append(buf, static_cast<size_t>(n));
        count -= static_cast<size_t>(n);
    }
    return count == 0;
}

// Tag and first length octet, the long form's length octets, the content.
bool FakeServer::read_message(std::string *message)
{
    message->clear();
    if (!read_exact(message, 2))
        return false;
    size_t length = static_cast<unsigned char>((*message)[1]), octets = length & 0x7F;
    if (length & 0x80) {
        if (!read_exact(message, octets))
            return false;
        length = 0;
        for (size_t i = 2; i < 2 + octets; i++)
            length = length * 256 + static_cast<unsigned char>((*message)[i]);
    }
    return read_exact(message, length);
}

void FakeServer::play()
{
    bool ok = accept_one();
    std::string last;
    for (size_t i = 0; ok && !stopping_ && i < steps_.size(); i++) {
        const Step &step = steps_[i];
        std::string bytes = step.kind == WRITE ? step.make(last) : "";
        size_t chunk = step.chunk > 0 ? static_cast<size_t>(step.chunk) : bytes.size();
        // A peer that leaves ends the write, not the script: its next
        // connection may be scripted too.
        for (size_t pos = 0; !stopping_ && pos < bytes.size(); pos += chunk) {
            if (pos > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
            size_t len = std::min(chunk, bytes.size() - pos);
            if (!transmit(bytes.data() + pos, len))
                break;
        }
        if (step.kind == READ && (ok = read_message(&last))) {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(last);
        } else if (step.kind == CLOSE) {
            drop_connection();
        } else if (step.kind == NEXT || step.kind == NEXT_KEPT) {
            if (step.kind == NEXT_KEPT)
                silence(true);
            ok = accept_one();
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
        if (poll(p, until_next ? 2 : 1, 100) > 0 && (p[1].revents || recv(conn_fd_, buf, sizeof buf, 0) <= 0))
            break;
    }
}
