// The loading of OpenSSL and the look-up of its functions.
#define CHAN_OPENSSL_LOADER
#include "channel/chan_openssl.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

#include "support/nlib.h"

// Two steps, so that the version number is expanded before it is quoted.
#define CHAN_QUOTE(text) #text
#define CHAN_QUOTED(text) CHAN_QUOTE(text)

chan_openssl_api chan_openssl;
thread_local bool chan_openssl_out_of_memory;

namespace {

// The library's allocations, noting failures.
void *noted_malloc(size_t size, const char *, int)
{
    void *block = malloc(size);
    chan_openssl_out_of_memory |= !block && size;
    return block;
}

void *noted_realloc(void *block, size_t size, const char *, int)
{
    void *moved = realloc(block, size);
    chan_openssl_out_of_memory |= !moved && size;
    return moved;
}

void noted_free(void *block, const char *, int) { free(block); }

char load_error[512];

// Keeps the loader's text (or text when it has none) and reports failure.
int failed(const char *text)
{
    const char *reason = dlerror();
    lcpy(load_error, reason ? reason : text, sizeof load_error);
    return 0;
}

}  // namespace

int chan_openssl_load()
{
    static std::mutex loading;
    static bool loaded = false;
    std::lock_guard<std::mutex> hold(loading);
    if (loaded)
        return 1;
    // libcrypto comes in as libssl's dependency, and is searched with it.
    const char *library_name = "libssl.so." CHAN_QUOTED(OPENSSL_SHLIB_VERSION);
    void *library = dlopen(library_name, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return failed(library_name);
    chan_openssl_api found;
#define CHAN_OPENSSL_LOOK_UP(name)                                                                 \
    found.name = reinterpret_cast<decltype(found.name)>(dlsym(library, #name));                    \
    if (!found.name)                                                                               \
        return failed(#name);
    CHAN_OPENSSL_FUNCTIONS(CHAN_OPENSSL_LOOK_UP)
#undef CHAN_OPENSSL_LOOK_UP
    // Before the library's first allocation, or not at all.
    found.CRYPTO_set_mem_functions(noted_malloc, noted_realloc, noted_free);
    // The library stays: OpenSSL is not made to be unloaded.
    chan_openssl = found;
    loaded = true;
    load_error[0] = '\0';
    return 1;
}

const char *chan_tls_library_error() { return load_error; }
