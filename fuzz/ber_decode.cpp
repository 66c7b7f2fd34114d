// The BER decoder on arbitrary octets: one message (with its controls, read
// for a paged-results control too), one element of any kind, and the header
// reader the receiver relies on.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/common.h"

namespace {

// Two decoded lists hold the same elements, nested alike.
bool same_tree(lresult *a, lresult *b)
{
    if (lresult_size(a) != lresult_size(b)) return false;
    for (int i = 0; i < lresult_size(a); i++) {
        lresult_node *x = lresult_get(a, i), *y = lresult_get(b, i);
        if (x->type != y->type || x->size != y->size || x->choice != y->choice ||
            lresult_get_int(a, i) != lresult_get_int(b, i))
            return false;
        char *tx = lresult_get_char(a, i), *ty = lresult_get_char(b, i);
        if ((tx == nullptr) != (ty == nullptr) || (tx && memcmp(tx, ty, x->size) != 0)) return false;
        lresult *na = lresult_get_result(a, i, 0), *nb = lresult_get_result(b, i, 0);
        if ((na == nullptr) != (nb == nullptr) || (na && !same_tree(na, nb))) return false;
    }
    return true;
}

// A message decoded as a message must equal what the general element
// decoder makes of the same octets: ID first, the operation, the controls.
void check_against_elements(lresult *message, lresult *controls, lresult *element)
{
    if (!message || message == LRESULT_INVALID || !element || element == LRESULT_INVALID) return;
    lresult *operation = lresult_get_result(element, 1, 0);
    if (!operation) return;
    if (message->id != lresult_get_int(element, 0) || message->application != element->application ||
        !same_tree(message, operation))
        abort();
    lresult *expected_controls = lresult_get_result(element, 2, 0);
    if ((controls == nullptr) != (expected_controls == nullptr) ||
        (controls && !same_tree(controls, expected_controls)))
        abort();
}

// Whatever the controls hold, a paged-results reading is one of its three
// outcomes, with a cookie only when read.
void check_page(lresult *controls)
{
    ldap_page page;
    ldap_page_init(&page);
    int read = ldap_page_read(&page, controls);
    if (read < -1 || read > 1 || page.present != (read == 1) || page.cookie_length < 0 ||
        (page.cookie != nullptr) != (page.cookie_length > 0) || page.estimate < 0)
        abort();
    ldap_page_clear(&page);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so that any read past the end is caught.
    std::vector<unsigned char> octets(data, data + size);
    const unsigned char *start = octets.empty() ? nullptr : octets.data();
    int count = static_cast<int>(size);

    data_element head = data_break_down_length(start ? start : data, count);
    if (head.length != -2 && static_cast<long>(head.header) + head.length > count) abort();
    if (head.length != -2 && head.content != (start ? start : data) + head.header) abort();

    ldap_handle handle;
    ldap_init(&handle, fuzz_quiet, fuzz_quiet);
    lresult *controls = nullptr;
    lresult *message = ldap_decode_data(&handle, start, count, &controls);
    fuzz_walk(message);
    fuzz_walk_entry(message);
    fuzz_walk(controls);
    check_page(controls);

    lresult *element = ldap_decode_data_input(&handle, start, count);
    check_against_elements(message, controls, element);
    fuzz_walk(element);
    fuzz_release(element);
    fuzz_release(message);
    fuzz_release(controls);

    // Without a handle nothing may be reported, and nothing may break.
    fuzz_release(ldap_decode_data(nullptr, start, count, nullptr));
    return 0;
}
