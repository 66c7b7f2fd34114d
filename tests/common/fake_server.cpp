#include "common/fake_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Polls one descriptor for up to 100 ms so that a stop request is noticed.
bool ready(int fd, short events)
{
    pollfd p{fd, events, 0};
    return poll(&p, 1, 100) > 0;
}

}  // namespace

std::string ber_element(int tag, const std::string &content)
{
    std::string out(1, static_cast<char>(tag));
    size_t n = content.size();
    if (n < 128) {
        out += static_cast<char>(n);
    } else {
        std::string len;
        for (; n; n >>= 8)
            len.insert(len.begin(), static_cast<char>(n & 0xFF));
        out += static_cast<char>(0x80 | len.size());
        out += len;
    }
    return out + content;
}

std::string ber_integer(int tag, int value)
{
    std::string octets;
    unsigned v = static_cast<unsigned>(value);
    do {
        octets.insert(octets.begin(), static_cast<char>(v & 0xFF));
        v >>= 8;
    } while (v);
    if (static_cast<unsigned char>(octets[0]) & 0x80)
        octets.insert(octets.begin(), '\0');
    return ber_element(tag, octets);
}

std::string hex_bytes(const std::string &hex)
{
    std::string out, digit;
    for (char c : hex) {
        if (isxdigit(static_cast<unsigned char>(c)))
            digit += c;
        if (digit.size() == 2) {
            out += static_cast<char>(std::stoi(digit, nullptr, 16));
            digit.clear();
        }
    }
    return out;
}

int ber_message_id(const std::string &m)
{
    // 30 <len> 02 <n> <id octets>
    size_t pos = 1;
    if (m.size() < 2)
        return 0;
    unsigned char l = static_cast<unsigned char>(m[pos++]);
    if (l & 0x80)
        pos += l & 0x7F;
    if (pos + 2 > m.size() || m[pos] != 0x02)
        return 0;
    size_t n = static_cast<unsigned char>(m[pos + 1]);
    int id = 0;
    for (size_t i = 0; i < n && pos + 2 + i < m.size(); i++)
        id = id * 256 + static_cast<unsigned char>(m[pos + 2 + i]);
    return id;
}

std::string ldap_result_bytes(int tag, int id, int code, const std::string &message)
{
    std::string op = ber_element(tag, ber_integer(0x0A, code) + ber_element(0x04, "") + ber_element(0x04, message));
    return ber_element(0x30, ber_integer(0x02, id) + op);
}

std::string ldap_entry_bytes(int id, const std::string &dn, const std::string &type,
                             const std::string &value)
{
    std::string attr = ber_element(0x30, ber_element(0x04, type) + ber_element(0x31, ber_element(0x04, value)));
    std::string op = ber_element(0x64, ber_element(0x04, dn) + ber_element(0x30, attr));
    return ber_element(0x30, ber_integer(0x02, id) + op);
}

FakeServer::FakeServer()
{
    signal(SIGPIPE, SIG_IGN);
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listen_fd_ >= 0 && bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        listen(listen_fd_, 8) == 0 &&
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
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

FakeServer &FakeServer::read_request()
{
    steps_.push_back({Step::READ, "", 0, 0, nullptr});
    return *this;
}

FakeServer &FakeServer::send(const std::string &bytes, int chunk, int pause_ms)
{
    steps_.push_back({Step::SEND, bytes, chunk, pause_ms, nullptr});
    return *this;
}

FakeServer &FakeServer::reply(std::function<std::string(const std::string &)> make)
{
    steps_.push_back({Step::REPLY, "", 0, 0, std::move(make)});
    return *this;
}

FakeServer &FakeServer::pause(int ms)
{
    steps_.push_back({Step::PAUSE, "", 0, ms, nullptr});
    return *this;
}

FakeServer &FakeServer::close()
{
    steps_.push_back({Step::CLOSE, "", 0, 0, nullptr});
    return *this;
}

FakeServer &FakeServer::next_connection()
{
    steps_.push_back({Step::NEXT, "", 0, 0, nullptr});
    return *this;
}

void FakeServer::start()
{
    thread_ = std::thread([this] { play(); });
}

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
    while (!stopping_) {
        if (ready(listen_fd_, POLLIN)) {
            conn_fd_ = accept(listen_fd_, nullptr, nullptr);
            return conn_fd_ >= 0;
        }
    }
    return false;
}

bool FakeServer::read_exact(std::string *into, size_t count)
{
    while (count > 0 && !stopping_) {
        if (!ready(conn_fd_, POLLIN))
            continue;
        char buf[4096];
        ssize_t n = recv(conn_fd_, buf, std::min(count, sizeof buf), 0);
        if (n <= 0)
            return false;
        into->append(buf, static_cast<size_t>(n));
        count -= static_cast<size_t>(n);
    }
    return count == 0;
}

bool FakeServer::read_message(std::string *message)
{
    message->clear();
    if (!read_exact(message, 2))
        return false;
    size_t length = static_cast<unsigned char>((*message)[1]);
    if (length & 0x80) {
        size_t octets = length & 0x7F;
        if (!read_exact(message, octets))
            return false;
        length = 0;
        for (size_t i = 0; i < octets; i++)
            length = length * 256 + static_cast<unsigned char>((*message)[2 + i]);
    }
    return read_exact(message, length);
}

bool FakeServer::write_all(const char *data, size_t len)
{
    while (len > 0) {
        ssize_t n = ::send(conn_fd_, data, len, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void FakeServer::play()
{
    bool ok = accept_one();
    std::string last;
    for (const Step &step : steps_) {
        if (!ok || stopping_)
            break;
        switch (step.kind) {
        case Step::READ:
            ok = read_message(&last);
            if (ok) {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(last);
            }
            break;
        case Step::REPLY:
        case Step::SEND: {
            std::string bytes = step.kind == Step::SEND ? step.bytes : step.make(last);
            size_t chunk = step.chunk > 0 ? static_cast<size_t>(step.chunk) : bytes.size();
            for (size_t pos = 0; ok && !stopping_ && pos < bytes.size(); pos += chunk) {
                if (pos > 0 && step.pause_ms > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
                ok = write_all(bytes.data() + pos, std::min(chunk, bytes.size() - pos));
            }
            break;
        }
        case Step::PAUSE:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
            break;
        case Step::CLOSE:
            ::close(conn_fd_);
            conn_fd_ = -1;
            break;
        case Step::NEXT:
            ok = accept_one();
            break;
        }
    }
    played_ = true;
    // Silence: keep the connection open, swallowing whatever the peer sends,
    // until the peer leaves or the server is destroyed.
    while (!stopping_ && conn_fd_ >= 0) {
        if (!ready(conn_fd_, POLLIN))
            continue;
        char buf[512];
        if (recv(conn_fd_, buf, sizeof buf, 0) <= 0)
            break;
    }
}
