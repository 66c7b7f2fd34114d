#include "common/fake_dns.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>

namespace {

std::string u16(int value) { return {char(value >> 8 & 0xFF), char(value & 0xFF)}; }

// "name/type" of a message's question, lower-cased; empty when unreadable.
std::string question_key(const std::string &message)
{
    std::string name;
    size_t pos = 12;
    while (pos < message.size() && message[pos] != 0) {
        size_t length = static_cast<unsigned char>(message[pos]);
        if (length > 63 || pos + 1 + length > message.size())
            return "";
        for (char c : message.substr(pos + 1, length))
            name += char(tolower(static_cast<unsigned char>(c)));
        name += '.';
        pos += 1 + length;
    }
    if (pos + 3 > message.size())
        return "";
    int type = static_cast<unsigned char>(message[pos + 1]) << 8 | static_cast<unsigned char>(message[pos + 2]);
    return name + "/" + std::to_string(type);
}

}  // namespace

std::string dns_name(const std::string &name)
{
    std::string wire;
    for (size_t start = 0; start < name.size();) {
        size_t dot = name.find('.', start);
        std::string label = name.substr(start, dot - start);
        if (!label.empty())
            wire += char(label.size()) + label;
        start = dot == std::string::npos ? name.size() : dot + 1;
    }
    return wire + '\0';
}

std::string dns_reply(const std::string &name, int type, int count, const std::string &answers, int rcode)
{
    return u16(0) + u16(0x8180 | rcode) + u16(1) + u16(count) + u16(0) + u16(0) + dns_name(name) +
           u16(type) + u16(1) + answers;
}

std::string dns_srv_record(const DnsSrv &srv)
{
    std::string data = u16(srv.priority) + u16(srv.weight) + u16(srv.port) + dns_name(srv.target);
    return u16(0xC00C) + u16(33) + u16(1) + u16(0) + u16(60) + u16(int(data.size())) + data;
}

std::string dns_srv_reply(const std::string &name, const std::vector<DnsSrv> &records)
{
    std::string answers;
    for (const DnsSrv &srv : records)
        answers += dns_srv_record(srv);
    return dns_reply(name, 33, int(records.size()), answers);
}

FakeDns::FakeDns(const std::string &address)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(53);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
    thread_ = std::thread([this] { loop(); });
}

FakeDns::~FakeDns()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        close(fd_);
}

void FakeDns::serve(const std::string &reply)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[question_key(reply)] = reply;
}

std::string FakeDns::answer(const std::string &query)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = replies_.find(question_key(query));
    std::string reply = found != replies_.end() ? found->second : query;
    if (found == replies_.end())  // the query itself, turned into an NXDOMAIN reply
        reply.replace(2, 2, u16(0x8183)).replace(6, 6, u16(0) + u16(0) + u16(0));
    return reply.replace(0, 2, query.substr(0, 2));
}

// Polls in short steps, so that a stop request is noticed.
void FakeDns::loop()
{
    char buf[4096];
    while (!stopping_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        sockaddr_storage peer;
        socklen_t size = sizeof peer;
        ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&peer), &size);
        if (n < 12)
            continue;
        std::string reply = answer(std::string(buf, size_t(n)));
        sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&peer), size);
    }
}
