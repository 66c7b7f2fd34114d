// TCP sockets on local addresses for the fakes, the slapd fixture and the
// benchmarks' replay server. Hosts are IPv4 or IPv6 addresses in text form.
#pragma once
#include <string>

// A socket listening on host at *port (0: a free one, whose number is then
// put in *port); -1 when it cannot be had. The caller closes it.
int loopback_listen(const std::string &host, int *port);
// A socket connected to host at port; -1 when no one answers. The caller
// closes it.
int loopback_connect(const std::string &host, int port);
// Whether something accepts connections on host at port.
bool loopback_answers(const std::string &host, int port);
// A TCP port on 127.0.0.1 that was free a moment ago.
int free_port();
