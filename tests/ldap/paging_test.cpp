// Paged results: the reading of hostile response controls (the exchange
// test sends the request control).
#include "ldap_testing.h"

namespace {

const char PAGED[] = "1.2.840.113556.1.4.319";

std::string control(const std::string &type, const std::string &more_fields)
{
    return ber_element(0x30, ber_element(0x04, type) + more_fields);
}

// A control value holding a SEQUENCE of that content.
std::string value(const std::string &content) { return ber_element(0x04, ber_element(0x30, content)); }

// What ldap_page_read makes of the controls (the content of [0]; none when
// empty) as "result estimate cookie".
std::string read_page(const std::string &controls)
{
    std::string done = ber_element(0x65, hex_bytes("0a0100 0400 0400"));
    lresult *received = nullptr;
    List message =
        decode_message(ldap_message(3, done + (controls.empty() ? "" : ber_element(0xA0, controls))), &received);
    List owned(received);
    ldap_page page;
    ldap_page_init(&page);
    int read = ldap_page_read(&page, received);
    std::string text = std::to_string(read) + " " + std::to_string(page.estimate) + " " +
                       std::string(reinterpret_cast<char *>(page.cookie), page.cookie_length);
    ldap_page_clear(&page);
    return text;
}

}  // namespace

TEST(Paging, ResponseControls)
{
    const std::string cookie("\0\1z", 3), good = ber_integer(0x02, 5) + ber_element(0x04, cookie);
    const std::pair<std::string, std::string> rows[] = {
        {control(PAGED, ber_element(0x01, "\xff") + value(good)), "1 5 " + cookie},
        {control("1.2.3", value(good)) + control(PAGED, value(hex_bytes("020100 0400"))), "1 0 "},
        {"", "0 0 "},
        {control(PAGED, value(hex_bytes("0201ff 0401") + "c")), "1 0 c"},  // no estimate
        {control(PAGED, ""), "-1 0 "},
        {control(PAGED, ber_element(0x04, "junk")), "-1 0 "},
        {control(PAGED, value(good + ber_element(0x05, ""))), "-1 0 "},
        {control(PAGED, value(ber_element(0x04, "z"))), "-1 0 "},
        {control(PAGED, ber_element(0x04, ber_element(0x30, good) + "x")), "-1 0 "},  // octets after the value
        {control(PAGED, value(good) + ber_element(0x04, "x")), "-1 0 "},              // a field after the value
        {control(PAGED, ber_element(0x04, "")) + control(PAGED, value(good)), "1 5 " + cookie}};
    for (const auto &row : rows) EXPECT_EQ(row.second, read_page(row.first)) << row.second;
}
