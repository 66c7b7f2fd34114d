// DNS SRV look-up through the system resolver: the query, the answer read
// as hostile input, and the order RFC 2782 gives its targets.
#include "netaddr/net_fns.h"

#include "support/child.h"
#include "support/nlib.h"

#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Priority, weight and port come before the target name in SRV data.
const int SRV_FIXED = 6;
// The fewest octets a usable SRV record takes in an answer: the root as its
// owner name (1), type, class, TTL and data length (10), the fixed fields
// and a compressed target (8).
const int SRV_RECORD_MIN = 19;

// Empties list and keeps text as its failure; returns 0.
int refuse(srv_list *list, const std::string &text)
{
    srv_clear(list);
    list->error = strdup(text.c_str());
    return 0;
}

// srv_parse of an emptied list, without its guard.
int parse_answer(srv_list *list, const unsigned char *answer, int length, const char *name)
{
    const std::string queried = name ? name : "";
    const std::string malformed = "malformed SRV answer for " + queried;
    ns_msg msg;
    if (!answer || length <= 0 || ns_initparse(answer, length, &msg) < 0)
        return refuse(list, malformed);
    // The header's count is the sender's word: room for what the answer can
    // hold (a large domain has hundreds of servers), no more.
    int records = ns_msg_count(msg, ns_s_an), room = length / SRV_RECORD_MIN + 1;
    list->targets = static_cast<srv_target *>(
        calloc(size_t(std::min(std::max(records, 1), room)), sizeof(srv_target)));
    if (!list->targets)
        return refuse(list, "out of memory for SRV records of " + queried);
    bool unavailable = false;
    for (int i = 0; i < records; i++) {
        ns_rr rr;
        if (ns_parserr(&msg, ns_s_an, i, &rr) < 0)
            return refuse(list, malformed);
        if (ns_rr_type(rr) != ns_t_srv || ns_rr_class(rr) != ns_c_in)
            continue;
        const unsigned char *data = ns_rr_rdata(rr);
        int data_length = ns_rr_rdlen(rr);
        // The resolver refuses names over 255 octets and pointer loops, and
        // never reads past the end it is given.
        char target[NS_MAXDNAME];
        int used = data_length > SRV_FIXED ? dn_expand(ns_msg_base(msg), ns_msg_end(msg),
                                                       data + SRV_FIXED, target, sizeof target)
                                           : -1;
        if (used < 0 || used > data_length - SRV_FIXED)
            return refuse(list, malformed);
        if (!target[0] || strcmp(target, ".") == 0) {  // the root: "decidedly not available"
            unavailable = true;
            continue;
        }
        if (list->count == room)
            return refuse(list, malformed);
        srv_target &entry = list->targets[list->count];
        entry = srv_target{strdup(target), int(ns_get16(data + 4)), int(ns_get16(data)),
                           int(ns_get16(data + 2))};
        if (!entry.host)
            return refuse(list, "out of memory for SRV records of " + queried);
        list->count++;
    }
    if (list->count == 0)
        return refuse(list, unavailable
                                ? "service not available at " + queried + " (SRV target \".\")"
                                : "no SRV records for " + queried);
    return 1;
}

// A number from 0 to upper, both included, uniformly.
long random_upto(long upper)
{
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<long>(0, upper)(generator);
}

}  // namespace

void srv_order(srv_list *list, long (*pick)(long upper))
{
    if (!list || list->count <= 0)
        return;
    pick = pick ? pick : random_upto;
    srv_target *first = list->targets, *last = list->targets + list->count;
    std::stable_sort(first, last, [](const srv_target &a, const srv_target &b) {
        return a.priority < b.priority;
    });
    for (srv_target *group = first; group < last;) {
        srv_target *end = std::find_if(
            group, last, [&](const srv_target &t) { return t.priority != group->priority; });
        // Weight 0 first, so it is chosen only when the pick is 0; then each
        // next target by a pick weighted by the running sums.
        std::stable_partition(group, end, [](const srv_target &t) { return t.weight == 0; });
        for (srv_target *next = group; next < end; next++) {
            long sum = 0;
            for (srv_target *t = next; t < end; t++)
                sum += t->weight;
            long chosen = std::min(std::max(pick(sum), 0L), sum), running = 0;
            srv_target *choice = next;
            while (choice < end - 1 && (running += choice->weight) < chosen)
                choice++;
            std::rotate(next, choice, choice + 1);
        }
        group = end;
    }
}

