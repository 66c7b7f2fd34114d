// How the service reaches its directory: LDAPS and StartTLS with the
// certificate checked, failures that never let the bind (and its password)
// out, lists of servers with IPv6 entries, servers found through DNS SRV,
// and a replica that takes over.
#include <fstream>
#include <sstream>
#include <thread>

#include "book_testing.h"
#include "common/certificates.h"
#include "common/fake_dns.h"
#include "common/loopback.h"
#include "common/private_resolver.h"

namespace {

const std::string FIELDS = "field surname STRING sn true\nfield email STRING mail false\n";
const std::string ALICE = "cn!3DAlice!20Archer" + PEOPLE;
const std::string SEARCH = "SEARCH AND 1-0 surname=Archer", GET = "GET " + ALICE;
const std::string FOUND = ALICE + located(1);
const std::string ENTRY =
    "surname=Archer\nemail=alice@example.com\nemail=a.archer@example.org\n" + entry_located(ALICE);
const std::string INPUT = SEARCH + "\n" + GET + "\n";
const std::string SERVED = GREETING + FOUND + ENTRY;

// Waits (at most 5 s) until a TCP peer at port has closed its end of a
// connection of the process pid (the process's end in CLOSE_WAIT).
bool closed_by_peer(pid_t pid, int port)
{
    char remote_port[8];
    snprintf(remote_port, sizeof remote_port, ":%04X", port);
    for (auto end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        std::ifstream table("/proc/" + std::to_string(pid) + "/net/tcp");
        std::string line, slot, local, remote, state;
        while (std::getline(table, line))
            if (std::istringstream(line) >> slot >> local >> remote >> state && ends_with(remote, remote_port) &&
                state == "08")
                return true;
    }
    return false;
}

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
    for (const std::string &setting : settings)
        EXPECT_EQ(run_book(config(FIELDS + setting), INPUT).out, SERVED) << setting;
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

// A replicated pair sharing one port on 127.0.0.1 and 127.0.0.2: an entry
// added on the first is served by the second once the first is killed under
// the service, which goes on answering.
// The directory cuts idle connections and lets only bound users read: the
// next SEARCH or GET notices the cut, binds again and is answered.
TEST(Reconnection, IdleConnectionCutIsBoundAgain)
{
    SlapdOptions o;
    o.ldif = {"tests/data/book.ldif"};
    o.global_lines = {"idletimeout 1"};
    o.database_lines = {"access to * by users read by anonymous auth"};
    Slapd directory(o);
    ASSERT_TRUE(directory.start()) << directory.error();
    Book book(book_config(directory, FIELDS));
    for (const auto &[command, reply] : {std::pair{SEARCH, FOUND}, {GET, ENTRY}}) {
        ASSERT_TRUE(closed_by_peer(book.process().pid(), directory.port())) << command;
        EXPECT_TRUE(ends_with(book.ask(command), reply)) << command;
    }
}

TEST(Reconnection, FailoverToReplica)
{
    const std::string port = std::to_string(free_port()), zed = "cn!3DZed!20Zulu" + PEOPLE;
    std::unique_ptr<Slapd> pair[2];
    for (int id : {1, 2}) {
        SlapdOptions o;
        o.ldif.assign(2 - id, "tests/data/book.ldif");  // the second filled by replication alone
        o.hosts = {"127.0.0." + std::to_string(id)};
        o.port = std::stoi(port);
        o.global_lines = {"serverID " + std::to_string(id), "moduleload syncprov"};
        o.database_lines = {"index entryCSN,entryUUID eq",
                            "syncrepl rid=001 provider=ldap://127.0.0." + std::to_string(3 - id) + ":" + port +
                                " bindmethod=simple binddn=\"" + o.rootdn + "\" credentials=" + o.rootpw +
                                " searchbase=\"" + o.suffix + "\" type=refreshAndPersist retry=\"1 +\"",
                            "multiprovider on", "overlay syncprov"};
        pair[id - 1] = std::make_unique<Slapd>(o);
        ASSERT_TRUE(pair[id - 1]->start()) << pair[id - 1]->error();
    }
    const SlapdOptions &o = pair[0]->options();
    ProcessResult added = run_process(
        {"/usr/bin/env", "ldapadd", "-x", "-H", "ldap://127.0.0.1:" + port, "-D", o.rootdn, "-w", o.rootpw}, "",
        "dn: cn=Zed Zulu,ou=People," + o.suffix +
            "\nobjectClass: inetOrgPerson\ncn: Zed Zulu\nsn: Zulu\nmail: zed@example.com\n");
    ASSERT_EQ(added.status, 0) << added.out;
    for (int i = 0; i < 100 && pair[1]->search_dns(o.suffix, "sub", "(sn=Zulu)").empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    Book book(book_config(*pair[0], "debug true\n" + FIELDS, "127.0.0.1, 127.0.0.2"));
    const std::string found = zed + located(1), entry = "surname=Zulu\nemail=zed@example.com\n" + entry_located(zed);
    EXPECT_TRUE(ends_with(book.ask("SEARCH AND 1-0 surname=Zulu"), found));
    pair[0]->stop();
    std::string reply = book.ask("SEARCH AND 1-0 surname=Zulu");
    EXPECT_NE(reply.find("Debug: reconnected to 127.0.0.2:" + port + "\n"), std::string::npos) << reply;
    EXPECT_TRUE(ends_with(reply, found)) << reply;
    book.expect({{"GET " + zed, entry}, {SEARCH, FOUND}}, true);
}
