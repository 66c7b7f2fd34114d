// How the service reaches its directory: LDAPS and StartTLS with the
// certificate checked, failures that never let the bind (and its password)
// out, lists of servers with IPv6 entries and servers found through DNS SRV.
#include <fstream>
#include <thread>

#include "book_testing.h"
#include "common/certificates.h"
#include "common/fake_dns.h"
#include "common/loopback.h"
#include "common/private_resolver.h"

namespace {

const std::string FIELDS = "field surname STRING sn true\nfield email STRING mail false\n";
const std::string ALICE = "cn!3DAlice!20Archer" + PEOPLE;
const std::string INPUT = "SEARCH AND 1-0 surname=Archer\nGET " + ALICE + "\n";
const std::string SERVED = GREETING + ALICE + located(1) +
                           "surname=Archer\nemail=alice@example.com\nemail=a.archer@example.org\n" +
                           entry_located(ALICE);

}  // namespace

// Beside the suite's plain slapd, one that serves TLS on both ports and
// refuses binds without it, as directories that hold passwords do.
class Connections : public BookTest {
  protected:
    static void SetUpTestSuite()
    {
        BookTest::SetUpTestSuite();
        SlapdOptions tls = options();
        tls.tls = tls.tls_required = true;
        tls.hosts = {"127.0.0.1", "::1"};
        secure = new Slapd(tls);
        secure->start();
    }
    static void TearDownTestSuite()
    {
        delete secure;
        BookTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        BookTest::SetUp();
        ASSERT_TRUE(secure->running()) << secure->error();
        ASSERT_EQ(certs.error, "");
    }
    static inline Slapd *secure;
    const TestCertificates &certs = test_certificates();
};

TEST_F(Connections, TlsAndServerListsServe)
{
    const std::string plain = std::to_string(secure->port()), ldaps = std::to_string(secure->ldaps_port());
    const std::string ca = "tls_ca_file " + certs.ca + "\n";
    const std::string settings[] = {
        "tls ldaps\nhost localhost\nport " + ldaps + "\n" + ca,
        "TLS StartTLS\nhost localhost\nport " + plain + "\n" + ca,
        // An ldaps:// entry needs no "tls"; the first server refuses.
        "host 127.0.0.2:" + plain + ", ldaps://127.0.0.1:" + ldaps + "\n" + ca,
        // An ldap:// entry never goes plain when TLS is asked for.
        "tls ldaps\nhost ldap://[::1]:" + plain + "\n" + ca,
    };
    for (const std::string &setting : settings) {
        ProcessResult r = run_book(config(FIELDS + setting), INPUT);
        EXPECT_EQ(r.out, SERVED) << setting;
    }
}

// Each failure ends start-up with its reason; the fake directories show that
// no bind request went out.
TEST_F(Connections, TlsFailuresNeverSendTheBind)
{
    const std::string quick = "connect_timeout 1\ntimeout 1\n", ca = "tls_ca_file " + certs.ca + "\n";
    const std::string ldaps = "tls ldaps\n" + ca, starttls = "tls starttls\n" + ca;
    const std::string request =
        ber_element(0x30, ber_integer(0x02, 1) + ber_element(0x77, ber_element(0x80, "1.3.6.1.4.1.1466.20037")));
    auto serving = [this](const std::string &cert) {
        return Script([this, cert](FakeServer &f) { EXPECT_TRUE(f.use_tls(cert, certs.server_key)); });
    };
    auto port = [](int number) { return "port " + std::to_string(number) + "\n"; };
    const struct {
        Script fake;  // none: a real directory
        bool asked;   // the fake directory received StartTLS's request, and nothing else
        std::string settings, reason;
    } rows[] = {
        {serving(certs.expired_cert), false, ldaps,
         "TLS handshake failed: certificate verify failed (certificate has expired)"},
        {serving(certs.other_cert), false, ldaps, "TLS handshake failed: certificate does not match host localhost"},
        {serving(certs.self_signed_cert), false, ldaps,
         "TLS handshake failed: certificate verify failed (self-signed certificate)"},
        {[](FakeServer &f) { answer(f, [](int id) { return ldap_result_bytes(0x78, id, 2, "no TLS here"); }); }, true,
         starttls, "StartTLS refused by the server: Protocol Error - no TLS here"},
        {[](FakeServer &f) { f.read_request(); }, true, starttls,
         "StartTLS not answered within 1 s (does the port speak TLS? then use tls ldaps)"},
        {[](FakeServer &) {}, false, ldaps, "TLS handshake failed: peer did not answer the TLS handshake within 1 s"},
        // Real directories: one without TLS, a plain port, StartTLS on the
        // LDAPS port, a certificate from an authority not trusted, a password
        // refused in clear.
        {nullptr, false, starttls + port(slapd->port()),
         "StartTLS refused by the server: Protocol Error - unsupported extended operation"},
        {nullptr, false, ldaps + port(slapd->port()),
         "TLS handshake failed: peer closed the connection (is it speaking TLS?)"},
        {nullptr, false, starttls + port(secure->ldaps_port()),
         "StartTLS not answered: Connection Closed by LDAP server (does the port speak TLS? then use tls ldaps)"},
        {nullptr, false, "tls ldaps\ntls_ca_file " + certs.self_signed_cert + "\n" + port(secure->ldaps_port()),
         "TLS handshake failed: certificate verify failed (self-signed certificate in certificate chain)"},
        {nullptr, false, port(secure->port()), "Confidentiality Required - TLS confidentiality required"},
    };
    for (const auto &row : rows) {
        FakeServer fake;
        if (row.fake) row.fake(fake);
        fake.start();
        auto start = Clock::now();
        ProcessResult r = run_book(
            config(FIELDS + quick + "host localhost\n" + (row.fake ? port(fake.port()) : "") + row.settings), "");
        EXPECT_TRUE(ends_with(r.out, "(" + row.reason + ")\n")) << r.out;
        EXPECT_EQ(r.status, 1) << row.reason;
        EXPECT_LT(seconds_since(start), 4.0) << row.reason;
        EXPECT_TRUE(!row.fake || fake.requests() == std::vector<std::string>(row.asked, request)) << row.reason;
    }
    // Told never to verify, the service takes the self-signed certificate.
    FakeServer fake;
    ASSERT_TRUE(fake.use_tls(certs.self_signed_cert, certs.server_key));
    bind_ok(fake);
    fake.start();
    EXPECT_EQ(run_book("host localhost\n" + port(fake.port()) + "tls ldaps\ntls_verify Never\n", "").out, GREETING);
}

