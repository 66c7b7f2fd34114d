// A message sink (msg_fn) that keeps every message it is given, formatted,
// for tests that check what a layer reports.
#pragma once

#include "support/nlib.h"

#include <string>
#include <vector>

extern std::vector<std::string> logged_messages;

int log_message(const char *format, ...) NLIB_PRINTF(1, 2);
