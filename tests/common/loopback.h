// TCP sockets on local addresses for the fakes, the slapd fixture and the
// benchmarks' replay server, and writing whole to a descriptor. Hosts are
// IPv4 or IPv6 addresses in text form.
#pragma once
#include <string>

// A socket listening on host at *port (0: a free one, whose number is then
// put in *port); -1 when it cannot be had. The caller closes it.
int loopback_listen(const std::string &host, int *port);
// A socket connected to host at port; -1 when no one answers. The caller
// closes it.
int loopback_connect(const std::string &host, int port);
// A UDP socket bound to host at port; -1 when it cannot be had. The caller
// closes it.
int loopback_udp(const std::string &host, int port);
// Whether something accepts connections on host at port.
bool loopback_answers(const std::string &host, int port);
// A TCP port on 127.0.0.1 that was free a moment ago.
int free_port();
// Writes all of bytes to fd; false when the descriptor fails first (with
// SIGPIPE ignored, as the kit's users do, when the reader has gone).
bool write_all(int fd, const std::string &bytes);
// Whether fd can be read (or written) within timeout_ms: the kit's threads
// wait in short steps, so that a stop request is noticed.
bool fd_ready(int fd, int timeout_ms, bool writing = false);
