// Modification lists of modify and add requests, and request controls.
#include "ldap/ldap.h"

#include <cstdlib>
#include <cstring>

namespace {

char *copy_text(const char *text) { return text ? strdup(text) : nullptr; }

// Releases what an item holds; the item itself is its list's to free.
void item_clear(void *item)
{
    auto *mod_item = static_cast<ldap_mod_item *>(item);
    static_clear_dealloc(&mod_item->values);
    free(mod_item->type);
}

ldap_mod_item *mod_find(ldap_mod *mod, const char *type)
{
    int count = static_size(&mod->items);
    for (int i = 0; i < count; i++) {
        auto *item = static_cast<ldap_mod_item *>(static_get_num(&mod->items, i));
        if (s_stricmp(item->type, type) == 0)
            return item;
    }
    return nullptr;
}

// The item of that type, appended with the operation when missing.
ldap_mod_item *mod_item(ldap_mod *mod, int operation, const char *type)
{
    if (ldap_mod_item *item = mod_find(mod, type))
        return item;
    auto *item = static_cast<ldap_mod_item *>(malloc(sizeof(ldap_mod_item)));
    if (!item) {
        mod->incomplete = 1;
        return nullptr;
    }
    item->operation = operation;
    item->type = strdup(type);
    static_init(&item->values, nullptr);
    if (!item->type || static_add(&mod->items, item) < 0) {
        item_clear(item);
        free(item);
        mod->incomplete = 1;
        return nullptr;
    }
    return item;
}

// A value for item, which is null when it could not be made.
void item_add_value(ldap_mod *mod, ldap_mod_item *item, const char *value)
{
    if (!item || !value)
        return;
    char *copy = strdup(value);
    if (copy && static_add(&item->values, copy) >= 0)
        return;
    free(copy);
    mod->incomplete = 1;
}

}  // namespace

void ldap_mod_init(ldap_mod *mod)
{
    if (!mod)
        return;
    mod->mod_text = nullptr;
    static_init(&mod->items, nullptr);
    mod->incomplete = 0;
}

void ldap_mod_clear(ldap_mod *mod)
{
    if (!mod)
        return;
    free(mod->mod_text);
    mod->mod_text = nullptr;
    static_clear_struct(&mod->items, item_clear);
    mod->incomplete = 0;
}

void ldap_mod_add(ldap_mod *mod, int operation, const char *type, const char *value)
{
    if (!mod || !type)
        return;
    ldap_mod_item *item = mod_find(mod, type);
    if (item) {
        item->operation = operation;
        static_clear_dealloc(&item->values);
    } else {
        item = mod_item(mod, operation, type);
    }
    item_add_value(mod, item, value);
}

void ldap_mod_add_value(ldap_mod *mod, const char *type, const char *value)
{
    if (!mod || !type)
        return;
    item_add_value(mod, mod_item(mod, 0, type), value);
}

ldap_cr *ldap_cr_init(const char *type, int critical)
{
    auto *cr = static_cast<ldap_cr *>(malloc(sizeof(ldap_cr)));
    if (!cr)
        return nullptr;
    cr->type = copy_text(type);
    cr->critical = critical;
    cr->length = 0;
    cr->value = nullptr;
    if (type && !cr->type) {
        free(cr);
        return nullptr;
    }
    return cr;
}

void ldap_cr_set(ldap_cr *cr, const void *data, int length)
{
    if (!cr)
        return;
    if (!data || length < 0)
        length = 0;
    auto *value = static_cast<unsigned char *>(malloc(static_cast<size_t>(length) + 1));
    if (!value)
        return;
    if (length)
        memcpy(value, data, length);
    value[length] = 0;
    free(cr->value);
    cr->value = value;
    cr->length = length;
}

void ldap_cr_clear(ldap_cr *cr)
{
    if (!cr)
        return;
    free(cr->type);
    free(cr->value);
    free(cr);
}
