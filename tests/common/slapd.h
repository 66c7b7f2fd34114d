// A private OpenLDAP slapd for integration tests: its own temporary
// directory and configuration, data loaded from LDIF files of the repository,
// listening on 127.0.0.1 at a free port, stopped by its pid.
//
// Typical use, one server per test suite:
//
//     static Slapd *server;
//     static void SetUpTestSuite() { server = new Slapd(); server->start(); }
//     static void TearDownTestSuite() { delete server; }
//     void SetUp() override { ASSERT_TRUE(server->running()) << server->error(); }
//
// A missing slapd or a server that does not come up is an error (running()
// stays false and error() says why): tests must fail on it, never skip.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

struct SlapdOptions {
    std::string suffix = "dc=example,dc=com";
    std::string rootdn = "cn=Manager,dc=example,dc=com";
    std::string rootpw = "secret";
    // LDIF files loaded with slapadd, relative to the repository root.
    std::vector<std::string> ldif = {"tests/data/directory.ldif"};
    // Global size limit (entries per search for ordinary users); 0 keeps
    // slapd's default. The rootdn is never limited.
    int sizelimit = 0;
};

// The bindable ordinary user of tests/data/directory.ldif.
#define SLAPD_READER_DN "uid=reader,ou=People,dc=example,dc=com"
#define SLAPD_READER_PW "readerpw"

class Slapd {
public:
    explicit Slapd(SlapdOptions options = SlapdOptions());
    ~Slapd();  // stops the server and removes its directory
    Slapd(const Slapd &) = delete;
    Slapd &operator=(const Slapd &) = delete;

    // Writes the configuration, loads the data and starts the server; true
    // once it answers. On false, error() tells why.
    bool start();
    // SIGTERM by pid and wait for the process to end.
    void stop();
    // Starts again on the same port with the same data.
    bool restart();

    bool running() const { return pid_ > 0; }
    const std::string &error() const { return error_; }
    const char *host() const { return "127.0.0.1"; }
    int port() const { return port_; }
    std::string url() const;  // ldap://127.0.0.1:PORT
    const SlapdOptions &options() const { return options_; }

    // Runs ldapsearch bound as the rootdn (ldif-wrap off, -LLL); extra
    // arguments (attribute names) follow the filter. Returns the exit status.
    int ldapsearch(const std::string &base, const std::string &scope, const std::string &filter,
                   const std::vector<std::string> &attributes, std::string *output) const;
    // The DNs ldapsearch finds, as slapd spells them, in the order it sends them.
    std::vector<std::string> search_dns(const std::string &base, const std::string &scope,
                                        const std::string &filter) const;
    // Runs ldapmodify as the rootdn with the given LDIF on its input.
    int ldapmodify(const std::string &ldif, std::string *output) const;

private:
    bool configure();
    bool launch();
    bool wait_until_answering();

    SlapdOptions options_;
    std::string dir_;
    std::string config_;
    std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// Runs a program (argv[0] looked up in PATH) with the given standard input
// and returns its exit status (-1 when it could not be started); its
// standard output goes to *output when output is not null.
int run_program(const std::vector<std::string> &argv, const std::string &input,
                std::string *output);

// A TCP port on 127.0.0.1 that was free a moment ago.
int free_port();
