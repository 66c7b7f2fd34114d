#include "common/message_log.h"

std::vector<std::string> logged_messages;

int log_message(const char *format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    lvprintf(text, sizeof text, format, args);
    va_end(args);
    logged_messages.push_back(text);
    return 0;
}
