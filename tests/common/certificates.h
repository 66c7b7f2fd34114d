// Certificates for TLS tests, made once per test program with the openssl
// command (scripts/make-certificates.sh) in a temporary directory that
// is removed at exit. A private CA signs the server, expired, other-name and
// client certificates and an empty revocation list; the server, expired,
// other-name and self-signed certificates share server_key. The server's names: localhost, 127.0.0.1, ::1.
#pragma once
#include <string>

#include "common/process.h"
#include "common/tempdir.h"

struct TestCertificates {
    std::string ca, server_cert, server_key, expired_cert, other_cert, self_signed_cert, client_cert, client_key,
        crl;            // the CA's revocation list, empty
    std::string error;  // why they could not be made; empty when they were
};

inline const TestCertificates &test_certificates()
{
    static TempDir dir;
    static const TestCertificates made = [] {
        auto file = [](const char *name) { return dir.file(name); };
        TestCertificates c{
            file("ca.pem"),   file("server.pem"), file("server.key"), file("expired.pem"), file("other.pem"),
            file("self.pem"), file("client.pem"), file("client.key"), file("crl.pem"),     ""};
        ProcessResult r = run_process(
            {"/bin/sh", std::string(SOURCE_DIR) + "/scripts/make-certificates.sh", dir.path()}, "", "", 20000);
        if (r.status != 0)
            c.error = "scripts/make-certificates.sh failed (is openssl installed? scripts/install-deps.sh)";
        return c;
    }();
    return made;
}
