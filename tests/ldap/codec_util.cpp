#include "codec_util.h"

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
    std::vector<unsigned char> exact(octets.begin(), octets.end());
    return List(ldap_decode_data(ldap, exact.data(), static_cast<int>(exact.size()), controls));
}

List decode_element(const std::string &octets, ldap_handle *ldap)
{
    std::vector<unsigned char> exact(octets.begin(), octets.end());
    return List(ldap_decode_data_input(ldap, exact.data(), static_cast<int>(exact.size())));
}
