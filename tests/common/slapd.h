// A private OpenLDAP slapd for integration tests: its own temporary
// directory, data loaded from LDIF files, listening on 127.0.0.1 (or the
// addresses the options give) at a free port (and with TLS on a second one
// for ldaps), stopped by its pid. A slapd that is missing or does not come up is
// an error (running() false, error() says why): tests fail, never skip.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "common/loopback.h"
#include "common/tempdir.h"

struct SlapdOptions {
    std::string suffix = "dc=example,dc=com";
    std::string rootdn = "cn=Manager,dc=example,dc=com";
    std::string rootpw = "secret";
    // LDIF files loaded with slapadd: relative to the repository root, or absolute.
    std::vector<std::string> ldif = {"tests/data/directory.ldif"};
    int sizelimit = 0;  // entries per search for all but the rootdn; 0: slapd's default
    // Addresses to listen on, all at one port: "127.0.0.1", "::1", "127.0.0.2", ...
    std::vector<std::string> hosts = {"127.0.0.1"};
    int port = 0;  // the port of those addresses; 0: a free one (the default)
    // TLS with the test certificates (common/certificates.h): ldaps on
    // ldaps_port() and StartTLS on port(), server certificate for localhost
    // and 127.0.0.1.
    bool tls = false;
    bool tls_required = false;      // "security tls=1": binds need TLS
    std::string tls_verify_client;  // TLSVerifyClient: "demand", "try", ...; empty: never asked
    // More slapd.conf lines: before "database" (global ones such as
    // "idletimeout 1"), and after the database's own (access rules,
    // replication, overlays).
    std::vector<std::string> global_lines;
    std::vector<std::string> database_lines;
};

// The bindable ordinary user of the test data.
#define SLAPD_READER_DN "uid=reader,ou=People,dc=example,dc=com"
#define SLAPD_READER_PW "readerpw"

class Slapd {
  public:
    explicit Slapd(SlapdOptions options = SlapdOptions());
    ~Slapd();  // stops the server and removes its directory
    Slapd(const Slapd &) = delete;
    Slapd &operator=(const Slapd &) = delete;

    bool start();    // configures, loads the data, starts; true once it answers
    void stop();     // SIGTERM by pid
    bool restart();  // same port, same data

    bool running() const { return pid_ > 0; }
    const std::string &error() const { return error_; }
    const char *host() const { return options_.hosts.front().c_str(); }  // the first address
    int port() const { return port_; }
    int ldaps_port() const { return ldaps_port_; }  // 0 without options().tls
    const SlapdOptions &options() const { return options_; }

    // ldapsearch bound as the rootdn in clear (-LLL, no wrapping), attribute names
    // after the filter, paged when page_size is above 0; returns its exit status.
    int ldapsearch(const std::string &base, const std::string &scope, const std::string &filter,
                   const std::vector<std::string> &attributes, std::string *output, int page_size = 0) const;
    // The DNs found, as slapd spells them, in the order it sends them: that
    // of a paged search (by entry) when page_size is above 0.
    std::vector<std::string> search_dns(const std::string &base, const std::string &scope, const std::string &filter,
                                        int page_size = 0) const;

  private:
    bool launch(bool new_port);
    std::string url(const std::string &host) const;
    std::string url() const { return url(host()); }

    SlapdOptions options_;
    TempDir dir_;
    std::string error_;
    int port_ = 0, ldaps_port_ = 0;
    pid_t pid_ = -1;
};
