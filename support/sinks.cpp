// The process's two message sinks: whole "Error: " and "Debug: " lines on
// standard output, left unflushed for the command loop to flush; and the one
// writer of every output line that may carry text from outside the process.
#include "support/nlib.h"

#include <cstdio>
#include <cstring>
#include <string>

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
    if (!prefix)
        prefix = "";
    size_t length = strlen(text);
    if (length > 0 && text[length - 1] == '\n')
        length--;
    std::string line(prefix);
    line.append(text, length);
    for (size_t i = strlen(prefix); i < line.size(); i++) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7F)
            line[i] = ' ';
    }
    line += '\n';
    return static_cast<int>(fwrite(line.data(), 1, line.size(), out));
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
