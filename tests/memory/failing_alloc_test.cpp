// SEARCH, GET and the decoder when memory runs out. Each run fails the Nth
// allocation of the test's thread (N = 1, 2, ... until a run needs fewer),
// through malloc, calloc and realloc replaced below; operator new takes its
// memory from them. Every run must end cleanly: the reply of a run without
// failure or one failure line, a decoding whole or none, and each block
// taken during the run released. Built without the sanitizers only: they
// bring an allocator of their own.
#include <pthread.h>

#include <cerrno>

#include "addressbook/extern_book.h"
#include "common/certificates.h"
#include "ldap/ldap_testing.h"

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}

namespace {

// While armed, the thread's allocations are counted and the Nth fails (with
// and_after, every one from the Nth on); the blocks taken meanwhile are kept
// in live until they are freed or leaked() counts them.
struct {
    pthread_t thread;
    bool armed, and_after;
    long count, fail_at;
    void *live[4096];
    int live_count;
} plan;

bool ours() { return pthread_equal(pthread_self(), plan.thread); }

bool fail_now()
{
    bool fail = plan.armed && ours() && ++plan.count >= plan.fail_at && (plan.count == plan.fail_at || plan.and_after);
    if (fail) errno = ENOMEM;  // as malloc's own failure sets it
    return fail;
}

void *track(void *block)
{
    if (block && plan.armed && ours() && plan.live_count < 4096) plan.live[plan.live_count++] = block;
    return block;
}

void forget(void *block)
{
    for (int i = 0; block && ours() && i < plan.live_count; i++)
        if (plan.live[i] == block) {
            plan.live[i] = plan.live[--plan.live_count];
            return;
        }
}

}  // namespace

extern "C" void *malloc(size_t size) { return fail_now() ? nullptr : track(__libc_malloc(size)); }
extern "C" void *calloc(size_t count, size_t size) { return fail_now() ? nullptr : track(__libc_calloc(count, size)); }
extern "C" void *realloc(void *block, size_t size)
{
    if (fail_now()) return nullptr;
    void *moved = __libc_realloc(block, size);
    if (moved || size == 0) forget(block);
    return track(moved);
}
extern "C" void free(void *block)
{
    forget(block);
    __libc_free(block);
}

namespace {

// Blocks of the last run still held, less the kept ones (buffers the
// product keeps on purpose); ends the tracking.
int leaked(std::initializer_list<const void *> kept)
{
    int count = plan.live_count;
    for (const void *block : kept)
        for (int i = 0; block && i < plan.live_count; i++) count -= plan.live[i] == block;
    plan.live_count = 0;
    return count;
}

// For each mode (true: every allocation from the Nth on fails, false: the
// Nth alone) and N = 1, 2, ... up to the last run, the first that fails
// none: runs set_up, then step with the Nth allocation failing, and has
// check(n, last, said) judge the run by what it wrote on standard output.
template <class SetUp, class Step, class Check>
void each_failure(std::initializer_list<bool> modes, SetUp set_up, Step step, Check check)
{
    for (bool and_after : modes) {
        bool last = false;
        for (long n = 1; !last && n < 20000; n++) {
            plan = {pthread_self(), false, and_after, 0, n, {}, 0};
            set_up();
            testing::internal::CaptureStdout();
            plan.armed = true;
            step();
            plan.armed = false;
            last = plan.count < n;
            check(n, last, testing::internal::GetCapturedStdout());
        }
        EXPECT_TRUE(last) << "a run that never ends its allocations";
    }
}

}  // namespace

