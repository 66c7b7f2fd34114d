// What the channel's tests share: a record that clears itself, what it
// reads and the texts and counts it leaves, and a stopwatch.
#pragma once
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "channel/chanel.h"

struct Chan : chan_rec {
    Chan() { chan_init(this); }
    ~Chan() { chan_clear(this); }
};

inline std::string error_of(chan_rec *chan) { return chan_error_string(chan) ? chan_error_string(chan) : ""; }

// A result with the text it left: "0 Socket Not Open".
inline std::string outcome(chan_rec *chan, long result) { return std::to_string(result) + " " + error_of(chan); }

inline long long counted(const size_counter &c) { return (c.trillions * 1000000LL + c.millions) * 1000000LL + c.units; }

// What a read of len bytes gives: the bytes, or its result with the text.
inline std::string read_exact(chan_rec *chan, int len, int wait = 1,
                              int (*reader)(chan_rec *, void *, int, int) = chan_read)
{
    std::string buf(size_t(len), '\0');
    int n = reader(chan, &buf[0], len, wait);
    return n > 0 ? buf.substr(0, size_t(n)) : outcome(chan, n);
}

// The next line as a string; "<null>" when the reader hands out nothing.
inline std::string next_line(chan_rec *chan, char *(*reader)(chan_rec *, int) = chan_readln)
{
    std::unique_ptr<char, decltype(&free)> line(reader(chan, 1), free);
    return line ? line.get() : "<null>";
}

// Milliseconds since it was made.
struct Stopwatch {
    using clock = std::chrono::steady_clock;
    clock::time_point start = clock::now();
    long long ms() const { return std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start).count(); }
};
