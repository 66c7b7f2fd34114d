// The channel over TLS: handshakes with slapd and fakes (each failure
// saying why), settings that cannot be used, and reads of bytes the TLS
// layer already holds while the socket stays silent.
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "channel/chanel.h"
#include "common/certificates.h"
#include "common/fake_server.h"
#include "common/slapd.h"
#include "support/nlib.h"

namespace {

std::string error_of(chan_rec *chan) { return chan_error_string(chan) ? chan_error_string(chan) : ""; }

long long counted(const size_counter &c) { return (c.trillions * 1000000LL + c.millions) * 1000000LL + c.units; }

std::string bind_request(int id, const std::string &dn, const std::string &password)
{
    return ldap_message(id,
                        ber_element(0x60, ber_integer(0x02, 3) + ber_element(0x04, dn) + ber_element(0x80, password)));
}

// Settings naming these files (null: unset), verifying unless told not to.
chan_tls_settings settings(const char *ca, const char *cert = nullptr, const char *key = nullptr,
                           int verify = CHAN_TLS_DEMAND)
{
    return {ca, nullptr, cert, key, verify};
}

struct Context {
    explicit Context(chan_tls_settings settings) : code(chan_tls_new(&tls, &settings)) {}
    ~Context() { chan_tls_free(tls); }
    chan_tls *tls = nullptr;
    int code;
};

struct Client : chan_rec {
    Client()
    {
        chan_init(this);
        chan_timeout(this, 2, 0);
    }
    ~Client() { chan_clear(this); }
    // Opens a connection to 127.0.0.1 and starts TLS on it: chan_tls_start's result.
    int start(int port, chan_tls *tls, const char *host = "127.0.0.1", int timeout = 2)
    {
        return chan_open(this, "127.0.0.1", port, 2) ? chan_tls_start(this, tls, host, timeout) : -1;
    }
    bool send(const std::string &bytes) { return chan_write(this, bytes.data(), int(bytes.size()), 1) == 1; }
    // chan_read of len bytes: the bytes, or "<result> <error text>".
    std::string read(int len, int wait = 1)
    {
        std::string buf(size_t(len), '\0');
        int n = chan_read(this, &buf[0], len, wait);
        return n == len ? buf : std::to_string(n) + " " + error_of(this);
    }
};

// One slapd that wants TLS for binds and a client certificate.
class TlsSlapd : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        SlapdOptions options;
        options.tls = options.tls_required = true;
        options.tls_verify_client = "demand";
        server = new Slapd(options);
        server->start();
    }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override { ASSERT_TRUE(server->running()) << server->error(); }
    inline static Slapd *server = nullptr;
    const TestCertificates &certs = test_certificates();
    const chan_tls_settings trusted = settings(certs.ca.c_str(), certs.client_cert.c_str(), certs.client_key.c_str());
};

// Each handshake that must fail, and the text after "TLS handshake failed: "
// that says why. A never verifying context takes a self-signed certificate;
// slapd takes the client's certificate.
TEST_F(TlsSlapd, HandshakeFailuresSayWhy)
{
    enum Peer { LDAPS, SLAPD_PLAIN, FAKE_TLS, FAKE_SILENT, FAKE_PLAIN };
    const chan_tls_settings ca_only = settings(certs.ca.c_str()), wrong_ca = settings(certs.self_signed_cert.c_str()),
                            never = settings(nullptr, nullptr, nullptr, CHAN_TLS_NEVER);
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
        if (c.peer == FAKE_TLS) {
            ASSERT_TRUE(fake.use_tls(c.cert, certs.server_key));
        } else if (c.peer == FAKE_PLAIN) {
            fake.send(ldap_result_bytes(0x78, 0, 52, "not now"));
        }
        fake.start();
        int port = c.peer == LDAPS ? server->ldaps_port() : c.peer == SLAPD_PLAIN ? server->port() : fake.port();
        Context context(c.settings);
        Client client;
        auto begun = std::chrono::steady_clock::now();
        int started = client.start(port, context.tls, c.host, 1);
        EXPECT_EQ(c.error.empty() ? "" : "TLS handshake failed: " + c.error, error_of(&client)) << c.peer;
        EXPECT_EQ(c.error.empty() * 3, started + chan_ssl(&client) + chan_isopen(&client));  // failed: closed
        EXPECT_EQ(chan_close(&client) * 10 + chan_close(&client) + chan_ssl(&client), c.error.empty() * 10);
        EXPECT_LT(std::chrono::steady_clock::now() - begun,
                  std::chrono::seconds(3));  // within the 1 s given, with room
    }
}

