#include "common/private_resolver.h"

#include <sched.h>
#include <sys/mount.h>

#include "common/loopback.h"
#include "common/process.h"
#include "common/tempdir.h"

std::string run_with_resolver(const std::string &resolv_conf, const std::string &hosts,
                              const std::function<std::string()> &body, int timeout_ms)
{
    TempDir dir;
    std::string conf = dir.write("resolv.conf", resolv_conf), hosts_file = dir.write("hosts", hosts);
    ChildProcess child([&](int, int out) {
        bool ready = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                     mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0 &&
                     (hosts.empty() || mount(hosts_file.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0);
        write_all(out, ready ? body() : "private resolver: no namespace");
    });
    std::string result = child.read_all(timeout_ms);
    return child.wait(timeout_ms) < 0 ? "private resolver: the child crashed or took too long" : result;
}
