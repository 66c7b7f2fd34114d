#include "fuzz/common.h"

#include <cstring>

void fuzz_walk_entry(lresult *list)
{
    if (!list || list == LRESULT_INVALID) return;
    const char *dn = ldap_get_dn(list);
    if (dn) (void)strlen(dn);
    for (char *type = ldap_first_attribute(list); type; type = ldap_next_attribute(list)) {
        char **values = ldap_get_values(list, type);
        for (int i = 0; values && values[i]; i++) (void)strlen(values[i]);
    }
}
