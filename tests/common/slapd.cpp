#include "common/slapd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/tempdir.h"

namespace {

// slapd and slapadd live in sbin, which is not always on PATH.
std::string find_tool(const std::string &name)
{
    std::string dirs = getenv("PATH") ? getenv("PATH") : "";
    dirs += ":/usr/sbin:/usr/local/sbin:/sbin";
    std::stringstream list(dirs);
    std::string dir;
    while (std::getline(list, dir, ':')) {
        std::string path = dir + "/" + name;
        if (!dir.empty() && access(path.c_str(), X_OK) == 0)
            return path;
    }
    return "";
}

std::string base64_decode(const std::string &text)
{
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        size_t v = alphabet.find(c);
        if (v == std::string::npos)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

bool port_answers(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

}  // namespace

int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

int run_program(const std::vector<std::string> &argv, const std::string &input,
                std::string *output)
{
    std::string path = argv.empty() ? "" : find_tool(argv[0]);
    if (path.empty())
        return -1;
    int in[2], out[2];
    if (pipe(in) != 0)
        return -1;
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return -1;
    }
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        execv(path.c_str(), args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return -1;
    }
    signal(SIGPIPE, SIG_IGN);
    // Feed the input and drain the output together so neither side blocks.
    size_t written = 0;
    int to_child = in[1];
    if (input.empty()) {
        close(to_child);
        to_child = -1;
    }
    std::string collected;
    for (;;) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {to_child, POLLOUT, 0}};
        if (poll(fds, to_child >= 0 ? 2 : 1, -1) < 0 && errno != EINTR)
            break;
        if (to_child >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(to_child, input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<size_t>(n);
            if (n < 0 || written == input.size()) {
                close(to_child);
                to_child = -1;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[4096];
            ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            collected.append(buf, static_cast<size_t>(n));
        }
    }
    if (to_child >= 0)
        close(to_child);
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output)
        *output = collected;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Slapd::Slapd(SlapdOptions options) : options_(std::move(options))
{
    std::string pattern = (std::filesystem::temp_directory_path() / "eb-slapd-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        dir_ = pattern;
}

Slapd::~Slapd()
{
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string Slapd::url() const
{
    return "ldap://127.0.0.1:" + std::to_string(port_);
}

bool Slapd::configure()
{
    if (dir_.empty()) {
        error_ = "cannot make a temporary directory";
        return false;
    }
    if (find_tool("slapd").empty() || find_tool("slapadd").empty()) {
        error_ = "slapd or slapadd not found: install the slapd package (scripts/install-deps.sh)";
        return false;
    }
    std::filesystem::create_directories(dir_ + "/db");
    config_ = dir_ + "/slapd.conf";
    std::ofstream conf(config_);
    conf << "include /etc/ldap/schema/core.schema\n"
            "include /etc/ldap/schema/cosine.schema\n"
            "include /etc/ldap/schema/inetorgperson.schema\n"
            "modulepath /usr/lib/ldap\n"
            "moduleload back_mdb\n"
         << "pidfile " << dir_ << "/slapd.pid\n"
         << "argsfile " << dir_ << "/slapd.args\n";
    if (options_.sizelimit > 0)
        conf << "sizelimit " << options_.sizelimit << "\n";
    conf << "database mdb\n"
            "maxsize 268435456\n"
         << "suffix \"" << options_.suffix << "\"\n"
         << "rootdn \"" << options_.rootdn << "\"\n"
         << "rootpw " << options_.rootpw << "\n"
         << "directory " << dir_ << "/db\n";
    conf.close();
    for (const std::string &file : options_.ldif) {
        std::string log;
        std::string path = std::string(SOURCE_DIR) + "/" + file;
        if (run_program({"slapadd", "-q", "-f", config_, "-l", path}, "", &log) != 0) {
            error_ = "slapadd failed on " + path + ": " + log;
            return false;
        }
    }
    return true;
}

bool Slapd::launch()
{
    std::string slapd = find_tool("slapd");
    std::string listen = url() + "/";
    std::string log = dir_ + "/slapd.log";
    pid_t pid = fork();
    if (pid == 0) {
        // A test program that dies without stopping its server takes it along.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        execl(slapd.c_str(), slapd.c_str(), "-f", config_.c_str(), "-h", listen.c_str(), "-d",
              "0", static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        error_ = "fork failed";
        return false;
    }
    pid_ = pid;
    if (wait_until_answering())
        return true;
    stop();
    return false;
}

bool Slapd::wait_until_answering()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::string log;
            std::ifstream in(dir_ + "/slapd.log");
            std::getline(in, log, '\0');
            error_ = "slapd exited at start: " + log;
            return false;
        }
        if (port_answers(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "slapd did not answer on " + url();
    return false;
}

bool Slapd::start()
{
    if (running())
        return true;
    if (!configure())
        return false;
    // Another process may take the free port before slapd binds it.
    for (int attempt = 0; attempt < 3; attempt++) {
        port_ = free_port();
        if (launch())
            return true;
    }
    return false;
}

bool Slapd::restart()
{
    stop();
    for (int attempt = 0; attempt < 3; attempt++) {
        if (launch())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

void Slapd::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status;
    for (int i = 0; i < 500; i++) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int Slapd::ldapsearch(const std::string &base, const std::string &scope,
                      const std::string &filter, const std::vector<std::string> &attributes,
                      std::string *output) const
{
    std::vector<std::string> argv = {"ldapsearch", "-x", "-H", url(), "-D", options_.rootdn,
                                     "-w", options_.rootpw, "-b", base, "-s", scope, "-LLL",
                                     "-o", "ldif-wrap=no", filter};
    argv.insert(argv.end(), attributes.begin(), attributes.end());
    return run_program(argv, "", output);
}

std::vector<std::string> Slapd::search_dns(const std::string &base, const std::string &scope,
                                           const std::string &filter) const
{
    std::string text;
    ldapsearch(base, scope, filter, {"1.1"}, &text);
    std::vector<std::string> dns;
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("dn:: ", 0) == 0)
            dns.push_back(base64_decode(line.substr(5)));
        else if (line.rfind("dn: ", 0) == 0)
            dns.push_back(line.substr(4));
    }
    return dns;
}

int Slapd::ldapmodify(const std::string &ldif, std::string *output) const
{
    return run_program({"ldapmodify", "-x", "-H", url(), "-D", options_.rootdn, "-w",
                        options_.rootpw},
                       ldif, output);
}
