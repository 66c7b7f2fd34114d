// The process's two message sinks: whole "Error: " and "Debug: " lines on
// standard output, left unflushed for the command loop to flush.
#include "support/nlib.h"

#include <cstdio>
#include <cstring>

const char *dmsg_setting = nullptr;

namespace {

// Formats the message (cut at 1023 characters), ends it with exactly one
// line feed and writes it after prefix; 0 for a null format.
int write_line(const char *prefix, const char *format, va_list args)
{
    if (!format)
        return 0;
    char text[1024 + 2];
    int n = lvprintf(text, 1024, format, args);
    if (n == 0 || text[n - 1] != '\n') {
        text[n++] = '\n';
        text[n] = '\0';
    }
    return printf("%s%s", prefix, text);
}

}  // namespace

int emsg(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = write_line("Error: ", format, args);
    va_end(args);
    return n;
}

int dmsg(const char *format, ...)
{
    if (!dmsg_setting || strcmp(dmsg_setting, "true") != 0)
        return 0;
    va_list args;
    va_start(args, format);
    int n = write_line("Debug: ", format, args);
    va_end(args);
    return n;
}
