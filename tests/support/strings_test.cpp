// Copies, comparisons, searches, tokenizers, file names, path parts, the
// "!" token coding, the percent coding of links, the keyed scrambler,
// bounded formatting, the two message sinks and the byte counters.
#include "support/nlib.h"
#include "support/size.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::string text(const char *s) { return s ? s : "(none)"; }
std::string num(long n) { return std::to_string(n); }

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

// lcpy and lcat leave a terminated prefix and touch no byte past their
// bound (the guard bytes keep their 'z'). Rows: dst, src, size, and what
// lcpy and lcat leave.
TEST(Strings, CopiesNeverPassTheirBound)
{
    const std::tuple<const char *, const char *, int, const char *, const char *> cases[] = {
        {"keep", "abcdef", -3, "keep", "keep"},
        {"keep", "abcdef", 1, "", "keep"},
        {"abc", "abcdef", 4, "abc", "abc"},
        {"abc", "def", 5, "def", "abcd"},
    };
    for (const auto &[dst, src, size, after_lcpy, after_lcat] : cases) {
        for (bool cat : {false, true}) {
            char buf[32];
            memset(buf, 'z', sizeof buf);
            strcpy(buf, dst);
            EXPECT_STREQ(cat ? lcat(buf, src, size) : lcpy(buf, src, size), cat ? after_lcat : after_lcpy);
            for (size_t k = std::max(size_t(std::max(size, 0)), strlen(dst) + 1); k < sizeof buf; k++)
                ASSERT_EQ(buf[k], 'z') << k;
        }
    }
    char *grown = s_stradd(s_stradd(nullptr, "x"), "y");
    for (int k = 0; k < 200; k++) grown = s_stradd(grown, "0123456789");
    grown = s_stradd(grown, grown);  // a text appended to itself, the block moving
    EXPECT_EQ(std::string(grown + 2000, 6), "89xy01");
    free(grown);
}

// All tokens of s, "(none)" marking the null that ends them.
template <class Next>
std::string split(std::string s, Next next)
{
    std::string out;
    char *cursor = nullptr;
    for (char *token = next(&s[0], &cursor); out.size() < 500; token = next(nullptr, &cursor)) {
        out += text(token) + "|";
        if (!token) break;
    }
    return out;
}

