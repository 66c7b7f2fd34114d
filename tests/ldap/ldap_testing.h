// Helpers for the LDAP client tests: a handle whose error sink is captured,
// and result lists that release themselves.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "ldap/ldap.h"

// Every text the handle's error sink received, in order.
inline std::vector<std::string> &captured_errors()
{
    static std::vector<std::string> lines;
    return lines;
}

inline int capture_emsg(const char *format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    captured_errors().push_back(text);
    return 1;
}

// An initialised handle, released at the end of the scope.
struct TestHandle : ldap_handle {
    TestHandle()
    {
        ldap_init(this, capture_emsg, nullptr);
        captured_errors().clear();
    }
    ~TestHandle() { ldap_clear(this); }
    TestHandle(const TestHandle &) = delete;
    TestHandle &operator=(const TestHandle &) = delete;
};

// A search result list, cleared at the end of the scope.
struct ResultList : static_list {
    ResultList() { static_init(this, nullptr); }
    ~ResultList() { ldap_clear_result_list(this); }
    ResultList(const ResultList &) = delete;
    ResultList &operator=(const ResultList &) = delete;
    int size() { return static_size(this); }
    // The DNs of the entries, in arrival order.
    std::vector<std::string> dns()
    {
        std::vector<std::string> out;
        for (lresult *e = ldap_first_entry(this); e; e = ldap_next_entry(this))
            out.push_back(ldap_get_dn(e) ? ldap_get_dn(e) : "(null)");
        return out;
    }
};

inline std::string text_or_null(const char *text)
{
    return text ? text : "(null)";
}
