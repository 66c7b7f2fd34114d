// size_counter: byte totals in three six-digit decimal parts.
#include "support/size.h"

#include "support/nlib.h"

#include <cstdlib>

namespace {
const uint32_t MILLION = 1000000;

void carry(size_counter *c)
{
    c->millions += c->units / MILLION;
    c->units %= MILLION;
    c->trillions += c->millions / MILLION;
    c->millions %= MILLION;
}

// A new text of 8, 16 or 24 bytes, as the parts in use need.
char *new_text(const size_counter *c, int *size)
{
    *size = c->trillions ? 24 : c->millions ? 16 : 8;
    return (char *)malloc(size_t(*size));
}
}  // namespace

void size_init(size_counter *counter)
{
    if (counter)
        *counter = size_counter{0, 0, 0};
}

void size_add(size_counter *counter, uint32_t bytes)
{
    if (!counter)
        return;
    // Whole millions go straight to the middle part, so the sum of the
    // lower part cannot overflow.
    counter->millions += bytes / MILLION;
    counter->units += bytes % MILLION;
    carry(counter);
}

void size_add_size(size_counter *counter, const size_counter *other)
{
    if (!counter || !other)
        return;
    size_counter add = *other;  // other may be counter itself
    carry(&add);
    counter->units += add.units;
    counter->millions += add.millions;
    counter->trillions += add.trillions;
    carry(counter);
}

// The top part is unsigned, so it is printed as such: a signed format would
// turn totals beyond 2^31 trillions negative.
char *size_get(const size_counter *counter)
{
    int size;
    char *text = counter ? new_text(counter, &size) : nullptr;
    if (!text)
        return nullptr;
    if (counter->trillions)
        lprintf(text, size, "%u%06u%06u", counter->trillions, counter->millions, counter->units);
    else if (counter->millions)
        lprintf(text, size, "%u%06u", counter->millions, counter->units);
    else
        lprintf(text, size, "%u", counter->units);
    return text;
}

char *size_get_k(const size_counter *counter)
{
    int size;
    char *text = counter ? new_text(counter, &size) : nullptr;
    if (!text)
        return nullptr;
    uint32_t thousands = counter->units / 1000;
    if (counter->trillions)
        lprintf(text, size, "%u%06u%03u", counter->trillions, counter->millions, thousands);
    else if (counter->millions)
        lprintf(text, size, "%u%03u", counter->millions, thousands);
    else
        lprintf(text, size, "%u", thousands);
    return text;
}

char *size_get_space(const size_counter *counter)
{
    int size;
    char *text = counter ? new_text(counter, &size) : nullptr;
    if (!text)
        return nullptr;
    if (counter->trillions)
        lprintf(text, size, "%uT", counter->trillions);
    else if (counter->millions)
        lprintf(text, size, "%uM", counter->millions);
    else if (counter->units > 1000)
        lprintf(text, size, "%uk", counter->units / 1000);
    else
        lprintf(text, size, "%u", counter->units);
    return text;
}

int size_maxed(const size_counter *counter)
{
    return counter && counter->trillions > MILLION ? 1 : 0;
}
