#include "codec_util.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

std::vector<std::string> sink_lines;

std::string hex(const void *octets, int count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    const auto *p = static_cast<const unsigned char *>(octets);
    for (int i = 0; i < count; i++) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
    }
    return text;
}

std::string hex(const data_buf &buf)
{
    return hex(buf.data, buf.length);
}

std::string hex(const std::string &octets)
{
    return hex(octets.data(), static_cast<int>(octets.size()));
}

std::string squeeze(const std::string &hex_text)
{
    std::string text;
    for (char c : hex_text)
        if (!isspace(static_cast<unsigned char>(c)))
            text += static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string filter_hex(const char *text, int use_default, int *count)
{
    Buf out;
    int found = data_cvt_search(&out.b, text, use_default);
    if (count)
        *count = found;
    return out.hex();
}

void ListDeleter::operator()(lresult *list) const
{
    if (list && list != LRESULT_INVALID) {
        lresult_clear(list);
        free(list);
    }
}

List decode_message(const std::string &octets, lresult **controls, ldap_handle *ldap)
{
    return List(ldap_decode_data(ldap, reinterpret_cast<const unsigned char *>(octets.data()),
                                 static_cast<int>(octets.size()), controls));
}

int record_sink(const char *format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink_lines.emplace_back(text);
    return 0;
}