TEST(FailingAllocation, SearchAndGetEndCleanly)
{
    SlapdOptions options;
    options.ldif = {"tests/data/book.ldif", "tests/data/referral.ldif"};
    Slapd slapd(options);
    ASSERT_TRUE(slapd.start()) << slapd.error();
    TempDir dir;
    std::string path =
        dir.write("extern_book.ini",
                  "host 127.0.0.1\nport " + std::to_string(slapd.port()) + "\nmanager_dn " + options.rootdn +
                      "\nmanager_pass " + options.rootpw + "\nbase_dn ou=People," + options.suffix +
                      "\nscope LDAP_SCOPE_SUBTREE\n"
                      "field fullname STRING cn true\nfield surname STRING sn true\nfield email STRING mail true\n"
                      "field phone PHONE telephoneNumber false\n");
    ASSERT_TRUE(ini_init(ini, &display_data_length) && ini_load(path.c_str(), ini, &display_data_length));
    // Unbuffered into a fixed buffer: writing the reply takes no memory.
    static char reply[65536];
    FILE *out = fmemopen(reply, sizeof reply, "w");
    setvbuf(out, nullptr, _IONBF, 0);
    ASSERT_TRUE(book_start(out));
    ldap.emsg = nullptr;  // the replies tell how each run ended

    // Each reply is kept until the last run, whose reply all others must
    // match unless they are one failure line. The loops that fail every later
    // allocation come first, before any DN was coded or uncoded: the growth
    // of those buffers fails too.
    for (bool and_after : {true, false})
        for (const char *command : {"SEARCH OR 1-0 surname=Tester,email=alice@example.com",
                                    "GET cn!3DAlice!20Archer!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom"})
            // From no connection (the command connects), and on a bound one.
            for (bool connected : {false, true}) {
                std::vector<std::string> replies;
                char line[1024];
                each_failure(
                    {and_after},
                    [&] {
                        if (connected) {
                            ldap_setup(&ldap, ini[INI_HOST], book_number(ini[INI_PORT]));
                            ldap_connect(&ldap, ini[INI_MANAGER_DN], ini[INI_MANAGER_PASS]);
                        }
                        rewind(out);
                        lcpy(line, command, sizeof line);
                    },
                    [&] { book_command(out, line); },
                    [&](long n, bool last, const std::string &said) {
                        ldap_clear(&ldap);
                        book_forget_schema();
                        EXPECT_EQ(leaked({code_dn(""), uncode_dn("")}), 0) << command << " N=" << n;
                        replies.push_back(std::string(reply, static_cast<size_t>(ftell(out))));
                        // The reply of a malformed SEARCH is told apart.
                        EXPECT_TRUE(replies.back() != "-failure no result available.\n" ||
                                    said.find("Out of Memory") != std::string::npos)
                            << command << " N=" << n;
                        if (!last) return;
                        const std::string &whole = replies.back();
                        EXPECT_EQ(whole.find("+success"), whole.rfind('\n', whole.size() - 2) + 1) << whole;
                        for (size_t i = 0; i < replies.size(); i++) {
                            const std::string &r = replies[i];  // the whole reply, or one failure line
                            bool failure_line = r.rfind("-failure", 0) == 0 && r.find('\n') == r.size() - 1;
                            EXPECT_TRUE(r == whole || failure_line) << command << " N=" << i + 1 << ":\n" << r;
                        }
                    });
            }
    // StartTLS at connect, which this server (without TLS) refuses: every run
    // fails, the last one saying why.
    each_failure(
        {true, false},
        [&] {
            ldap_setup(&ldap, ini[INI_HOST], book_number(ini[INI_PORT]));
            ldap_set_tls(&ldap, nullptr, LDAP_TLS_STARTTLS);
        },
        [&] { EXPECT_EQ(ldap_connect(&ldap, ini[INI_MANAGER_DN], ini[INI_MANAGER_PASS]), -1); },
        [&](long n, bool last, const std::string &) {
            std::string text = book_error();
            ldap_clear(&ldap);
            EXPECT_EQ(leaked({}), 0) << "N=" << n << " " << text;
            const char *refusal = "StartTLS refused by the server: Protocol Error - unsupported extended operation";
            // Memory run out reading the answer is no refusal.
            EXPECT_TRUE(last ? text == refusal : text == refusal || text.find("not an answer") == std::string::npos)
                << text;
        });
    fclose(out);
}

