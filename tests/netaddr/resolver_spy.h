// Stand-ins for the C library's gethostname, getaddrinfo and getnameinfo,
// linked into the test program ahead of the library's own (under ASan too:
// the next definition found is then the sanitizer's, which calls libc).
// They count the calls, can fail or rename the host, and answer names under
// ".invalid" with "not found" without asking any name server. Everything
// else goes through to the real functions.
#pragma once

#include <string>

struct resolver_spy {
    int hostname_calls = 0;
    int lookups = 0;               // getaddrinfo and getnameinfo calls
    bool hostname_fails = false;
    std::string hostname;          // when set, gethostname gives this name
    bool offline = false;          // every look-up answers "not found"
};

// The one spy of the test program; reset it at the start of a test.
extern resolver_spy spy;
