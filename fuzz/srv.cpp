// The SRV answer reader on arbitrary DNS messages: it never reads outside
// the message, keeps no more targets than the message can hold (19 octets
// each at least), each of a bounded name, and the ordering keeps priorities
// ascending and every target once.
#include <cstdlib>
#include <cstring>
#include <string>

#include "netaddr/net_fns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    srv_list list = {};
    // A copy of exactly size octets, so that reading past it is caught.
    unsigned char *message = static_cast<unsigned char *>(malloc(size ? size : 1));
    memcpy(message, data, size);
    int result = srv_parse(&list, message, int(size), "_ldap._tcp.example.com");
    if (result != (list.error == nullptr) || list.count < 0 || list.count > int(size) / 19 + 1 ||
        (result && list.count == 0) || (!result && list.count != 0))
        abort();
    long port_sum = 0;
    for (int i = 0; i < list.count; i++) {
        if (!list.targets[i].host || strlen(list.targets[i].host) >= 1025) abort();
        port_sum += list.targets[i].port;
    }
    srv_order(&list, nullptr);
    for (int i = 0; i < list.count; i++) {
        if (i > 0 && list.targets[i].priority < list.targets[i - 1].priority) abort();
        port_sum -= list.targets[i].port;
    }
    if (port_sum != 0) abort();
    srv_clear(&list);
    free(message);
    return 0;
}
