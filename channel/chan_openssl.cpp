// The loading of OpenSSL and the look-up of its functions.
#define CHAN_OPENSSL_LOADER
#include "channel/chan_openssl.h"

#include <dlfcn.h>

#include <mutex>

// Two steps, so that the version number is expanded before it is quoted.
#define CHAN_QUOTE(text) #text
#define CHAN_QUOTED(text) CHAN_QUOTE(text)

chan_openssl_api chan_openssl;

int chan_openssl_load()
{
    static std::mutex loading;
    static bool loaded = false;
    std::lock_guard<std::mutex> hold(loading);
    if (loaded)
        return 1;
    // libcrypto comes in as libssl's dependency, and is searched with it.
    void *library = dlopen("libssl.so." CHAN_QUOTED(OPENSSL_SHLIB_VERSION), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return 0;
    chan_openssl_api found;
    bool all = true;
#define CHAN_OPENSSL_LOOK_UP(name)                                                                 \
    found.name = reinterpret_cast<decltype(found.name)>(dlsym(library, #name));                    \
    all = all && found.name;
    CHAN_OPENSSL_FUNCTIONS(CHAN_OPENSSL_LOOK_UP)
#undef CHAN_OPENSSL_LOOK_UP
    // The library stays: OpenSSL is not made to be unloaded.
    if (!all)
        return 0;
    chan_openssl = found;
    loaded = true;
    return 1;
}
