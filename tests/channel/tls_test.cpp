// The channel over TLS: handshakes with slapd and fakes (each failure
// saying why), settings that cannot be used, and reads of bytes the TLS
// layer already holds while the socket stays silent.
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "chan_testing.h"
#include "common/certificates.h"
#include "common/fake_server.h"
#include "common/slapd.h"
#include "support/nlib.h"

namespace {

// Settings trusting the certificates in ca (null: the system's), verifying unless told not to.
chan_tls_settings settings(const char *ca, int verify = CHAN_TLS_DEMAND)
{
    return {ca, nullptr, nullptr, nullptr, verify};
}

struct Context {
    explicit Context(chan_tls_settings settings) : code(chan_tls_new(&tls, &settings)) {}
    ~Context() { chan_tls_free(tls); }
    chan_tls *tls = nullptr;
    int code;
};

struct Client : Chan {
    Client() { chan_timeout(this, 2, 0); }
    // Opens a connection to 127.0.0.1 and starts TLS on it: chan_tls_start's result.
    int start(int port, chan_tls *tls, const char *host = "127.0.0.1", int timeout = 2)
    {
        return chan_open(this, "127.0.0.1", port, 2) ? chan_tls_start(this, tls, host, timeout) : -1;
    }
    bool send(const std::string &bytes) { return chan_write(this, bytes.data(), int(bytes.size()), 1) == 1; }
};

// Each handshake that must fail, and the text after "TLS handshake failed: "
// that says why; against a slapd that wants TLS for binds and a client
// certificate, and fakes. A never verifying context takes a self-signed
// certificate; slapd takes the client's certificate.
TEST(TlsSlapd, HandshakeFailuresSayWhy)
{
    SlapdOptions options;
    options.tls = options.tls_required = true;
    options.tls_verify_client = "demand";
    Slapd server(options);
    ASSERT_TRUE(server.start()) << server.error();
    enum Peer { LDAPS, SLAPD_PLAIN, FAKE_TLS, FAKE_SILENT, FAKE_PLAIN };
    const TestCertificates &certs = test_certificates();
    const chan_tls_settings ca_only = settings(certs.ca.c_str()), wrong_ca = settings(certs.self_signed_cert.c_str()),
                            never = settings(nullptr, CHAN_TLS_NEVER),
                            trusted = {certs.ca.c_str(), nullptr, certs.client_cert.c_str(), certs.client_key.c_str(),
                                       CHAN_TLS_DEMAND};
    const struct {
        Peer peer;
        std::string cert;
        chan_tls_settings settings;
        const char *host;
        std::string error;
    } cases[] = {
        {LDAPS, "", trusted, "localhost", ""},  // slapd demands the client certificate
        {LDAPS, "", wrong_ca, "127.0.0.1", "certificate verify failed (self-signed certificate in certificate chain)"},
        {LDAPS, "", trusted, "127.0.0.2", "certificate does not match host 127.0.0.2"},
        {SLAPD_PLAIN, "", trusted, "127.0.0.1", "peer closed the connection (is it speaking TLS?)"},
        {FAKE_TLS, certs.expired_cert, ca_only, "localhost", "certificate verify failed (certificate has expired)"},
        {FAKE_TLS, certs.other_cert, ca_only, "localhost", "certificate does not match host localhost"},
        {FAKE_TLS, certs.self_signed_cert, never, "localhost", ""},
        // Addresses as the connection reads them match the certificate's addresses.
        {FAKE_TLS, certs.server_cert, ca_only, "127.1", ""},
        {FAKE_TLS, certs.server_cert, ca_only, "[::1%1]", ""},
        {FAKE_TLS, certs.server_cert, ca_only, "localhost.", ""},  // the same name, absolute
        {FAKE_SILENT, "", ca_only, "127.0.0.1", "peer did not answer the TLS handshake within 1 s"},
        {FAKE_PLAIN, "", ca_only, "127.0.0.1", "peer is not speaking TLS (wrong version number)"},
    };
    for (const auto &c : cases) {
        FakeServer fake;
        ASSERT_TRUE(c.peer != FAKE_TLS || fake.use_tls(c.cert, certs.server_key));
        if (c.peer == FAKE_PLAIN) fake.send(ldap_result_bytes(0x78, 0, 52, "not now"));
        fake.start();
        int port = c.peer == LDAPS ? server.ldaps_port() : c.peer == SLAPD_PLAIN ? server.port() : fake.port();
        Context context(c.settings);
        Client client;
        Stopwatch begun;
        int started = client.start(port, context.tls, c.host, 1);
        EXPECT_EQ(c.error.empty() ? "" : "TLS handshake failed: " + c.error, error_of(&client)) << c.peer;
        EXPECT_EQ(c.error.empty() * 3, started + chan_ssl(&client) + chan_isopen(&client));  // failed: closed
        EXPECT_EQ(chan_close(&client) * 10 + chan_close(&client) + chan_ssl(&client), c.error.empty() * 10);
        EXPECT_LT(begun.ms(), 3000);  // within the 1 s given, with room
    }
}

// Settings a context cannot be made from, each named by its code.
TEST(TlsSettings, UnusableSettingsAreNamed)
{
    // An open channel and no context, before any context loaded the library.
    int port = 0, listener = loopback_listen("127.0.0.1", &port);
    Client no_context;
    EXPECT_EQ(outcome(&no_context, no_context.start(port, nullptr)), "0 TLS handshake failed: no TLS context");
    close(listener);
    const TestCertificates &certs = test_certificates();
    std::string dir = certs.ca.substr(0, certs.ca.rfind('/')), missing = dir + "/missing.pem";
    const char *ca = certs.ca.c_str(), *cert = certs.client_cert.c_str(), *key = certs.client_key.c_str();
    // A certificate file that carries a key, not its own.
    std::string mixed = dir + "/mixed.pem";
    std::ofstream(mixed) << std::ifstream(cert).rdbuf() << std::ifstream(certs.server_key).rdbuf();
    const struct {
        chan_tls_settings settings;
        int code;
    } cases[] = {
        {{nullptr, nullptr, nullptr, nullptr, CHAN_TLS_DEMAND}, CHAN_TLS_OK},  // the system's trust store
        {{"", dir.c_str(), cert, key, CHAN_TLS_NEVER}, CHAN_TLS_OK},
        {{missing.c_str(), nullptr, nullptr, nullptr, 1}, CHAN_TLS_BAD_CA_FILE},
        {{key, nullptr, nullptr, nullptr, 1}, CHAN_TLS_BAD_CA_FILE},                // no certificate in it
        {{certs.crl.c_str(), nullptr, nullptr, nullptr, 1}, CHAN_TLS_BAD_CA_FILE},  // nor in a CRL
        {{nullptr, ca, nullptr, nullptr, 1}, CHAN_TLS_BAD_CA_DIR},
        {{ca, nullptr, missing.c_str(), key, 1}, CHAN_TLS_BAD_CERT_FILE},
        {{ca, nullptr, cert, nullptr, 1}, CHAN_TLS_BAD_CERT_FILE},           // no key beside the certificate
        {{ca, nullptr, mixed.c_str(), nullptr, 1}, CHAN_TLS_BAD_CERT_FILE},  // no key_file to blame
        {{ca, nullptr, cert, missing.c_str(), 1}, CHAN_TLS_BAD_KEY_FILE},
        {{ca, nullptr, nullptr, key, 1}, CHAN_TLS_KEY_WITHOUT_CERT},
        {{ca, nullptr, cert, certs.server_key.c_str(), 1}, CHAN_TLS_KEY_MISMATCH},
    };
    for (const auto &c : cases) {
        Context context(c.settings);
        EXPECT_EQ(c.code, context.code) << &c - cases;
        EXPECT_EQ(c.code == CHAN_TLS_OK, context.tls != nullptr);
    }
    EXPECT_EQ(CHAN_TLS_FAILED, chan_tls_new(nullptr, nullptr));
    Client closed;
    EXPECT_EQ(outcome(&closed, chan_tls_start(&closed, nullptr, "localhost", 1) + chan_ssl(nullptr)),
              "0 Socket Not Open");
}

// A client of a fake server over TLS; the test writes the server's script
// before connect(). Any one whole message is a request to the server.
class TlsFake : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(fake.use_tls(certs.server_cert, certs.server_key)); }
    bool connect()
    {
        fake.start();
        return client.start(fake.port(), context.tls) == 1;
    }
    const TestCertificates &certs = test_certificates();
    const std::string request = ldap_message(1, ber_element(0x42, ""));
    FakeServer fake;
    Context context{settings(certs.ca.c_str())};
    Client client;
};

