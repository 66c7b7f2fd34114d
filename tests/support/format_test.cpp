// Bounded formatting and the two message sinks.
#include "support/nlib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string fmt(int size, const char *format, ...) NLIB_PRINTF(2, 3);
std::string fmt(int size, const char *format, ...)
{
    std::vector<char> out(size_t(size > 0 ? size : 1), 'Z');
    va_list args;
    va_start(args, format);
    int n = lvprintf(out.data(), size, format, args);
    va_end(args);
    EXPECT_EQ(size_t(n), strlen(out.data()));
    return out.data();
}

// The suite builds formats at run time and hands odd ones on purpose.
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#pragma GCC diagnostic ignored "-Wformat-overflow"

TEST(Format, SizesAndNullArguments)
{
    char out[16] = "untouched";
    for (int size : {0, -5})
        EXPECT_EQ(lprintf(out, size, "abc"), 0);
    EXPECT_EQ(lprintf(nullptr, 10, "abc"), 0);
    EXPECT_EQ(lprintf(out, 10, nullptr), 0);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(fmt(10, "abc"), "abc");
    EXPECT_EQ(fmt(3, "abc"), "ab");
    EXPECT_EQ(fmt(1, "abc"), "");
    EXPECT_EQ(fmt(4, "%d-%d", 12, 34), "12-");
}

TEST(Format, Conversions)
{
    EXPECT_EQ(fmt(64, "%s|%10s", (char *)nullptr, (char *)nullptr), "(NULL)|(NULL)");
    EXPECT_EQ(fmt(64, "%.*s|%d", 2, (char *)nullptr, 9), "(NULL)|9");  // both '*' consumed
    EXPECT_EQ(fmt(64, "%.*s", 3, "abcdef"), "abc");
    EXPECT_EQ(fmt(64, "[%.*s]", -1, "abcdef"), "[]");
    EXPECT_EQ(fmt(64, "[%*.*s]", 5, 2, "abcdef"), "[   ab]");
    EXPECT_EQ(fmt(64, "[%*d|%-*d|%0*d]", -4, 7, 4, 7, 4, 7), "[7|7   |0007]");
    EXPECT_EQ(fmt(64, "%%|%d|100%", 5), "%|5|100%");
    EXPECT_EQ(fmt(64, "a%-5"), "a%-5");
    EXPECT_EQ(fmt(64, "%***d after %d", 1, 2), "%***d after 2");  // only the first '*' takes a value
    EXPECT_EQ(fmt(64, "%S|%C", "wide", 66), "wide|B");
    EXPECT_EQ(fmt(64, "%05d %02X %c %f %u", 42, 10, 65, 1.5, 4000000000u), "00042 0A A 1.500000 4000000000");
    // Length modifiers take arguments of their own width; %p and %n pointers.
    EXPECT_EQ(fmt(64, "%ld %lld %zu %jd %hd %hhu %Lf", -5000000000L, 9000000000LL, size_t(1) << 40,
                  intmax_t(-1), 70000, 300, 2.5L),
              "-5000000000 9000000000 1099511627776 -1 4464 44 2.500000");
    EXPECT_EQ(fmt(64, "%p", (void *)0x123456789abcULL), "0x123456789abc");
    long long wide = -1;
    int narrow = -1;
    EXPECT_EQ(fmt(64, "ab%lln%n%d", &wide, &narrow, 3), "ab3");
    EXPECT_EQ(wide, 0);
    EXPECT_EQ(narrow, 0);
    EXPECT_EQ(fmt(64, "a%cb%3c", 0, 0), "ab  ");  // a zero byte ends a conversion's text
    char self[32] = "0123456789";
    EXPECT_EQ(lprintf(self, sizeof self, self + 4), 6);  // literal text from the buffer itself
    EXPECT_STREQ(self, "456789");
}

TEST(Format, RefusedDirectivesAreCopiedAndKeepStep)
{
    EXPECT_EQ(fmt(64, "%2$d|%d", 1, 2), "%2$d|2");
    EXPECT_EQ(fmt(64, "%**d|%d", 5, 6, 7), "%**d|7");
    EXPECT_EQ(fmt(64, "%Ld|%hs|%d", 1, "x", 2), "%Ld|%hs|2");
    std::string too_long = "%" + std::string(510, '1') + "d";
    EXPECT_EQ(fmt(1024, (too_long + "|%d").c_str(), 1, 2), too_long + "|2");
    std::string fits = "%" + std::string(507, '0') + "3d";  // 510 characters
    EXPECT_EQ(fmt(64, (fits + "|%d").c_str(), 1, 2), "001|2");
}

TEST(Format, LongConversionsAreCutOnlyByTheOutput)
{
    std::string big(5000, 'q');
    EXPECT_EQ(fmt(8000, "<%s>", big.c_str()), "<" + big + ">");
    EXPECT_EQ(fmt(8000, "%3000d", 1).size(), 3000u);
    EXPECT_EQ(fmt(8000, "%.400f", 1.0).size(), 402u);
    EXPECT_EQ(fmt(11, "%3000d|", 1), std::string(10, ' '));
    EXPECT_EQ(fmt(20, "%.1000f", 1.0), "1." + std::string(17, '0'));

    char dst[2048] = "head:";
    EXPECT_EQ(s_fstrcat(dst, "%d-%s", 7, "x"), dst);
    EXPECT_EQ(s_fstrcat(dst, nullptr), dst);
    EXPECT_EQ(s_fstrcat(nullptr, "x"), nullptr);
    s_fstrcat(dst, "%s", big.c_str());
    EXPECT_EQ(std::string(dst), "head:7-x" + big.substr(0, 1023));
}

