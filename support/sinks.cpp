// The process's two message sinks: whole "Error: " and "Debug: " lines on
// standard output, left unflushed for the command loop to flush; and the one
// writer of every output line that may carry text from outside the process.
#include "support/nlib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char *dmsg_setting = nullptr;

namespace {

// Formats the message (cut at 1023 characters) and writes it as one line
// after prefix; 0 for a null format.
int write_line(const char *prefix, const char *format, va_list args)
{
    if (!format)
        return 0;
    char text[1024];
    lvprintf(text, sizeof text, format, args);
    return s_write_line(stdout, prefix, text);
}

}  // namespace

int s_write_line(FILE *out, const char *prefix, const char *text)
{
    if (!out || !text)
        return 0;
    size_t length = strlen(text);
    if (length > 0 && text[length - 1] == '\n')
        length--;
    // Written in pieces through a buffer of its own, never allocated: a
    // status line must go out even when memory has run out.
    size_t written = prefix ? fwrite(prefix, 1, strlen(prefix), out) : 0;
    char piece[256];
    for (size_t at = 0; at < length;) {
        size_t count = std::min(sizeof piece, length - at);
        for (size_t i = 0; i < count; i++) {
            unsigned char c = static_cast<unsigned char>(text[at + i]);
            piece[i] = c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
        }
        written += fwrite(piece, 1, count, out);
        at += count;
    }
    written += fwrite("\n", 1, 1, out);
    return static_cast<int>(written);
}

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
