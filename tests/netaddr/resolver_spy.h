// Stand-ins for the C library's gethostname, getaddrinfo and getnameinfo,
// linked into the test program ahead of the library's own (under ASan the
// next definition is the sanitizer's, which calls libc). They count calls,
// can fail or rename the host, and answer names under ".invalid" (or all
// names, offline) with "not found" without asking a name server.
#pragma once

#include <string>

struct resolver_spy {
    int hostname_calls = 0;
    int lookups = 0;  // getaddrinfo and getnameinfo calls
    bool hostname_fails = false;
    std::string hostname;  // when set, gethostname gives this name
    bool offline = false;
};

// The one spy of the test program; reset it at the start of a test.
extern resolver_spy spy;