// Every format, at every size, gives the prefix of the standard formatter's
// full result and never writes past the buffer (exactly size bytes of heap,
// watched by ASan).
TEST(Format, NeverOverrunsAndKeepsTheLongestPrefix)
{
    const std::vector<std::vector<const char *>> pools = {
        {"%d", "%5d", "%-6i", "%05d", "%x", "%#X", "%o", "%u", "%c", "%+d", "% d", "%.3d",
         "%*d", "%-*x", "%%", "lit ", "", "%.0d", "%3c"},
        {"%s", "%12s", "%-12s", "%.2s", "%.0s", "%7.3s", "%%", "text", "%-1s"},
        {"%f", "%e", "%g", "%12.4f", "%-9.2E", "%G", "%.0f", "%+.10g", "%%", "#"},
        {"%lld", "%llx", "%ld", "%20lu", "%-22lld", "%zu", "%jd", "%td", "%lo", "=", "%p"},
    };
    // Each pool's formats consume at most these arguments, in this order.
    auto with_args = [](size_t pool, auto f) {
        switch (pool) {
        case 0: return f(65, 66, 67, 68, 69, 70, 71, 72, 73, 74);
        case 1: return f("alpha", "b", "", "delta-long-text", "e", "f");
        case 2: return f(3.25, -1e10, 0.000123, 42.0, 1e-300);
        default: return f(-123456789012LL, 77LL, 1LL << 62, -1LL, 5LL, 6LL);
        }
    };
    std::mt19937 rng(12345);
    for (size_t pool = 0; pool < pools.size(); pool++) {
        for (int round = 0; round < 300; round++) {
            std::string format;
            for (int i = 0, n = 1 + int(rng() % 5); i < n; i++)
                format += pools[pool][rng() % pools[pool].size()];
            auto run = [&](char *out, int size) {
                return with_args(pool, [&](auto... v) { return lprintf(out, size, format.c_str(), v...); });
            };
            char ref[4096], full[4096];
            with_args(pool, [&](auto... v) { return snprintf(ref, sizeof ref, format.c_str(), v...); });
            int full_len = run(full, sizeof full);
            ASSERT_STREQ(full, ref) << format;
            for (int size = 1; size <= full_len + 2; size++) {
                std::unique_ptr<char[]> out(new char[size_t(size)]);
                int want = std::min(full_len, size - 1);
                ASSERT_EQ(run(out.get(), size), want) << format << " size " << size;
                ASSERT_EQ(std::string(out.get()), std::string(full, size_t(want))) << format;
            }
        }
    }
}

// Garbage formats (stray stars, dots, flags, modifiers, '$', unfinished
// directives) over integer conversions stay in bounds just the same.
TEST(Format, GarbageFormatsStayInBounds)
{
    const char alphabet[] = "%%%%*.*..0123456789-+ #'hlLjztq$dioxXcuaZk";
    std::mt19937 rng(777);
    std::vector<char> full(1 << 16);
    for (int round = 0; round < 3000; round++) {
        std::string format;
        for (int i = 0, n = 1 + int(rng() % 30); i < n; i++)
            format += alphabet[rng() % (sizeof alphabet - 1)];
        // Enough arguments for the greediest format of this length.
        auto run = [&](char *out, int size) {
            return lprintf(out, size, format.c_str(), 1, 22, 333, 4, 55, 6, 77, 8, 9, 10, 11, 12, 13, 14,
                           15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34,
                           35, 36, 37, 38, 39, 40);
        };
        int full_len = run(full.data(), int(full.size()));
        for (int size : {1, 2, 3, 7, 16, full_len, full_len + 1}) {
            if (size < 1)
                continue;
            std::unique_ptr<char[]> out(new char[size_t(size)]);
            int got = run(out.get(), size);
            ASSERT_EQ(got, std::min(full_len, size - 1)) << format;
            ASSERT_EQ(0, memcmp(out.get(), full.data(), size_t(got))) << format;
            ASSERT_EQ(out[size_t(got)], '\0');
        }
    }
}

TEST(Sinks, ErrorAndDebugLines)
{
    const char *saved = dmsg_setting;
    testing::internal::CaptureStdout();
    EXPECT_EQ(emsg("x"), 9);
    emsg("y\n");
    emsg("%s", "");
    EXPECT_EQ(emsg(nullptr), 0);
    for (const char *off : {(const char *)nullptr, "", "TRUE", "yes"}) {
        dmsg_setting = off;
        EXPECT_EQ(dmsg("off"), 0);
    }
    dmsg_setting = "true";
    EXPECT_EQ(dmsg("on %d", 1), 12);
    EXPECT_EQ(dmsg(nullptr), 0);
    std::string big(2000, 'k');
    emsg("%s", big.c_str());
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    dmsg_setting = saved;
    EXPECT_EQ(out, "Error: x\nError: y\nError: \nDebug: on 1\nError: " + big.substr(0, 1023) + "\n");
}

}  // namespace
