// extern_book [configuration file]: the address-book service's entry.
#include <cstdio>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

int main(int argc, char **argv)
{
    dmsg_setting = ini[INI_DEBUG];
    if (!ini_init(ini, &display_data_length))
        return 0;
    if (!ini_load(argc > 1 ? argv[1] : nullptr, ini, &display_data_length))
        return 0;
    if (!book_start(stdout))
        return 1;
    book_loop(stdin, stdout);
    return 1;
}
