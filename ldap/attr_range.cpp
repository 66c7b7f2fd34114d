// The range option of Active Directory's range retrieval
// ("member;range=0-1499"), read from an attribute description.
#include <climits>

#include "ldap/ldap.h"

namespace {

// Reads decimal digits at *at (at least one, the value below INT_MAX) and
// moves *at past them; -1 when there are none or too many.
int index_at(const char **at)
{
    long long value = 0;
    const char *start = *at;
    for (; **at >= '0' && **at <= '9'; ++*at)
        if ((value = value * 10 + (**at - '0')) >= INT_MAX)
            return -1;
    return *at == start ? -1 : static_cast<int>(value);
}

// Reads "LOW-HIGH" (HIGH a number or '*') from text, which must end at end.
bool read_range(const char *text, const char *end, ldap_range *range)
{
    range->low = index_at(&text);
    if (range->low < 0 || *text++ != '-')
        return false;
    if (*text == '*') {
        range->high = -1;
        text++;
    } else if ((range->high = index_at(&text)) < range->low) {
        return false;
    }
    return text == end;
}

}  // namespace

int ldap_attr_range(const char *description, ldap_range *range)
{
    if (!description || !range)
        return 0;
    static const char name[] = ";range=";
    const int name_length = static_cast<int>(sizeof name - 1);
    int found = 0;
    bool readable = false;
    for (const char *option = s_strchr(description, ';'); option;) {
        const char *end = s_strchr(option + 1, ';');
        if (!end)
            end = option + s_strlen(option);
        if (s_strnicmp(option, name, name_length) == 0) {
            // A second range option makes the first unreadable too.
            if (found++)
                return -1;
            range->at = static_cast<int>(option - description);
            range->length = static_cast<int>(end - option);
            readable = read_range(option + name_length, end, range);
        }
        option = *end ? end : nullptr;
    }
    return !found ? 0 : readable ? 1 : -1;
}
