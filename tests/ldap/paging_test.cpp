// Paged results: the request control's octets, the reading of hostile
// response controls, and a search slapd answers page by page.
#include <algorithm>

#include "ldap_testing.h"

namespace {

const char PAGED[] = "1.2.840.113556.1.4.319";

struct Page : ldap_page {
    Page() { ldap_page_init(this); }
    ~Page() { ldap_page_clear(this); }
    std::string cookie_text() const
    {
        return std::string(cookie ? reinterpret_cast<char *>(cookie) : "", cookie_length);
    }
};

// A Control element; a null value leaves it out.
std::string control(const std::string &type, const char *value, size_t length = 0,
                    bool critical = false)
{
    std::string fields = ber_element(0x04, type);
    if (critical)
        fields += ber_element(0x01, "\xff");
    if (value)
        fields += ber_element(0x04, std::string(value, length));
    return ber_element(0x30, fields);
}

std::string paged_value(int size, const std::string &cookie)
{
    return ber_element(0x30, ber_integer(0x02, size) + ber_element(0x04, cookie));
}

}  // namespace

TEST(Paging, RequestControl)
{
    ldap_cr *cr = ldap_page_control(1000, "\x00\xff", 2);
    ASSERT_NE(nullptr, cr);
    EXPECT_STREQ(PAGED, cr->type);
    EXPECT_EQ(0, cr->critical);
    EXPECT_EQ(hex_bytes("30 08 02 02 03 e8 04 02 00 ff"), std::string(reinterpret_cast<char *>(cr->value), cr->length));
    ldap_cr_clear(cr);
}

TEST(Paging, ReadsResponseControls)
{
    std::string good = paged_value(5, std::string("\0\1z", 3));
    std::string empty = paged_value(0, "");
    std::string negative = ber_element(0x30, hex_bytes("02 01 ff") + ber_element(0x04, "c"));
    std::string trailing = ber_element(0x30, ber_integer(0x02, 5) + ber_element(0x04, "z") +
                                                 ber_element(0x05, ""));
    std::string no_size = ber_element(0x30, ber_element(0x04, "z"));
    struct Row {
        std::string controls;  // the content of [0]; none at all when empty
        int read;
        int estimate;
        std::string cookie;
    } rows[] = {
        {control(PAGED, good.data(), good.size(), true), 1, 5, std::string("\0\1z", 3)},
        {control("1.2.3", "x", 1) + control(PAGED, empty.data(), empty.size()), 1, 0, ""},
        {"", 0, 0, ""},
        {control("1.2.3", good.data(), good.size()), 0, 0, ""},
        {control(PAGED, negative.data(), negative.size()), 1, 0, "c"},  // no estimate
        {control(PAGED, nullptr), -1, 0, ""},
        {control(PAGED, "junk", 4), -1, 0, ""},
        {control(PAGED, good.data(), good.size() - 1), -1, 0, ""},
        {control(PAGED, trailing.data(), trailing.size()), -1, 0, ""},
        {control(PAGED, no_size.data(), no_size.size()), -1, 0, ""},
        // The first readable control counts.
        {control(PAGED, "", 0) + control(PAGED, good.data(), good.size()), 1, 5,
         std::string("\0\1z", 3)},
    };
    for (const Row &row : rows) {
        std::string done = ber_integer(0x02, 3) + ber_element(0x65, hex_bytes("0a0100 0400 0400"));
        if (!row.controls.empty())
            done += ber_element(0xA0, row.controls);
        lresult *controls = nullptr;
        List message = decode_message(ber_element(0x30, done), &controls);
        List owned(controls);
        ASSERT_EQ(LDAP_SEARCH_DONE, lresult_application(message.get()));
        Page page;
        EXPECT_EQ(row.read, ldap_page_read(&page, controls)) << row.read << row.cookie;
        EXPECT_EQ(row.read == 1, page.present);
        EXPECT_EQ(row.estimate, page.estimate);
        EXPECT_EQ(row.cookie, page.cookie_text());
    }
}

class PagingSlapd : public SlapdSuite {};

// Two entries a page, each page asked for with the cookie of the one before,
// until slapd sends an empty cookie.
TEST_F(PagingSlapd, SlapdAnswersPageByPage)
{
    const char PEOPLE[] = "ou=People,dc=example,dc=com";
    std::vector<std::string> dns;
    Page page;
    int pages = 0;
    do {
        static_list controls;
        static_init(&controls, nullptr);
        static_add(&controls, ldap_page_control(2, page.cookie, page.cookie_length));
        ldap_request search = {};
        search.op = LDAP_SEARCH_REQUEST;
        search.base = PEOPLE;
        search.scope = 2;
        search.filter = "(objectClass=*)";
        search.attributes = "1.1";
        ASSERT_EQ(1, ldap_send(&h, &search, 100 + pages, &controls));
        ldap_cr_clear(static_cast<ldap_cr *>(static_get_num(&controls, 0)));
        static_clear(&controls);
        for (;;) {
            lresult *received = nullptr;
            List message(ldap_receive(&h, &received));
            List owned(received);
            ASSERT_TRUE(message && message.get() != LRESULT_INVALID);
            ASSERT_EQ(100 + pages, message->id);
            if (message->application == LDAP_SEARCH_ENTRY) {
                dns.push_back(ldap_get_dn(message.get()));
                continue;
            }
            ASSERT_EQ(LDAP_SEARCH_DONE, message->application);
            EXPECT_EQ(0, lresult_get_int(message.get(), 0));
            ASSERT_EQ(1, ldap_page_read(&page, received));
            break;
        }
        pages++;
    } while (page.cookie_length > 0 && pages < 10);
    EXPECT_EQ(4, pages);
    std::vector<std::string> expected = server->search_dns(PEOPLE, "sub", "(objectClass=*)");
    std::sort(dns.begin(), dns.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, dns);
}
