// SEARCH and GET until the service reaches a directory: nothing is located.
#include "addressbook/extern_book.h"

void generate_search(FILE *out, int, int, int, const char *)
{
    fputs("-failure none located.\n", out);
}

void display_dn(FILE *out, const char *)
{
    fputs("-failure none located.\n", out);
}