// Messages batched into one TLS record, and a record read ahead but not yet
// decrypted, are read one by one while the socket stays idle (none waits for
// the time-out); a message split over many records, line reads, a timed-out
// read, and close_notify as end of stream.
TEST_F(TlsFake, BytesHeldByTheSessionAreReadWithoutWaiting)
{
    const std::string first = ldap_result_bytes(0x61, 1, 0), second = ldap_result_bytes(0x65, 2, 0, "done"),
                      third = ldap_entry_bytes(3, "cn=x", "cn", "x"),
                      long_one = ldap_entry_bytes(4, "cn=y", "cn", std::string(300, 'y'));
    fake.read_request()
        .send(first + second + third, int(first.size() + second.size()))
        .read_request()
        .send(long_one, 7)
        .send("one\ntwo\n")
        .close();
    ASSERT_TRUE(connect() && client.send(request)) << error_of(&client);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // both records arrive before the first read

    Stopwatch begun;
    EXPECT_EQ(first, read_exact(&client, int(first.size())));
    EXPECT_EQ(1, chan_check_read(&client, 2, 0));
    EXPECT_EQ(1, chan_check(&client, 2, 0));
    EXPECT_EQ(second, read_exact(&client, int(second.size()), 1, chan_read_internal));
    EXPECT_EQ(1, chan_check_read(&client, 2, 0));  // third's record, held as it came with the first
    EXPECT_EQ(third, read_exact(&client, int(third.size()), 0));
    EXPECT_LT(begun.ms(), 1000);
    chan_timeout(&client, 0, 50000);
    EXPECT_EQ("-2 setting timeout failed (0/50000)", read_exact(&client, 1));
    chan_timeout(&client, 2, 0);

    ASSERT_TRUE(client.send(request));
    EXPECT_EQ(long_one, read_exact(&client, int(long_one.size())));
    EXPECT_EQ("one", next_line(&client, chan_readln_char));
    EXPECT_EQ("two", next_line(&client));
    EXPECT_EQ("0 ", read_exact(&client, 1));
    EXPECT_EQ(counted(client.sent) * 10000 + counted(client.received),
              2 * long(request.size()) * 10000 +
                  long(first.size() + second.size() + third.size() + long_one.size() + 8));
}

