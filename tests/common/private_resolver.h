// Runs code with its own /etc/resolv.conf and /etc/hosts, leaving the
// machine's untouched: a forked child enters a private mount namespace and
// bind-mounts temporary files over them (root only). Processes the code
// starts see the same files, and should end before it returns.
#pragma once
#include <functional>
#include <string>

// Runs body in such a child, where /etc/resolv.conf holds resolv_conf and
// /etc/hosts holds hosts (left as it is when hosts is empty). Returns the
// text body returned, or "private resolver: ..." saying why there is none
// (the namespace could not be made, the child crashed, or it took longer
// than timeout_ms and was killed).
std::string run_with_resolver(const std::string &resolv_conf, const std::string &hosts,
                              const std::function<std::string()> &body, int timeout_ms = 10000);
