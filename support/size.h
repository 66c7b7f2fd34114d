// size_counter: a byte total kept in three six-digit decimal parts, so that
// totals far beyond 32 bits add up without 64-bit arithmetic and print in
// decimal by plain integer formatting.
#ifndef SUPPORT_SIZE_H
#define SUPPORT_SIZE_H

#include <cstdint>

struct size_counter {
    uint32_t units;      // total modulo one million
    uint32_t millions;   // whole millions, modulo one million
    uint32_t trillions;  // whole millions of millions
};

void size_init(size_counter *counter);
void size_add(size_counter *counter, uint32_t bytes);
void size_add_size(size_counter *counter, const size_counter *other);
// The text operations return a new text that the caller frees.
char *size_get(const size_counter *counter);
char *size_get_space(const size_counter *counter);
char *size_get_k(const size_counter *counter);
int size_maxed(const size_counter *counter);

#endif