// A refused password is not offered to the next server of "host" (which
// would only lock the account sooner); "host2" is still tried.
TEST_F(Connections, RefusedPasswordEndsItsList)
{
    const std::string first = "127.0.0.1:" + std::to_string(slapd->port());
    const std::string refused = "Error: LDAP: Connect {Invalid Credentials - (NULL)}\n";
    // A "host2" of separators alone names no server, so none is tried.
    EXPECT_EQ(run_book(config(FIELDS + "manager_pass wrong\nhost " + first + "\nhost2 ,\n"), "").out,
              refused + startup_failure(first, "Invalid Credentials - (NULL)"));
    for (bool second_host : {false, true}) {
        FakeServer fake;
        bind_ok(fake);
        fake.start();
        std::string next = "127.0.0.1:" + std::to_string(fake.port());
        std::string hosts = second_host ? "host " + first + "\nhost2 " + next : "host " + first + " " + next;
        ProcessResult r = run_book(config(FIELDS + "manager_pass wrong\n" + hosts + "\n"), "");
        EXPECT_EQ(r.out,
                  second_host ? refused + GREETING : refused + startup_failure(first, "Invalid Credentials - (NULL)"));
        EXPECT_EQ(fake.requests().size(), second_host ? 2u : 0u);  // the bind, the schema's root DSE
    }
}

// "srv:DOMAIN" stands for the servers of the domain's SRV records, in the
// order of their priorities; a domain without them names what was looked up.
TEST_F(Connections, ServersFromDnsSrv)
{
    FakeDns dns("127.0.0.154");
    ASSERT_TRUE(dns.running());
    dns.serve(dns_srv_reply("_ldap._tcp.example.test",
                            {{20, 0, slapd->port(), "127.0.0.1"}, {10, 0, slapd->port(), "127.0.0.2"}}));
    const std::string resolver = "nameserver 127.0.0.154\noptions timeout:1 attempts:1\n";
    std::string out = run_with_resolver(resolver, "", [&] {
        return run_book(config(FIELDS + "host srv:example.test\ndebug true\n"), INPUT).out + "--\n" +
               run_book(config(FIELDS + "host srv:none.test\nport 389\n"), "").out;
    });
    // Priority 10 first: its server refuses, the next one serves.
    std::string first = "Debug: cannot use 127.0.0.2:" + std::to_string(slapd->port()) + " (";
    EXPECT_EQ(out.rfind(first, 0), 0u) << out;
    std::string replies;
    for (size_t at = 0, end; at < out.size(); at = end + 1) {
        end = out.find('\n', at);
        if (out.compare(at, 7, "Debug: ") != 0) replies += out.substr(at, end + 1 - at);
    }
    EXPECT_EQ(replies,
              SERVED + "--\n" + startup_failure("srv:none.test:389", "no SRV records for _ldap._tcp.none.test"));
}

// A host that kills the service during a name look-up that hangs (a
// truncated answer sends the resolver to a TCP server that never answers)
// sees its output end at once: the look-up does not outlive the service.
TEST(HostLookUp, EndsWithTheKilledService)
{
    FakeDns dns("127.0.0.162");
    std::string truncated = dns_reply("hang.test", 1, 0, "");
    truncated[2] |= 0x02;
    dns.serve(truncated);
    ASSERT_TRUE(dns.running()) << "cannot serve DNS (root needed)";
    std::string result = run_with_resolver("nameserver 127.0.0.162\n", "", [] {
        int port = 53, tcp = loopback_listen("127.0.0.162", &port);
        TempDir dir;
        dir.write("extern_book.ini", "host hang.test\nport 389\nconnect_timeout 30\n");
        ChildProcess book({EXTERN_BOOK_BIN}, dir.path());
        const std::string pid = std::to_string(book.pid());
        std::string looking_up;  // the pid of the look-up's child
        for (int i = 0; i < 100 && looking_up.empty(); i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::ifstream("/proc/" + pid + "/task/" + pid + "/children") >> looking_up;
        }
        kill(book.pid(), SIGKILL);
        book.wait();
        auto start = Clock::now();
        book.read_all(2000);
        std::string ended = looking_up.empty() ? "no look-up" : seconds_since(start) < 1 ? "ended" : "held open";
        close(tcp);
        return ended;
    });
    EXPECT_EQ(result, "ended");
}
