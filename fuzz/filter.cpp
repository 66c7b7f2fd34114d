// The filter compiler, its strict reading and the attribute-list encoder on
// arbitrary texts. A compiled filter must decode again as a well-formed
// element sequence.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    int use_default = data[0] & 1;
    std::string text = fuzz_text(data + 1, size - 1);
    std::string before = text;

    data_buf out;
    data_init(&out);
    int items = data_cvt_search(&out, text.c_str(), use_default);
    if (items < 0 || text != before) abort();  // the caller's text stays as it was

    // Every top-level item is one complete element; walk them one by one.
    int pos = 0;
    while (pos < out.length) {
        data_element element = data_break_down(out.data + pos, out.length - pos);
        if (element.length == -2) abort();
        lresult *decoded = ldap_decode_data_input(nullptr, out.data + pos, element.header + element.length);
        if (decoded == LRESULT_INVALID) abort();
        fuzz_walk(decoded);
        fuzz_release(decoded);
        pos += element.header + element.length;
    }
    data_clear(&out);

    // A filter the strict reading takes compiles to one element, and is
    // taken one level deeper inside an "and" too.
    int depth = ldap_filter_check(text.c_str());
    if (depth > LDAP_FILTER_MAX_DEPTH || (depth >= 0 && items != 1)) abort();
    if (depth >= 0 && depth < LDAP_FILTER_MAX_DEPTH && ldap_filter_check(("(&" + text + "(x=y))").c_str()) != depth + 1)
        abort();

    data_buf names;
    data_init(&names);
    data_cvt_attrib(&names, text.c_str());
    if (text != before) abort();
    data_clear(&names);
    return 0;
}