std::string xhref(const std::string &in)
{
    char *out = encode_xhref(in.c_str());
    std::string result = text(out);
    free(out);
    return result;
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

// {result, expected}, evaluated in order.
TEST(Texts, ResultsAndLimits)
{
    char out[32] = "untouched", nbuf[8] = "zzzzzzz", dst[2048] = "head:";
    long long wide = -1;
    int narrow = -1;
    const std::string big(5000, 'q'), too_long = "%" + std::string(510, '1') + "d",
                                      fits = "%" + std::string(507, '0') + "3d";  // 510 characters
    const char *hay = "xAAB", *escaped = "a\x1b"
                                         "b\x1b"
                                         "b";
    char word[] = "\xc4"
                  "BCabc",
         padded[] = "  ab\t ";
    auto kept = [](char *s, char **) { return s_strtoken(s, ",;"); };
    auto plain = [](char *s, char **cursor) { return mystrtok(s, ",", cursor); };
    auto quoted = [](char *s, char **cursor) { return myquotetok(s, " ", cursor); };
    auto one = [](char *s, char **cursor) { return myquotetok_one(s, ';', cursor); };
    std::string d510(510, 'd'), d511(511, 'd'), n510(510, 'n');
    std::string long_path = "/" + std::string(700, 'd') + "/" + std::string(700, 'f') + ".e";
    auto ext = [](const char *name) { return text(strip_ext(name)) + "|" + text(get_ext(name)); };
    size_counter c = {999999, 0, 0}, doubled = {600000, 999999, 7}, top = {999999, 999999, 4294967294u};
    size_counter edge = {0, 0, 1000000}, unit = {1, 0, 0};
    size_add(&c, 4294967295u);
    size_add_size(&doubled, &doubled);  // a counter added to itself
    size_add_size(&top, &unit);         // the top part prints unsigned
    const std::string cases[][2] = {
        {num(lprintf(out, 0, "a") + lprintf(nullptr, 9, "a") + lprintf(out, 9, nullptr)), "0"},
        {num(lprintf(out, sizeof out, out + 4)), "5"},  // literal text from the buffer itself
        {out, "uched"},
        {fmt(64, "ab%lln%n%d", &wide, &narrow, 3), "ab3"},
        {num(long(wide + narrow)), "0"},
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
        // Long conversions are cut only by the output; s_fstrcat's at 1,023.
        {fmt(8000, "<%s>", big.c_str()), "<" + big + ">"},
        {num(s_fstrcat(dst, "%d-%s", 7, big.c_str()) - dst), "0"},
        {dst, "head:7-" + big.substr(0, 1021)},
        // ncpy and ncat count characters: the caller gives n + 1 bytes.
        {num(ncpy(nbuf, "abcdef", 3) - nbuf), "3"},
        {std::string(nbuf, 5), std::string("abc\0z", 5)},
        {ncat(ncpy(nbuf, "xyz", -3), "xyz", -3), ""},    // negative counts copy nothing
        {ncat(s_strcpy(nbuf, "abcdef"), "x", 2), "ab"},  // the zero at dst[n] cuts a longer text
        // The signs matter: the list's text comparators hand these results to a sort.
        {num(s_stricmp("Search", "SEARCH")), "0"},
        {num(s_stricmp("ab", "abc")), "-1"},
        {num(s_stricmp("\xe9", "\xc9")), num(0xe9 - 0xc9)},  // no folding above 127
        {num(s_strnicmp(":DN:x", ":dn:", 4)), "0"},
        {num(s_strnicmp("abc", "ABD", -1)), "-1"},
        {num(s_strnicmp("abc", "AB", 5) > 0 && s_strncmp("abc", "ab", 5) > 0), "1"},  // the longer sorts after
        {num(s_strcmp("\xe9", "a") < 0), "1"},
        {num(s_strcmp("a\xe9", "aa") > 0), "1"},  // signed, then unsigned
        {num(s_atoi("99999999999")), num(INT_MAX)},
        {num(s_atol("-99999999999")), num(INT_MIN)},  // saturate
        {num(s_stristr(hay, "ab") - hay), "2"},
        {num(s_strchr_japan(escaped, 'b') - escaped), "4"},
        {num(s_stristr(hay, "aabb") || s_stristr(hay, "") || s_strchr_japan(escaped, 27) || s_strchr(nullptr, 'a')),
         "0"},
        {num(s_strtrm(padded) - padded), "2"},  // blanks trimmed in place, never moved
        {padded + 2, "ab\t"},
        {s_strupr(s_strlwr(word)), "\xc4"
                                   "BCABC"},
        {split("a;b,,", kept), "a|b|||(none)|"},
        {split(",,a,,b,", plain), "a|b|(none)|"},
        {split("  \"\"  q\"r s\"t \"open", quoted), "|q\"r s\"t|open|(none)|"},
        {split(";a;;\"x;y\"", one), "|a||x;y|(none)|"},
        {remove_quote("open \"ended"), "ended"},
        {remove_quote(("\"" + std::string(512, 'q') + "\"").c_str()), std::string(511, 'q')},
        // s_strtoken splits its own copy of the caller's text, at most 1,023 characters of it.
        {num(s_strlen(s_strtoken(std::string(3000, 'h').c_str(), ","))), "1023"},
        // Long paths: the result is the first 511 characters.
        {valid_file(valid_file("a\tb\r\n")), "a_b__"},  // a result may be handed back
        {attach_path("/var/log/", "/x.log"), "/var/log/x.log"},
        {attach_path("/tmp/", "C:x"), "/tmpC:x"},
        {attach_path(d511.c_str(), "f"), d511},
        {attach_path(d510.c_str(), "file"), d510 + "/"},
        {text(attach_ext(n510.c_str(), "txt")), n510 + "."},
        {text(strip_path(strip_path("/x/y/z.t", 0), 1)), "z"},
        {text(remove_path("/home/u/notes.txt", 1)), "u"},
        {text(strip_filename(strip_filename("a/b/c"))), "a/b/"},
        {num(s_strlen(update_path(long_path.c_str())) + s_strlen(strip_ext(long_path.c_str()))), "1022"},
        {ext("archive.tar.gz") + ext("dir.d/file") + ext(".profile"), "archive.tar|gzdir|d/file|profile"},
        {text(attach_ext(".hidden", "t")) + text(point_ext("d.d/f")) + text(strip_filename("notes.txt")) +
             text(remove_path("/n.t", 0)),
         "(none)(none)(none)(none)"},
        // Only backslash references fold, each fold searching on from the cut.
        {update_path(update_path("/u/l/..\\x")), "/u\\x"},
        {update_path("/a/b/c/..\\..\\x"), "/a/b\\..\\x"},
        {not_encode(not_encode("a=b")), "a!213Db"},  // it may code its own result
        {utoken_encode("a b=!\x7f\x80\xff\x01+<>():;\"&%#?\\/`'@~AZaz09-_.,[]{}|^$*"),
         "a!20b=!!7F!80!FF!01!2B!3C!3E!28!29!3A!3B!22!26!25!23!3F!5C!2F!60!27!40!7EAZaz09-_.,[]{}|^$*"},
        {not_encode((std::string(1019, 'a') + "  ").c_str()), std::string(1019, 'a') + "!20"},
        {utoken_decode("a!20b!4a!4A"), "a bJJ"},
        {utoken_decode("a!2!zz!!!41"), "a!2!zz!!A"},
        {xhref("a b.c/?=+<>():;\"&%,'#\n\r\\"), "a%20b%2Ec/?=%2B%3C%3E%28%29%3A%3B%22%26%25%2C%27%23%0A%0D%5C"},
        // After an escape byte the text passes in groups of three; a group
        // that starts with an escape byte returns to encoding.
        {xhref("a\x1b$Babcd\x1b(B ."), "a\x1b$Babcd\x1b(B%20%2E"},
        {pass_user_encrypt("AAA", "\x01\x02"), "BCB"},
        {pass_user_decrypt("BCB", "\x01\x02"), "AAA"},
        {pass_user_encrypt("ab", "\x9f"), ""},  // a byte that wraps to zero ends the text
        // The limits: 1,020 characters out, 5,119 decoded, 511 scrambled; a link
        // grows to exactly three times its length.
        {num(s_strlen(utoken_encode(std::string(2000, ' ').c_str()))), "1020"},
        {num(s_strlen(utoken_decode(std::string(8000, 'x').c_str()))), "5119"},
        {num(s_strlen(pass_user_encrypt(std::string(800, 'x').c_str(), "k"))), "511"},
        {num(long(xhref(std::string(1000, ' ')).size())), "3000"},
        // Byte counters: carries, and lower parts always in full width.
        {texts(c) + " " + texts(doubled), "4295967294|4295967|4295M 15999999200000|15999999200|15T"},
        {texts({1000, 0, 0}) + " " + texts({1001, 0, 0}) + " " + texts({1, 5, 0}),
         "1000|1|1000 1001|1|1k 5000001|5000|5M"},
        {texts(top) + " " + num(size_maxed(&top) * 10 + size_maxed(&edge)),
         "4294967295000000000000|4294967295000000000|4294967295T 10"},
    };
    for (size_t k = 0; k < std::size(cases); k++) EXPECT_EQ(cases[k][0], cases[k][1]) << "row " << k;
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

}  // namespace
