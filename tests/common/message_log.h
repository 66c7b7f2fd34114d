// A message sink (msg_fn) that keeps every message it is given, formatted,
// for tests that check what a layer reports.
#pragma once

#include "support/nlib.h"

#include <cstdarg>
#include <string>
#include <vector>

inline std::vector<std::string> logged_messages;

inline int log_message(const char *format, ...) NLIB_PRINTF(1, 2);
inline int log_message(const char *format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    lvprintf(text, sizeof text, format, args);
    va_end(args);
    logged_messages.push_back(text);
    return 0;
}
