// The configuration loader on an arbitrary file. Whatever it accepts must
// leave every setting terminated inside its slot and a field table that ends
// within its capacity.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "addressbook/extern_book.h"
#include "fuzz/common.h"

namespace {

std::string config_dir, config_path;

void remove_config()
{
    remove(config_path.c_str());
    remove(config_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    // Memory-backed, so that a file per run costs no disk write.
    char dir[] = "/dev/shm/fuzz_ini_XXXXXX";
    if (!mkdtemp(dir)) abort();
    config_dir = dir;
    config_path = config_dir + "/book.ini";
    atexit(remove_config);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *file = fopen(config_path.c_str(), "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0) abort();

    if (ini_init(ini, &display_data_length) != 1) abort();
    if (ini_load(config_path.c_str(), ini, &display_data_length) != 1) return 0;
    for (int slot = 0; slot < INI_COUNT; slot++)
        if (!memchr(ini[slot], 0, INI_SIZE)) abort();
    int used = 0;
    while (used < display_data_length && display_data[used].name) {
        const display_field &field = display_data[used];
        if (!field.type || !field.attribute) abort();
        (void)(strlen(field.name) + strlen(field.type) + strlen(field.attribute));
        if (field.searchable != 0 && field.searchable != 1) abort();
        used++;
    }
    if (used == display_data_length || used == 0) abort();  // no terminator, or no record_id
    return 0;
}
