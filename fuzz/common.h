// Helpers shared by the fuzz targets.
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

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
// A channel whose peer sends a reply stream, one piece per read (sequenced
// packets keep the piece boundaries): in pieces of the given sizes, cycled
// (none: the whole stream at once), then the end of the connection.
// Requests written to the channel are never read.
class FuzzStream {
  public:
    FuzzStream(const uint8_t *stream, size_t length, std::vector<size_t> sizes);
    ~FuzzStream();  // waits for the peer, then closes and clears the channel
    chan_rec chan;

  private:
    int peer_ = -1;
    std::thread sender_;
};
// Sends the process's standard output to /dev/null (services write their
// replies and failure lines there).
void fuzz_silence_stdout();

#endif
