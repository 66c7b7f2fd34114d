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

// The total with low (units, or whole thousands) as its last part, written
// with `digits` digits. The top part is unsigned and printed as such: a
// signed format would turn totals beyond 2^31 trillions negative.
char *total_text(const size_counter *c, uint32_t low, int digits)
{
    int size;
    char *text = c ? new_text(c, &size) : nullptr;
    if (!text)
        return nullptr;
    if (c->trillions)
        lprintf(text, size, "%u%06u%0*u", c->trillions, c->millions, digits, low);
    else if (c->millions)
        lprintf(text, size, "%u%0*u", c->millions, digits, low);
    else
        lprintf(text, size, "%u", low);
    return text;
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

char *size_get(const size_counter *counter)
{
    return total_text(counter, counter ? counter->units : 0, 6);
}

char *size_get_k(const size_counter *counter)
{
    return total_text(counter, counter ? counter->units / 1000 : 0, 3);
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