namespace {

const int NO_RESOLVER = -2;  // an error of query(): no resolver could be set up
const int NO_CHILD = -3;     // of bounded_query(): no child process for the query, errno says why

// The resolver's answer to the SRV query of name, in answer: its length, or
// -1 with the resolver's error in *error. A positive timeout is shared out
// among the name servers, each asked once, so that a silent first one
// leaves time for the next.
int query(const std::string &name, int timeout, std::vector<unsigned char> &answer, int *error)
{
    struct __res_state state;
    memset(&state, 0, sizeof state);
    if (res_ninit(&state) != 0) {
        *error = NO_RESOLVER;
        return -1;
    }
    if (timeout > 0) {
        state.retrans = std::max(1, timeout / std::max(1, state.nscount));
        state.retry = 1;
    }
    int length =
        res_nquery(&state, name.c_str(), ns_c_in, ns_t_srv, answer.data(), int(answer.size()));
    *error = state.res_h_errno;
    res_nclose(&state);
    return length;
}

// query() within timeout seconds (0: as long as the resolver takes). The
// resolver waits on each name server in turn, and without any bound on one
// that takes the query over TCP after a truncated answer: a positive
// time-out runs it in a child process, killed when the time is up (a
// TRY_AGAIN failure). The child hands back the length and error, then the
// answer's octets.
int bounded_query(const std::string &name, int timeout, std::vector<unsigned char> &answer,
                  int *error)
{
    if (timeout <= 0)
        return query(name, timeout, answer, error);
    int head[2];
    auto ask = [&] {
        head[0] = query(name, timeout, answer, &head[1]);
        size_t kept = std::min(size_t(std::max(head[0], 0)), answer.size());
        return std::string(reinterpret_cast<char *>(head), sizeof head) +
               std::string(reinterpret_cast<char *>(answer.data()), kept);
    };
    std::string reply;
    // Milliseconds beyond an int are longer than any look-up lasts.
    int timeout_ms = int(std::min<int64_t>(int64_t(timeout) * 1000, INT_MAX));
    int ran = child_run(timeout_ms, ask, &reply);
    if (ran < 0) {
        *error = NO_CHILD;
        return -1;
    }
    bool whole =
        ran > 0 && reply.size() >= sizeof head && reply.size() - sizeof head <= answer.size();
    if (!whole) {
        *error = TRY_AGAIN;
        return -1;
    }
    memcpy(head, reply.data(), sizeof head);
    memcpy(answer.data(), reply.data() + sizeof head, reply.size() - sizeof head);
    *error = head[1];
    return head[0] < 0 ? -1 : int(reply.size() - sizeof head);
}

// srv_lookup of an emptied list, without its guard.
int look_up(srv_list *list, const char *service, const char *domain, int timeout)
{
    if (!service || !*service || !domain || !*domain)
        return refuse(list, "no SRV service or domain given");
    std::string name = std::string(service) + "." + domain;
    std::vector<unsigned char> answer(
        65536);  // before the resolver: nothing may throw while it is open
    int error = 0;
    int length = bounded_query(name, timeout, answer, &error);
    if (error == NO_CHILD)
        return refuse(list, "SRV look-up for " + name + " failed: " + strerror(errno));
    if (error == NO_RESOLVER)
        return refuse(list, "SRV look-up for " + name + " failed: no resolver");
    if (length < 0 && (error == HOST_NOT_FOUND || error == NO_DATA))
        return refuse(list, "no SRV records for " + name);
    if (length < 0)
        return refuse(list, "SRV look-up for " + name + " failed: " + hstrerror(error));
    // A longer answer than the buffer was cut to fit; reading it fails.
    if (!srv_parse(list, answer.data(), std::min(length, int(answer.size())), name.c_str()))
        return 0;
    srv_order(list, nullptr);
    return 1;
}

// Empties list and keeps the failure text of memory run out; returns 0.
int no_memory(srv_list *list)
{
    srv_clear(list);
    list->error = strdup("out of memory for SRV records");
    return 0;
}

}  // namespace

int srv_parse(srv_list *list, const unsigned char *answer, int length, const char *name)
{
    if (!list)
        return 0;
    srv_clear(list);
    return oom_guard([&] { return parse_answer(list, answer, length, name); },
                     [&] { return no_memory(list); });
}

int srv_lookup(srv_list *list, const char *service, const char *domain, int timeout)
{
    if (!list)
        return 0;
    srv_clear(list);
    return oom_guard([&] { return look_up(list, service, domain, timeout); },
                     [&] { return no_memory(list); });
}

void srv_clear(srv_list *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->count; i++)
        free(list->targets[i].host);
    free(list->targets);
    free(list->error);
    *list = srv_list{};
}