// A record that never completes, its octets injected one every 100 ms: a
// timed read ends after one time-out in all, not one per octet.
TEST_F(TlsFake, ADrippedRecordEndsAReadInOneTimeOut)
{
    fake.send_raw(hex_bytes("17 03 03 40 00") + std::string(40, 'x'), 1, 100);
    ASSERT_TRUE(connect()) << error_of(&client);
    chan_timeout(&client, 0, 500000);
    Stopwatch begun;
    EXPECT_EQ(read_exact(&client, 1, 1, chan_read_internal), "-2 setting timeout failed (0/500000)");
    EXPECT_LT(begun.ms(), 1500);
}

// A write given up while the peer read nothing leaves part of a record in
// the session: a later write would send that record's rest in place of its
// own first bytes and report them sent. It fails instead.
TEST_F(TlsFake, AWriteAfterAnAbandonedOneFails)
{
    fake.read_request().send("xx", 1, 1000);  // reads nothing for a second, then everything
    ASSERT_TRUE(connect() && client.send(request)) << error_of(&client);
    const std::string flood(16 << 20, 'a');
    EXPECT_EQ(0, chan_write_until(&client, flood.data(), int(flood.size()), monotonic_us() + 300000));
    EXPECT_EQ(outcome(&client, client.send(std::string(40000, 'b'))), "0 TLS write failed: protocol is shutdown");
}

}  // namespace