// Settings a context cannot be made from, each named by its code.
TEST(TlsSettings, UnusableSettingsAreNamed)
{
    // An open channel and no context, before any context loaded the library.
    int port = 0, listener = loopback_listen("127.0.0.1", &port);
    Client no_context;
    EXPECT_EQ(0, no_context.start(port, nullptr));
    EXPECT_EQ("TLS handshake failed: no TLS context", error_of(&no_context));
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
    EXPECT_EQ(0, chan_tls_start(&closed, nullptr, "localhost", 1) + chan_ssl(nullptr));
    EXPECT_EQ("Socket Not Open", error_of(&closed));
}

// A client of a fake server over TLS; the test writes the server's script
// before connect().
class TlsFake : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(fake.use_tls(certs.server_cert, certs.server_key)); }
    bool connect()
    {
        fake.start();
        return client.start(fake.port(), context.tls) == 1;
    }
    const TestCertificates &certs = test_certificates();
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
    ASSERT_TRUE(connect()) << error_of(&client);
    const std::string request = bind_request(1, "cn=me", "pw");
    ASSERT_TRUE(client.send(request));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // both records arrive before the first read

    auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(first, client.read(int(first.size())));
    EXPECT_EQ(1, chan_check_read(&client, 2, 0));
    EXPECT_EQ(1, chan_check(&client, 2, 0));
    std::string buf(second.size(), '\0');
    EXPECT_EQ(int(second.size()), chan_read_internal(&client, &buf[0], int(buf.size()), 1));
    EXPECT_EQ(second, buf);
    EXPECT_EQ(1, chan_check_read(&client, 2, 0));  // third's record, held as it came with the first
    EXPECT_EQ(third, client.read(int(third.size()), 0));
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(1));
    chan_timeout(&client, 0, 50000);
    EXPECT_EQ("-2 setting timeout failed (0/50000)", client.read(1));
    chan_timeout(&client, 2, 0);

    ASSERT_TRUE(client.send(request));
    EXPECT_EQ(long_one, client.read(int(long_one.size())));
    std::unique_ptr<char, decltype(&free)> one(chan_readln_char(&client, 1), free), two(chan_readln(&client, 1), free);
    EXPECT_EQ("one two", std::string(one ? one.get() : "") + " " + (two ? two.get() : ""));
    EXPECT_EQ("0 ", client.read(1));
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
    auto begun = std::chrono::steady_clock::now();
    char byte;
    EXPECT_EQ(-2, chan_read_internal(&client, &byte, 1, 1));
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(1500));
}

// A write given up while the peer read nothing leaves part of a record in
// the session: a later write would send that record's rest in place of its
// own first bytes and report them sent. It fails instead.
TEST_F(TlsFake, AWriteAfterAnAbandonedOneFails)
{
    fake.read_request().send("xx", 1, 1000);  // reads nothing for a second, then everything
    ASSERT_TRUE(connect()) << error_of(&client);
    ASSERT_TRUE(client.send(bind_request(1, "cn=me", "pw")));
    const std::string flood(16 << 20, 'a'), next(40000, 'b');
    EXPECT_EQ(0, chan_write_until(&client, flood.data(), int(flood.size()), monotonic_us() + 300000));
    EXPECT_FALSE(client.send(next));
    EXPECT_EQ("TLS write failed: protocol is shutdown", error_of(&client));
}

}  // namespace
