// The directory's attribute types, read once per connection, so that GET
// finds a field's attribute under any of its names: "cn", "commonName" and
// "2.5.4.3" alike.
#include "addressbook/extern_book.h"
#include "support/nlib.h"

// The schema of the current connection; empty until read, and when it
// could not be.
static ldap_schema schema;

void book_read_schema(ldap_handle *handle)
{
    if (ldap_schema_read(&schema, handle) == 0)
        dmsg("read %d attribute types of the directory's schema (%d refused)", schema.types,
             schema.refused);
    else
        dmsg("attribute types compare by name only: %s", schema.error ? schema.error : "(NULL)");
}

void book_forget_schema()
{
    ldap_schema_clear(&schema);
}

int book_same_attribute(const char *configured, const char *returned)
{
    if (!configured || !returned)
        return 0;
    const char *options = configured + ldap_attr_type_length(configured);
    const char *returned_options = returned + ldap_attr_type_length(returned);
    return s_stricmp(options, returned_options) == 0 &&
           ldap_schema_same(&schema, configured, returned);
}
