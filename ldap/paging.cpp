// Simple paged results: the request control that asks for one page of a
// search, and the reading of the control a server returns with the
// SearchResultDone of each page. Both carry
// SEQUENCE { size INTEGER, cookie OCTET STRING }.
#include <cstdlib>
#include <cstring>

#include "ldap/ldap.h"

namespace {

const char PAGED_OID[] = "1.2.840.113556.1.4.319";

// The node's octets equal the zero-terminated text.
bool node_is(lresult_node *node, const char *text)
{
    size_t length = strlen(text);
    return node && node->type == 4 && node->value && static_cast<size_t>(node->size) == length &&
           memcmp(node->value, text, length) == 0;
}

// The value of a decoded Control (type, optional criticality, optional
// value); null when it has none or more elements follow.
lresult_node *control_value(lresult *control)
{
    int position = 1;
    lresult_node *value = lresult_get(control, position);
    if (value && value->type == 1)
        value = lresult_get(control, ++position);
    if (!value || value->type != 4 || position + 1 != lresult_size(control))
        return nullptr;
    return value;
}

// The size estimate, an INTEGER of at most five octets; a value outside
// 0..2^31-1 is no estimate (0). -1 when the element is not such an INTEGER.
int read_estimate(const data_element &e)
{
    if (e.tag != 0x02 || e.length < 1 || e.length > 5)
        return -1;
    if (e.content[0] & 0x80)
        return 0;
    unsigned long long value = 0;
    for (int i = 0; i < e.length; i++)
        value = value << 8 | e.content[i];
    return value > 0x7FFFFFFF ? 0 : static_cast<int>(value);
}

// Reads the value SEQUENCE into page; 0 when it is not exactly that shape.
int read_value(ldap_page *page, const unsigned char *octets, int count)
{
    data_element outer = data_break_down(octets, count);
    if (outer.length == -2 || outer.tag != 0x30 || outer.header + outer.length != count)
        return 0;
    data_element size = data_break_down(outer.content, outer.length);
    if (size.length == -2)
        return 0;
    int estimate = read_estimate(size);
    int used = size.header + size.length;
    data_element cookie = data_break_down(outer.content + used, outer.length - used);
    if (estimate < 0 || cookie.length == -2 || cookie.tag != 0x04 ||
        used + cookie.header + cookie.length != outer.length)
        return 0;
    unsigned char *copy = nullptr;
    if (cookie.length > 0) {
        copy = static_cast<unsigned char *>(malloc(static_cast<size_t>(cookie.length)));
        if (!copy)
            return 0;
        memcpy(copy, cookie.content, cookie.length);
    }
    page->present = 1;
    page->estimate = estimate;
    page->cookie = copy;
    page->cookie_length = cookie.length;
    return 1;
}

}  // namespace

ldap_cr *ldap_page_control(int page_size, const void *cookie, int cookie_length)
{
    if (page_size < 0 || cookie_length < 0 || (cookie_length > 0 && !cookie))
        return nullptr;
    data_buf value;
    data_init(&value);
    data_add_integer(&value, static_cast<uint32_t>(page_size));
    data_add_binary(&value, cookie, cookie_length);
    data_add_upper(&value, 0x30);
    ldap_cr *cr = value.length > 0 ? ldap_cr_init(PAGED_OID, 0) : nullptr;
    if (cr) {
        ldap_cr_set(cr, value.data, value.length);
        if (!cr->value) {
            ldap_cr_clear(cr);
            cr = nullptr;
        }
    }
    data_clear(&value);
    return cr;
}

void ldap_page_init(ldap_page *page)
{
    if (!page)
        return;
    page->present = 0;
    page->estimate = 0;
    page->cookie_length = 0;
    page->cookie = nullptr;
}

void ldap_page_clear(ldap_page *page)
{
    if (!page)
        return;
    free(page->cookie);
    ldap_page_init(page);
}

int ldap_page_read(ldap_page *page, lresult *controls)
{
    if (!page)
        return 0;
    ldap_page_clear(page);
    int found = 0;
    for (int i = 0; i < lresult_size(controls); i++) {
        lresult *control = lresult_get_result(controls, i, 0);
        if (!node_is(lresult_get(control, 0), PAGED_OID))
            continue;
        lresult_node *value = control_value(control);
        if (value && value->value &&
            read_value(page, static_cast<unsigned char *>(value->value), value->size))
            return 1;
        found = -1;
    }
    return found;
}