TEST(FailingAllocation, ConfigurationIsWholeOrSaysWhy)
{
    const TestCertificates &certificates = test_certificates();
    ASSERT_EQ(certificates.error, "");
    // Enough fields to grow the table, a line longer than the first read
    // buffer, two servers and a TLS context to make.
    std::string text = "#" + std::string(300, '-') + "\nhost 127.0.0.1, ldaps://127.0.0.2\nport 389\n";
    for (int i = 0; i < 10; i++) text += "field f" + std::to_string(i) + " STRING cn true\n";
    text += "tls starttls\ntls_ca_file " + certificates.ca + "\n";
    TempDir dir;
    std::string path = dir.write("extern_book.ini", text);
    // The TLS library's one-time set-up comes first, outside the runs.
    ASSERT_TRUE(ini_init(ini, &display_data_length) && ini_load(path.c_str(), ini, &display_data_length));
    int loaded = 0;
    each_failure(
        {true, false}, [] {},
        [&] { loaded = ini_init(ini, &display_data_length) && ini_load(path.c_str(), ini, &display_data_length); },
        [&](long n, bool last, const std::string &said) {
            int records = 0;  // record_id included
            while (display_data && display_data[records].name) records++;
            // A setting is never blamed for memory run out, and silence is no answer.
            bool says_why = said.rfind("-failure ", 0) == 0 && said.find("malformed") == std::string::npos;
            EXPECT_TRUE(loaded ? said.empty() && records == 11 : says_why) << "N=" << n << " " << said;
            EXPECT_TRUE(!last || loaded) << said;
        });
}

TEST(FailingAllocation, DecodingIsWholeOrNone)
{
    // An entry; a referral answer with a paged-results control; a primitive
    // operation, which only the general decoder reads.
    std::string paged = ber_element(0x04, ber_element(0x30, ber_integer(0x02, 0) + ber_element(0x04, "c")));
    std::string control = ber_element(0x30, ber_element(0x04, "1.2.840.113556.1.4.319") + paged);
    std::string done = ber_integer(0x0A, 10) + ber_element(0x04, "") + ber_element(0x04, "") +
                       ber_element(0xA3, ber_element(0x04, "ldap://elsewhere/"));
    for (const std::string &message :
         {ldap_entry_bytes(2, "cn=Alice Archer,ou=People,dc=example,dc=com", "mail", "alice@example.com"),
          ber_element(0x30, ber_integer(0x02, 3) + ber_element(0x65, done) + ber_element(0xA0, control)),
          hex_bytes("30 0a 02 01 04 4a 05 63 6e 3d 78 79")}) {
        const auto *octets = reinterpret_cast<const unsigned char *>(message.data());
        int size = static_cast<int>(message.size());
        lresult *controls = nullptr, *decoded = ldap_decode_data(nullptr, octets, size, &controls);
        const std::string expected = printed(decoded) + printed(controls);
        ldap_free_message(decoded);
        ldap_free_message(controls);
        each_failure(
            {false, true}, [] {}, [&] { decoded = ldap_decode_data(nullptr, octets, size, &controls); },
            [&](long n, bool, const std::string &) {
                bool whole = decoded && decoded != LRESULT_INVALID;
                std::string got = whole ? printed(decoded) + printed(controls) : "";
                EXPECT_TRUE(whole ? got == expected : !controls) << "N=" << n << "\n" << got;
                ldap_free_message(decoded);
                ldap_free_message(controls);
                EXPECT_EQ(leaked({}), 0) << "N=" << n;
            });
    }
}

TEST(FailingAllocation, ModListKnowsWhatItLost)
{
    // Whatever allocation fails, the list is either whole or marked incomplete.
    ldap_mod mod;
    each_failure(
        {false, true}, [&] { ldap_mod_init(&mod); },
        [&] {
            ldap_mod_add(&mod, 2, "mail", "a");
            ldap_mod_add_value(&mod, "mail", "b");
            ldap_mod_add_value(&mod, "cn", "c");
        },
        [&](long n, bool last, const std::string &) {
            bool whole = items_of(mod) == std::vector<std::string>{"2 mail: a b", "0 cn: c"};
            EXPECT_EQ(whole, !mod.incomplete) << "N=" << n;
            EXPECT_EQ(last, whole) << "N=" << n;
            ldap_mod_clear(&mod);
            EXPECT_EQ(leaked({}), 0) << "N=" << n;
        });
}
