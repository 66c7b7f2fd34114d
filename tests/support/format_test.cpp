// Bounded formatting, the two message sinks and the byte counters.
#include "support/nlib.h"
#include "support/size.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string fmt(int size, const char *format, ...)
{
    std::vector<char> out(size_t(size), 'Z');
    va_list args;
    va_start(args, format);
    int n = lvprintf(out.data(), size, format, args);
    va_end(args);
    EXPECT_EQ(size_t(n), strlen(out.data()));
    return out.data();
}

// The suite builds formats at run time and hands odd ones on purpose.
#pragma GCC diagnostic ignored "-Wformat"

TEST(Format, ConversionsRefusedDirectivesAndLongTexts)
{
    char out[32] = "untouched";
    EXPECT_EQ(lprintf(out, 0, "a") + lprintf(nullptr, 9, "a") + lprintf(out, 9, nullptr), 0);
    EXPECT_EQ(lprintf(out, sizeof out, out + 4), 5);  // literal text from the buffer itself
    EXPECT_STREQ(out, "uched");
    long long wide = -1;
    int narrow = -1;
    EXPECT_EQ(fmt(64, "ab%lln%n%d", &wide, &narrow, 3), "ab3");
    EXPECT_EQ(wide + narrow, 0);
    const std::string big(5000, 'q'), too_long = "%" + std::string(510, '1') + "d",
                                      fits = "%" + std::string(507, '0') + "3d";  // 510 characters
    const std::string cases[][2] = {
        {fmt(64, "%s|%.*s|%*.*s|%S|%C|a%cb", (char *)nullptr, -1, "abc", 5, 2, "abc", "w", 66, 0),
         "(NULL)||   ab|w|B|ab"},
        {fmt(64, "[%*d|%-*d|%0*d]", -4, 7, 4, 7, 4, 7), "[7|7   |0007]"},
        {fmt(64, "%%|a%-5"), "%|a%-5"},  // a format ending inside a directive
        // Length modifiers take arguments of their own width; %p and %n pointers.
        {fmt(96, "%ld %lld %zu %jd %td %hd %hhu %Lf %p", -5000000000L, 9000000000LL, size_t(1) << 40, intmax_t(-1),
             ptrdiff_t(-7000000000LL), 70000, 300, 2.5L, (void *)0x123456789abcULL),
         "-5000000000 9000000000 1099511627776 -1 -7000000000 4464 44 2.500000 0x123456789abc"},
        // Directives it will not take are copied as written, their argument consumed.
        {fmt(64, "%2$d|%**d|%Ld|%hs|%d", 1, 5, 6, 1, "x", 2), "%2$d|%**d|%Ld|%hs|2"},
        {fmt(1024, (too_long + "|%d").c_str(), 1, 2), too_long + "|2"},
        {fmt(64, (fits + "|%d").c_str(), 1, 2), "001|2"},
        // Long conversions are cut only by the output.
        {fmt(8000, "<%s>", big.c_str()), "<" + big + ">"},
    };
    for (const auto &c : cases) EXPECT_EQ(c[0], c[1]);
    char dst[2048] = "head:";
    EXPECT_EQ(s_fstrcat(dst, "%d-%s", 7, big.c_str()), dst);
    EXPECT_EQ(std::string(dst), "head:7-" + big.substr(0, 1021));
}

// At every size a random format gives the longest prefix of its full result
// and writes nothing past the buffer (exactly size bytes of heap, under
// ASan). Well-formed formats match snprintf; garbage ones may ask for huge
// widths, so their sizes jump from 64 to the end.
TEST(Format, EveryPrefixStaysInBounds)
{
    const char *pieces[] = {"%d", "%5d", "%-6i", "%05d", "%#X", "%o", "%u", "%c", "%+d", "% d", "%.3d", "%*d", "%%"};
    const char garbage[] = "%%%%*.*..0123456789-+ #'hlLjztq$dioxXcuaZk";
    std::mt19937 rng(12345);
    std::vector<char> full(1 << 16);
    for (int round = 0; round < 2000; round++) {
        bool junk = round % 2;
        std::string format;
        for (int i = 0, n = 1 + int(rng() % (junk ? 30 : 5)); i < n; i++)
            format += junk ? std::string(1, garbage[rng() % (sizeof garbage - 1)]) : pieces[rng() % 13];
        auto run = [&](auto print, char *out, size_t size) {
            return print(out, size, format.c_str(), 1, 22, 333, 4, 55, 6, 77, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                         19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40);
        };
        auto bounded = [](char *out, size_t n, const char *f, auto... v) { return lprintf(out, int(n), f, v...); };
        int len = run(bounded, full.data(), full.size());
        if (!junk) {
            char ref[4096];
            run(snprintf, ref, sizeof ref);
            ASSERT_STREQ(full.data(), ref) << format;
        }
        for (int size = 1; size <= len + 1; size = junk && size == 64 && len > 64 ? len : size + 1) {
            std::unique_ptr<char[]> out(new char[size_t(size)]);
            int want = std::min(len, size - 1);
            ASSERT_EQ(run(bounded, out.get(), size_t(size)), want) << format << " size " << size;
            ASSERT_EQ(std::string(out.get()), std::string(full.data(), size_t(want))) << format;
        }
    }
}

// Debug lines only while the setting is "true"; control characters become
// blanks, so a text can never start a line of its own.
TEST(Sinks, ErrorAndDebugLines)
{
    const char *saved = dmsg_setting;
    testing::internal::CaptureStdout();
    dmsg_setting = nullptr;
    EXPECT_EQ(emsg("x\r\x7f\n") + emsg(nullptr) + dmsg("off"), 11);
    dmsg_setting = "true";
    EXPECT_EQ(dmsg("on %d", 1), 12);
    emsg("%s", std::string(2000, 'k').c_str());
    fflush(stdout);
    dmsg_setting = saved;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: x  \nDebug: on 1\nError: " + std::string(1023, 'k') + "\n");
}

std::string texts(size_counter c)
{  // "full|k|space"
    std::string out;
    for (char *t : {size_get(&c), size_get_k(&c), size_get_space(&c)}) {
        out += std::string(out.empty() ? "" : "|") + t;
        free(t);
    }
    return out;
}

TEST(Size, CarriesAndTexts)
{
    size_counter c = {999999, 0, 0}, doubled = {600000, 999999, 7}, top = {999999, 999999, 4294967294u};
    size_add(&c, 4294967295u);
    size_add_size(&doubled, &doubled);  // a counter added to itself
    EXPECT_EQ(texts(c) + " " + texts(doubled), "4295967294|4295967|4295M 15999999200000|15999999200|15T");
    EXPECT_EQ(texts({1000, 0, 0}) + " " + texts({1001, 0, 0}) + " " + texts({1, 5, 0}),
              "1000|1|1000 1001|1|1k 5000001|5000|5M");  // lower parts always in full width
    size_counter edge = {0, 0, 1000000}, one = {1, 0, 0};
    size_add_size(&top, &one);  // the top part prints unsigned
    EXPECT_EQ(texts(top) + " " + std::to_string(size_maxed(&top) * 10 + size_maxed(&edge)),
              "4294967295000000000000|4294967295000000000|4294967295T 10");
}

}  // namespace
