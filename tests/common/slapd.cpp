#include "common/slapd.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/certificates.h"

namespace {

// slapd and slapadd live in sbin, which is not always on PATH.
std::string find_tool(const std::string &name)
{
    for (const char *dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/", "/usr/local/sbin/", "/usr/local/bin/"})
        if (access((dir + name).c_str(), X_OK) == 0) return dir + name;
    return name;  // fails to start: the caller sees status 127
}

// A base64 text's octets (the padding's zeros left off).
std::string base64_decode(const std::string &text)
{
    std::string out(text.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(&out[0]),
                            reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) - std::count(text.begin(), text.end(), '=') : 0);
    return out;
}

}  // namespace

Slapd::Slapd(SlapdOptions options) : options_(std::move(options)) {}

Slapd::~Slapd() { stop(); }

bool Slapd::start()
{
    if (options_.tls && !test_certificates().error.empty()) {
        error_ = test_certificates().error;
        return false;
    }
    std::filesystem::create_directory(dir_.file("db"));
    std::ofstream conf(dir_.file("slapd.conf"));
    conf << "include /etc/ldap/schema/core.schema\ninclude /etc/ldap/schema/cosine.schema\n"
            "include /etc/ldap/schema/inetorgperson.schema\n"
            "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
         << "pidfile " << dir_.file("slapd.pid") << "\nargsfile " << dir_.file("slapd.args") << "\n";
    if (options_.sizelimit > 0) conf << "sizelimit " << options_.sizelimit << "\n";
    if (options_.tls) {
        const TestCertificates &certs = test_certificates();
        conf << "TLSCACertificateFile " << certs.ca << "\nTLSCertificateFile " << certs.server_cert
             << "\nTLSCertificateKeyFile " << certs.server_key << "\n";
    }
    if (!options_.tls_verify_client.empty()) conf << "TLSVerifyClient " << options_.tls_verify_client << "\n";
    if (options_.tls_required) conf << "security tls=1\n";
    for (const std::string &line : options_.global_lines) conf << line << "\n";
    conf << "database mdb\nmaxsize 268435456\nsuffix \"" << options_.suffix << "\"\nrootdn \"" << options_.rootdn
         << "\"\nrootpw " << options_.rootpw << "\ndirectory " << dir_.file("db") << "\n";
    for (const std::string &line : options_.database_lines) conf << line << "\n";
    conf.close();
    for (const std::string &file : options_.ldif) {
        std::string path = file[0] == '/' ? file : std::string(SOURCE_DIR) + "/" + file;
        ProcessResult r =
            run_process({find_tool("slapadd"), "-q", "-f", dir_.file("slapd.conf"), "-l", path}, "", "", 120000);
        if (r.status != 0) {
            error_ = "slapadd failed on " + path + " (is slapd installed? scripts/install-deps.sh)";
            return false;
        }
    }
    return launch(true);
}

// Another process may take the free port before slapd binds it, or the old
// one may not be free again yet: three tries.
bool Slapd::launch(bool new_port)
{
    std::string slapd = find_tool("slapd"), conf = dir_.file("slapd.conf"), log = dir_.file("slapd.log");
    for (int attempt = 0; attempt < 3 && pid_ < 0; attempt++) {
        if (new_port) {
            port_ = options_.port ? options_.port : free_port();
            do ldaps_port_ = options_.tls ? free_port() : 0;
            while (ldaps_port_ == port_);
        }
        std::string listen;
        for (const std::string &host : options_.hosts) listen += url(host) + "/ ";
        if (ldaps_port_) listen += "ldaps://127.0.0.1:" + std::to_string(ldaps_port_) + "/";
        if ((pid_ = fork()) == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test program that dies takes its server along
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (dup2(fd, 1) == 1 && dup2(fd, 2) == 2)
                execl(slapd.c_str(), slapd.c_str(), "-f", conf.c_str(), "-h", listen.c_str(), "-d", "0",
                      static_cast<char *>(nullptr));
            _exit(127);
        }
        for (int waited = 0; pid_ > 0 && !(loopback_answers(host(), port_) &&
                                           (!ldaps_port_ || loopback_answers("127.0.0.1", ldaps_port_)));
             waited += 20) {
            if (waited > 15000) kill(pid_, SIGKILL);
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (pid_ < 0) error_ = "slapd did not come up on " + url() + ": " + read_file(log);
    return pid_ > 0;
}

std::string Slapd::url(const std::string &host) const
{
    bool ipv6 = host.find(':') != std::string::npos;
    return "ldap://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port_);
}

bool Slapd::restart()
{
    stop();
    return launch(false);
}

void Slapd::stop()
{
    if (pid_ > 0 && kill(pid_, SIGTERM) == 0) wait_for_exit(pid_, 5000);
    pid_ = -1;
}

int Slapd::ldapsearch(const std::string &base, const std::string &scope, const std::string &filter,
                      const std::vector<std::string> &attributes, std::string *output, int page_size) const
{
    std::vector<std::string> argv = {find_tool("ldapsearch"), "-x",  "-H", url(), "-D",  options_.rootdn, "-w",
                                     options_.rootpw,         "-b",  base, "-s",  scope, "-LLL",          "-o",
                                     "ldif-wrap=no",          filter};
    if (page_size > 0) argv.insert(argv.end() - 1, {"-E", "pr=" + std::to_string(page_size) + "/noprompt"});
    argv.insert(argv.end(), attributes.begin(), attributes.end());
    ProcessResult r = run_process(argv, "", "", 120000);
    *output = r.out;
    return r.status;
}

std::vector<std::string> Slapd::search_dns(const std::string &base, const std::string &scope, const std::string &filter,
                                           int page_size) const
{
    std::string text, line;
    ldapsearch(base, scope, filter, {"1.1"}, &text, page_size);
    std::vector<std::string> dns;
    std::stringstream lines(text);
    while (std::getline(lines, line))
        if (line.rfind("dn:: ", 0) == 0)
            dns.push_back(base64_decode(line.substr(5)));
        else if (line.rfind("dn: ", 0) == 0)
            dns.push_back(line.substr(4));
    return dns;
}
