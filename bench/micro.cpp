// Micro-benchmarks of the hot paths under SEARCH and GET.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "common/ber.h"
#include "ldap/ldap.h"
#include "support/nlib.h"
#include "support/static.h"

namespace {

const char ten_term_filter[] = "(&(cn=Jo*)(sn=Smith)(mail=*@example.com)(telephoneNumber=*555*)(objectClass=person)"
                               "(givenName=Jo)(title=Engineer)(l=Springfield)(departmentNumber=s)(uid=*))";

// A whole SearchRequest message as the service sends it: the request body,
// the compiled filter, the attribute list, the envelope with its message ID.
void BM_EncodeSearchRequest(benchmark::State &state)
{
    for (auto _ : state) {
        data_buf body, names, message;
        data_init(&body);
        data_init(&names);
        data_init(&message);
        data_add_ldapdn(&body, "ou=People,dc=example,dc=com");
        data_add_enum(&body, 2);
        data_add_enum(&body, 0);
        data_add_integer(&body, 0);
        data_add_integer(&body, 30);
        data_add_bool(&body, 0);
        data_cvt_search(&body, "(&(cn=Smith*)(mail=*))", 1);
        data_cvt_attrib(&names, "1.1");
        data_data(&body, &names, 0x30);
        data_add_integer(&message, 2);
        data_data(&message, &body, 0x63);
        data_add_upper(&message, 0x30);
        benchmark::DoNotOptimize(message.data);
        data_clear(&body);
        data_clear(&names);
        data_clear(&message);
    }
}
BENCHMARK(BM_EncodeSearchRequest);

// A SearchResultEntry with ten attributes, as slapd sends it.
std::string search_entry()
{
    return ldap_entry_bytes(2, "uid=user000042,ou=People,dc=example,dc=com",
                            {{"objectClass", {"inetOrgPerson"}},
                             {"cn", {"Jo Smith 000042"}},
                             {"sn", {"Smith"}},
                             {"givenName", {"Jo"}},
                             {"mail", {"jo.smith.000042@example.com"}},
                             {"telephoneNumber", {"+1 555 0100 042"}},
                             {"title", {"Engineer"}},
                             {"l", {"Springfield"}},
                             {"departmentNumber", {"s"}},
                             {"uid", {"user000042"}}});
}

void BM_DecodeSearchEntry(benchmark::State &state)
{
    std::string octets = search_entry();
    const unsigned char *data = reinterpret_cast<const unsigned char *>(octets.data());
    for (auto _ : state) {
        lresult *entry = ldap_decode_data(nullptr, data, static_cast<int>(octets.size()), nullptr);
        if (!entry || entry == LRESULT_INVALID) {
            state.SkipWithError("entry not decoded");
            break;
        }
        benchmark::DoNotOptimize(ldap_get_dn(entry));
        lresult_clear(entry);
        free(entry);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(octets.size()));
}
BENCHMARK(BM_DecodeSearchEntry);

void BM_CompileTenTermAnd(benchmark::State &state)
{
    for (auto _ : state) {
        data_buf out;
        data_init(&out);
        benchmark::DoNotOptimize(data_cvt_search(&out, ten_term_filter, 1));
        data_clear(&out);
    }
}
BENCHMARK(BM_CompileTenTermAnd);

void BM_FormatMessage(benchmark::State &state)
{
    char line[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(lprintf(line, sizeof line, "LDAP: %s {%d} %s (%s)", "Search", 32, "No such object",
                                         "ou=People,dc=example,dc=com"));
    }
}
BENCHMARK(BM_FormatMessage);

void BM_StaticListAppend(benchmark::State &state)
{
    static int item;
    for (auto _ : state) {
        static_list list;
        static_init(&list, nullptr);
        for (int i = 0; i < 100000; i++) static_add(&list, &item);
        benchmark::DoNotOptimize(list.items);
        static_clear(&list);
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_StaticListAppend)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
