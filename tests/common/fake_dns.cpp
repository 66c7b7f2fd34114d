#include "common/fake_dns.h"

#include <sys/socket.h>
#include <unistd.h>

#include <sstream>

#include "common/loopback.h"

namespace {

std::string u16(int value) { return {char(value >> 8 & 0xFF), char(value & 0xFF)}; }

// A message's question as sent: the name (uncompressed in queries and in
// replies made here), type and class.
std::string question(const std::string &message)
{
    size_t end = message.find('\0', 12);
    return end == std::string::npos ? "" : message.substr(12, end + 5 - 12);
}

}  // namespace

std::string dns_name(const std::string &name)
{
    std::string wire, label;
    for (std::istringstream labels(name); std::getline(labels, label, '.');)
        if (!label.empty()) wire += char(label.size()) + label;
    return wire + '\0';
}

std::string dns_reply(const std::string &name, int type, int count, const std::string &answers, int rcode)
{
    return u16(0) + u16(0x8180 | rcode) + u16(1) + u16(count) + u16(0) + u16(0) + dns_name(name) + u16(type) + u16(1) +
           answers;
}

std::string dns_srv_reply(const std::string &name, const std::vector<DnsSrv> &records)
{
    std::string answers;
    for (const DnsSrv &srv : records) {
        std::string data = u16(srv.priority) + u16(srv.weight) + u16(srv.port) + dns_name(srv.target);
        answers += u16(0xC00C) + u16(33) + u16(1) + u16(0) + u16(60) + u16(int(data.size())) + data;
    }
    return dns_reply(name, 33, int(records.size()), answers);
}

FakeDns::FakeDns(const std::string &address, bool silent) : fd_(loopback_udp(address, 53)), silent_(silent)
{
    if (fd_ >= 0) thread_ = std::thread([this] { loop(); });
}

FakeDns::~FakeDns()
{
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
}

void FakeDns::serve(const std::string &reply)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[question(reply)] = reply;
}

std::string FakeDns::answer(const std::string &query)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = replies_.find(question(query));
    std::string reply = found != replies_.end()
                            ? found->second
                            : u16(0) + u16(0x8183) + u16(1) + u16(0) + u16(0) + u16(0) + question(query);
    return reply.replace(0, 2, query.substr(0, 2));
}

// Polls in short steps, so that a stop request is noticed.
void FakeDns::loop()
{
    char buf[4096];
    while (!stopping_) {
        if (!fd_ready(fd_, 50)) continue;
        sockaddr_storage peer;
        socklen_t size = sizeof peer;
        ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&peer), &size);
        if (n < 12 || silent_) continue;
        std::string reply = answer(std::string(buf, size_t(n)));
        sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&peer), size);
    }
}
