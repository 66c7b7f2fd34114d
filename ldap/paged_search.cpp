// The search operations: a search asked for page by page with the
// paged-results control (each page's cookie asking for the next, the
// entries of all pages handed on as those of one search), in one request,
// or into a list. The cookies come from the server and are hostile like the
// rest of its octets: the paging ends as soon as they go back to an earlier
// one, and all pages share the handle's time.
#include <cstdint>
#include <new>
#include <unordered_set>

#include "ldap/ldap.h"
#include "ldap/reply.h"

namespace {

const int LOOP_DETECT = 54;
const int TIME_LIMIT_EXCEEDED = 3;

// What a paged search keeps from page to page. Of the cookies sent it keeps
// only a fingerprint each: a server may make a cookie as large as a message.
struct paging {
    ldap_entry_sink *sink;
    int pages = 0;   // pages asked for so far
    int idle = 0;    // pages in a row without an entry
    ldap_page page;  // the server's control of the last page
    std::unordered_set<uint64_t> cookies;
    uint64_t last = 0;  // the fingerprint of the last page's cookie

    explicit paging(ldap_entry_sink *entries) : sink(entries) { ldap_page_init(&page); }
    ~paging() { ldap_page_clear(&page); }
};

// FNV-1a over the cookie's octets.
uint64_t fingerprint(const unsigned char *octets, int length)
{
    uint64_t hash = 14695981039346656037ull;
    for (int i = 0; i < length; i++)
        hash = (hash ^ octets[i]) * 1099511628211ull;
    return hash;
}

// Records and reports why the paging stopped with what came; returns code.
int stop_paging(ldap_handle *ldap, int code, const char *text)
{
    ldap_set_error(ldap, text, code);
    ldap_emsg(ldap, "Search {%s}", text);
    return code;
}

int time_ran_out(ldap_handle *ldap, int page)
{
    char text[128];
    lprintf(text, sizeof text, "Time Limit Exceeded - time ran out on page %d of a paged search",
            page);
    ldap->timed_out = 1;
    return stop_paging(ldap, TIME_LIMIT_EXCEEDED, text);
}

// Asks for the page after the cookie of state->page. The page's result
// code, or -1; its SearchResultDone's controls go to *done_controls.
int request_page(ldap_handle *ldap, const ldap_request *search, int page_size, paging *state,
                 lresult **done_controls)
{
    *done_controls = nullptr;
    ldap_cr *control = ldap_page_control(page_size, state->page.cookie, state->page.cookie_length);
    static_list controls;
    static_init(&controls, nullptr);
    int code = -1;
    if (control && static_add(&controls, control) >= 0)
        code = ldap_search_request(ldap, search, &controls, done_controls, state->sink);
    else
        ldap_log(ldap, "Out of memory for the paged-results control", nullptr);
    static_clear(&controls);
    ldap_cr_clear(control);
    return code;
}

// The pages of the search until the last one, or until the paging stops.
int page_through(ldap_handle *ldap, const ldap_request *search, int page_size,
                 ldap_entry_sink *sink)
{
    paging state(sink);
    for (;;) {
        int before = sink->handed;
        lresult *controls = nullptr;
        int code = request_page(ldap, search, page_size, &state, &controls);
        state.pages++;
        // On the first page nothing tells a paging server from one that
        // ignores the control: a time-out there fails as an unpaged one does.
        if (code == -1)
            return state.pages > 1 && ldap_timed_out(ldap) ? time_ran_out(ldap, state.pages) : -1;
        int read = ldap_page_read(&state.page, controls);
        ldap_free_message(controls);
        if (code != 0)
            return code;
        if (read < 0) {
            // Junk inside a reply: the connection cannot be trusted any more.
            chan_close(ldap->chan);
            ldap_drop_received(ldap);
            ldap_log(ldap, "The directory's paged-results control cannot be read", nullptr);
            return -1;
        }
        if (read == 0 || !state.page.cookie)
            return code;
        // A server may keep one cookie for all the pages of a search (Samba
        // does): only a cookie that comes back after another is a loop.
        uint64_t cookie = fingerprint(state.page.cookie, state.page.cookie_length);
        bool again = state.pages > 1 && cookie == state.last;
        state.last = cookie;
        if (!again && !state.cookies.insert(cookie).second) {
            char text[128];
            lprintf(text, sizeof text, "Loop Detect - the directory repeated a cookie on page %d",
                    state.pages);
            return stop_paging(ldap, LOOP_DETECT, text);
        }
        state.idle = sink->handed > before ? 0 : state.idle + 1;
        if (state.idle == LDAP_IDLE_PAGES) {
            char text[128];
            lprintf(text, sizeof text, "Loop Detect - %d pages in a row brought no entry",
                    LDAP_IDLE_PAGES);
            return stop_paging(ldap, LOOP_DETECT, text);
        }
        if (ldap_limit_left(ldap) <= 0)
            return time_ran_out(ldap, state.pages + 1);
    }
}

// ldap_search_paged into any kind of sink.
int search_into(ldap_handle *ldap, const ldap_request *search, int page_size, ldap_entry_sink *sink)
{
    ldap_clear_referrals(ldap);
    int code = oom_guard(
        [&] {
            return page_size > 0 ? page_through(ldap, search, page_size, sink)
                                 : ldap_search_request(ldap, search, nullptr, nullptr, sink);
        },
        [&] {
            ldap_log(ldap, "Out of Memory", nullptr);
            return -1;
        });
    if (ldap->referrals_dropped)
        ldap_dmsg(ldap, "kept %d referrals, dropped %d more", static_size(&ldap->referrals),
                  ldap->referrals_dropped);
    // A referral lost to memory is a referral all the same.
    if (code >= 0 && code != 10 && (static_size(&ldap->referrals) > 0 || ldap->referrals_dropped))
        code = 10;
    return code;
}

ldap_request search_of(const char *base, int scope, int deref, int size_limit, int time_limit,
                       int types_only, const char *filter, const char *attributes)
{
    ldap_request search = {};
    search.op = LDAP_SEARCH_REQUEST;
    search.base = base;
    search.scope = scope;
    search.deref = deref;
    search.size_limit = size_limit;
    search.time_limit = time_limit;
    search.types_only = types_only;
    search.filter = filter;
    search.attributes = attributes;
    return search;
}

}  // namespace

