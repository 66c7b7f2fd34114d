// Block exchange and the generic quicksort over fixed-size elements.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "support/nlib.h"
#include "support/quicksort.h"

void exchange(void *block_a, void *block_b, int size)
{
    if (!block_a || !block_b || block_a == block_b)
        return;
    unsigned char *a = (unsigned char *)block_a, *b = (unsigned char *)block_b;
    // Whole words through memcpy: the blocks need not be aligned.
    for (; size >= 4; size -= 4, a += 4, b += 4) {
        uint32_t word_a, word_b;
        std::memcpy(&word_a, a, 4);
        std::memcpy(&word_b, b, 4);
        std::memcpy(a, &word_b, 4);
        std::memcpy(b, &word_a, 4);
    }
    for (; size > 0; size--, a++, b++) {
        unsigned char byte = *a;
        *a = *b;
        *b = byte;
    }
}

void myqsort(void *base, int count, int size, int (*compare)(const void *, const void *))
{
    if (!base || !compare || size <= 0)
        return;
    char *first = (char *)base;
    auto at = [first, size](int position) { return first + (size_t)position * (size_t)size; };
    quicksort_positions(
        count, [&](int a, int b) { return compare(at(a), at(b)); },
        [&](int a, int b) { exchange(at(a), at(b), size); });
}
