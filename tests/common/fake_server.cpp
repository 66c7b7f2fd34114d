#include "common/fake_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Polls for up to 100 ms, so that a stop request is noticed.
bool ready(int fd)
{
    pollfd p{fd, POLLIN, 0};
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
    if (conn_fd_ >= 0)
        ::close(conn_fd_);
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
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
    if (conn_fd_ >= 0)
        ::close(conn_fd_);
    conn_fd_ = -1;
    while (!stopping_)
        if (ready(listen_fd_))
            return (conn_fd_ = accept(listen_fd_, nullptr, nullptr)) >= 0;
    return false;
}

bool FakeServer::read_exact(std::string *into, size_t count)
{
    char buf[4096];
    for (ssize_t n; count > 0 && !stopping_;) {
        if (!ready(conn_fd_))
            continue;
        if ((n = recv(conn_fd_, buf, std::min(count, sizeof buf), 0)) <= 0)
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
            if (::send(conn_fd_, bytes.data() + pos, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len))
                break;
        }
        if (step.kind == READ && (ok = read_message(&last))) {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(last);
        } else if (step.kind == CLOSE) {
            ::close(conn_fd_);
            conn_fd_ = -1;
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
