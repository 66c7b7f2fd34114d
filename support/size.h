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

// Zero the counter; add bytes, or another total (which may be the counter
// itself). A null counter (or other) is ignored.
void size_init(size_counter *counter);
void size_add(size_counter *counter, uint32_t bytes);
void size_add_size(size_counter *counter, const size_counter *other);
// The text operations return a new text that the caller frees; null for a
// null counter or when memory runs out. size_get: the total in decimal;
// size_get_k: in whole thousands; size_get_space: its largest part with a
// unit, "12T" (millions of millions), "12M" (millions), "12k" (above a
// thousand), else the bytes.
char *size_get(const size_counter *counter);
char *size_get_space(const size_counter *counter);
char *size_get_k(const size_counter *counter);
// 1 once the top part passed a million (10^18 bytes), else 0 (also for null).
int size_maxed(const size_counter *counter);

#endif