int ldap_search_paged(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                      int time_limit, int types_only, const char *filter, const char *attributes,
                      int page_size, ldap_entry_fn on_entry, void *context)
{
    if (!ldap || !on_entry || page_size < 0)
        return -1;
    ldap_request search =
        search_of(base, scope, deref, size_limit, time_limit, types_only, filter, attributes);
    ldap_entry_sink sink = {on_entry, nullptr, nullptr, context, 0};
    return search_into(ldap, &search, page_size, &sink);
}

int ldap_search_dns(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                    int time_limit, const char *filter, int page_size, ldap_dn_fn on_dn,
                    void *context)
{
    if (!ldap || !on_dn || page_size < 0)
        return -1;
    ldap_request search = search_of(base, scope, deref, size_limit, time_limit, 0, filter, "1.1");
    ldap_entry_sink sink = {nullptr, on_dn, nullptr, context, 0};
    return search_into(ldap, &search, page_size, &sink);
}

int ldap_search_views(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                      int time_limit, const char *filter, const char *attributes, int page_size,
                      ldap_view_fn on_view, void *context)
{
    if (!ldap || !on_view || page_size < 0)
        return -1;
    ldap_request search =
        search_of(base, scope, deref, size_limit, time_limit, 0, filter, attributes);
    ldap_entry_sink sink = {nullptr, nullptr, on_view, context, 0};
    return search_into(ldap, &search, page_size, &sink);
}

int ldap_search_each(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                     int time_limit, int types_only, const char *filter, const char *attributes,
                     ldap_entry_fn on_entry, void *context)
{
    return ldap_search_paged(ldap, base, scope, deref, size_limit, time_limit, types_only, filter,
                             attributes, 0, on_entry, context);
}

namespace {

// Entries arrive in bulk: grow the result list by more than the default step.
const int RESULT_STEP = 128;

// The list ldap_search fills, and whether an entry could not be kept.
struct result_keeper {
    static_list *results;
    bool lost;
};

int keep_in_list(void *context, lresult *entry)
{
    auto *keeper = static_cast<result_keeper *>(context);
    if (entry && static_add(keeper->results, entry) >= 0)
        return 1;
    keeper->lost = entry != nullptr;
    return 0;
}

}  // namespace

int ldap_search(ldap_handle *ldap, const char *base, int scope, int deref, int size_limit,
                int time_limit, int types_only, const char *filter, const char *attributes,
                static_list *results)
{
    if (!results)
        return 0;
    static_init(results, nullptr);
    static_setup(results, RESULT_STEP);
    result_keeper keeper = {results, false};
    int code = ldap_search_each(ldap, base, scope, deref, size_limit, time_limit, types_only,
                                filter, attributes, keep_in_list, &keeper);
    // A list that misses an entry is no answer.
    if (keeper.lost && code != -1) {
        ldap_set_error(ldap, "Out of Memory", -1);
        code = -1;
    }
    if (code == -1)
        ldap_clear_result_list(results);
    return code;
}
