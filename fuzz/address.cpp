// The mail-address parsers on arbitrary texts: every result stays within its
// documented length, and the joined forms agree with the parts they join.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/common.h"
#include "netaddr/net_fns.h"

namespace {

std::string copy_of(const char *text, size_t limit)
{
    if (!text) return std::string();
    size_t length = strlen(text);
    if (length > limit) abort();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = fuzz_text(data, size);
    const char *address = text.c_str();

    copy_of(net_remove_qoute(address), 493);
    std::string user = copy_of(net_user_only(address), 511);
    std::string host = copy_of(net_host_only(address), 511);
    int port = net_port_only(address);
    std::string joined = copy_of(net_addr_only(address), 1023);
    std::string with_port = copy_of(net_addr_port(address), 1023);
    copy_of(net_extra_only(address), 511);
    copy_of(net_extra_only_old(address), 511);
    compare_email_addresses(address, address, 0);

    if (!user.empty() && !host.empty()) {
        std::string expected = user + "@" + host;
        if (expected.size() <= 1023 && joined != expected) abort();
        if (port != 0) {
            char suffix[16];
            snprintf(suffix, sizeof suffix, ":%d", port);
            expected += suffix;
        }
        if (expected.size() <= 1023 && with_port != expected) abort();
    }

    // The separator is found in (and may rewrite) the caller's own text.
    std::vector<char> list(address, address + text.size() + 1);
    char *separator = net_addr_seperator(list.data());
    if (separator && (separator < list.data() || separator >= list.data() + text.size() || *separator != ',')) abort();
    return 0;
}
