// Start-up: greets the host once the service is ready.
#include "addressbook/extern_book.h"

int book_start(FILE *out)
{
    fputs("+success LDAP External Address Book\n", out);
    fflush(out);
    return 1;
}
