// Work done in a child process within a time limit: for a library call that
// may wait without any bound of its own (the system resolver, asking a name
// server over TCP, waits for it forever) and that nothing else can stop.
#ifndef SUPPORT_CHILD_H
#define SUPPORT_CHILD_H

#include <functional>
#include <string>

// Runs work in a child process and puts the octets it returns in *out.
// Returns 1 when the child handed them all over and ended within timeout_ms
// milliseconds; 0 when the time ran out or the child failed (work threw, or
// the process died); -1 when no child could be made (no descriptor for the
// pipe, no process), errno saying why. *out is empty unless 1 came. The
// child is reaped before the return, killed first when late, and dies with
// the calling process should that end first. It runs work and leaves at
// once: no exit handlers, and the parent's buffered output is not written a
// second time. A null out returns 0, as does a timeout_ms of 0 or less (the
// child gets no time).
int child_run(int timeout_ms, const std::function<std::string()> &work, std::string *out);

#endif
