// Helpers shared by the fuzz targets.
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "ldap/ldap.h"

// A message sink that formats its message (so that a format and its
// arguments that disagree are caught) and drops it.
int fuzz_quiet(const char *format, ...);
// The input up to its first zero octet, as a text.
std::string fuzz_text(const uint8_t *data, size_t size);
// Calls every accessor a caller would use on a decoded list, recursively,
// and traces it to a null stream.
void fuzz_walk(lresult *list);
// Walks a decoded list as a search entry: its DN, attributes and values.
void fuzz_walk_entry(lresult *list);
// Releases a decoded list; tolerates null and LRESULT_INVALID.
void fuzz_release(lresult *list);
// Sends the process's standard output to /dev/null (services write their
// replies and failure lines there).
void fuzz_silence_stdout();

#endif
