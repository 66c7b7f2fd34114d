#include "fuzz/common.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int fuzz_quiet(const char *format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return 0;
}

std::string fuzz_text(const uint8_t *data, size_t size) {
    const void *zero = memchr(data, 0, size);
    size_t length = zero ? static_cast<const uint8_t *>(zero) - data : size;
    return std::string(reinterpret_cast<const char *>(data), length);
}

void fuzz_silence_stdout() {
    if (!freopen("/dev/null", "w", stdout)) abort();
}
