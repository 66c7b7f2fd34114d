// extern_book [configuration file]: the address-book service's entry.
#include <malloc.h>

#include <cstdio>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

int main(int argc, char **argv)
{
    // Where glibc sets its thresholds itself once it has freed a large
    // block, set from the start: freed blocks below 32 MiB go back to the
    // heap, which keeps up to 64 MiB free, so that the next SEARCH's buffers
    // reuse their pages instead of faulting in new ones, page after page.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
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
