// Bounded formatting: lvprintf walks the format itself, copies literal text,
// and hands each conversion alone to the standard formatter, so that nothing
// is ever written past the caller's buffer.
//
// Choices made where the contract leaves room:
// - A size below 1 writes nothing, as a size of 0 does.
// - Each conversion is formatted into a temporary that grows to hold the
//   whole text; only the room left in the output cuts it.
// - Length modifiers hh, h, l, ll, j, z, t (and L for floating conversions)
//   take an argument of the type they name; without one an integer
//   conversion takes one int. %p and %n take a pointer-sized argument; %n
//   stores 0 (the conversion's own output) itself.
// - 'S' and 'C' print byte strings and bytes, as 's' and 'c' do.
// - '0' before a width is a flag, so "%0*d" takes its width from '*'.
// - A directive the formatter could not be handed safely (longer than
//   510 characters, a stray '*', a positional '$', a length modifier that
//   does not fit the conversion) is copied as written; its argument is
//   still consumed so that later conversions stay in step.
#include "support/nlib.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <type_traits>
#include <vector>

namespace {

const int DIRECTIVE_MAX = 510;

// The va_list travels inside a struct so that every helper advances the
// same list on every platform.
struct arg_list {
    va_list ap;
};

// The output buffer with the bytes still free in it.
struct out_buf {
    char *out;
    int size;
    int len;

    void put(const char *text, size_t n)
    {
        size_t room = size_t(size - 1 - len);
        if (n > room)
            n = room;
        memmove(out + len, text, n);  // the text may lie in out itself
        len += int(n);
        out[len] = '\0';
    }
    bool full() const { return len >= size - 1; }
};

enum length_mod { MOD_NONE, MOD_HH, MOD_H, MOD_L, MOD_LL, MOD_J, MOD_Z, MOD_T, MOD_BIG_L, MOD_BAD };

bool is_conversion(char c) { return c && strchr("cCdiouxXeEfgGnpsS%", c); }

// Checks that directive is "%[flags][width][.precision][modifier]conversion"
// with nothing else in it, and returns its length modifier.
length_mod parse_directive(const std::string &directive)
{
    size_t i = 1 + strspn(directive.c_str() + 1, "-+ #0'");
    while (isdigit((unsigned char)directive[i]))
        i++;
    if (directive[i] == '.') {
        i++;
        while (isdigit((unsigned char)directive[i]))
            i++;
    }
    static const struct {
        const char *text;
        length_mod mod;
    } mods[] = {{"hh", MOD_HH}, {"h", MOD_H}, {"ll", MOD_LL}, {"l", MOD_L},
                {"j", MOD_J},   {"z", MOD_Z}, {"t", MOD_T},   {"L", MOD_BIG_L}};
    length_mod mod = MOD_NONE;
    for (const auto &m : mods) {
        size_t n = strlen(m.text);
        if (directive.compare(i, n, m.text) == 0) {
            mod = m.mod;
            i += n;
            break;
        }
    }
    return i + 1 == directive.size() ? mod : MOD_BAD;
}

// Formats one value with directive into a temporary and copies it into the
// output as a string (a "%c" of 0 adds nothing). The temporary grows to the
// text's length, bounded by the room.
template <typename T>
void emit(out_buf &o, const std::string &directive, T value)
{
    if (o.full())
        return;
    char small[256];
    int n = snprintf(small, sizeof small, directive.c_str(), value);
    if (n < 0)
        return;
    if (size_t(n) < sizeof small) {
        o.put(small, strlen(small));
        return;
    }
    size_t keep = std::min(size_t(n), size_t(o.size - 1 - o.len));
    std::vector<char> big(keep + 1);
    snprintf(big.data(), big.size(), directive.c_str(), value);
    o.put(big.data(), strlen(big.data()));
}

// %n: the count of the conversion's own output, which is always 0.
template <typename T>
void store_zero(arg_list &a)
{
    T *where = va_arg(a.ap, T *);
    if (where)
        *where = 0;
}

void convert_n(arg_list &a, length_mod mod)
{
    switch (mod) {
    case MOD_HH: store_zero<signed char>(a); break;
    case MOD_H: store_zero<short>(a); break;
    case MOD_L: store_zero<long>(a); break;
    case MOD_LL: store_zero<long long>(a); break;
    case MOD_J: store_zero<intmax_t>(a); break;
    case MOD_Z: store_zero<std::make_signed_t<size_t>>(a); break;
    case MOD_T: store_zero<ptrdiff_t>(a); break;
    default: store_zero<int>(a); break;
    }
}

template <typename S, typename U>
void emit_integer(out_buf &o, const std::string &directive, arg_list &a, bool is_signed)
{
    if (is_signed)
        emit(o, directive, va_arg(a.ap, S));
    else
        emit(o, directive, va_arg(a.ap, U));
}

// Consumes the argument of one conversion and adds its text; returns false
// when the modifier does not fit the conversion (the caller then consumes
// a default argument and copies the directive as written).
bool convert(out_buf &o, std::string &directive, char conv, length_mod mod, arg_list &a)
{
    switch (conv) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X': {
        bool sig = conv == 'd' || conv == 'i';
        switch (mod) {
        case MOD_NONE:
        case MOD_HH:
        case MOD_H: emit_integer<int, unsigned>(o, directive, a, sig); return true;
        case MOD_L: emit_integer<long, unsigned long>(o, directive, a, sig); return true;
        case MOD_LL: emit_integer<long long, unsigned long long>(o, directive, a, sig); return true;
        case MOD_J: emit_integer<intmax_t, uintmax_t>(o, directive, a, sig); return true;
        case MOD_Z:
            emit_integer<std::make_signed_t<size_t>, size_t>(o, directive, a, sig);
            return true;
        case MOD_T:
            emit_integer<ptrdiff_t, std::make_unsigned_t<ptrdiff_t>>(o, directive, a, sig);
            return true;
        default: return false;
        }
    }
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        if (mod == MOD_NONE || mod == MOD_L)
            emit(o, directive, va_arg(a.ap, double));
        else if (mod == MOD_BIG_L)
            emit(o, directive, va_arg(a.ap, long double));
        else
            return false;
        return true;
    case 'c':
    case 'C':
        directive.back() = 'c';
        if (mod == MOD_NONE)
            emit(o, directive, va_arg(a.ap, int));
        else if (mod == MOD_L)
            emit(o, directive, (wint_t)va_arg(a.ap, unsigned));
        else
            return false;
        return true;
    case 's':
    case 'S': {
        directive.back() = 's';
        if (mod != MOD_NONE && mod != MOD_L)
            return false;
        const void *text = va_arg(a.ap, const void *);
        if (!text)
            o.put("(NULL)", 6);
        else if (mod == MOD_L)
            emit(o, directive, static_cast<const wchar_t *>(text));
        else
            emit(o, directive, static_cast<const char *>(text));
        return true;
    }
    case 'p':
        if (mod != MOD_NONE)
            return false;
        emit(o, directive, va_arg(a.ap, void *));
        return true;
    case 'n':
        if (mod == MOD_BIG_L)
            return false;
        convert_n(a, mod);
        return true;
    }
    return false;
}

// The default argument of a conversion whose directive is refused.
void skip_argument(char conv, arg_list &a)
{
    if (strchr("eEfgG", conv))
        (void)va_arg(a.ap, double);
    else if (strchr("sSpn", conv))
        (void)va_arg(a.ap, void *);
    else
        (void)va_arg(a.ap, int);
}

int star_value(arg_list &a)
{
    int v = va_arg(a.ap, int);
    return v < 0 ? 0 : v;
}

// Handles the directive that starts at the '%' in pct and returns the
// position after it.
const char *do_directive(out_buf &o, const char *pct, arg_list &a)
{
    const char *p = pct + 1;
    int stars = 1;
    bool width_set = false, prec_set = false;
    std::string directive = "%";  // the text handed to the formatter
    bool refuse = false;
    for (; *p && !is_conversion(*p); p++) {
        if (*p == '*') {
            stars++;
            if (!width_set && !prec_set) {
                width_set = true;
                int w = star_value(a);
                if (w > 0)
                    directive += std::to_string(w);
            } else if (p[-1] != '.') {
                refuse = true;  // a '*' that takes no value
            }
        } else if (*p == '.') {
            directive += '.';
            prec_set = true;
            if (p[1] == '*')
                directive += std::to_string(star_value(a));
        } else {
            if (isdigit((unsigned char)*p) && *p != '0')
                width_set = true;
            directive += *p;
        }
    }
    if (!*p) {  // the format ended inside the directive
        o.put(pct, strlen(pct));
        return p;
    }
    const char *end = p + 1;
    if (stars > 3) {
        o.put(pct, size_t(end - pct));
        return end;
    }
    if (*p == '%') {
        o.put("%", 1);
        return end;
    }
    directive += *p;
    length_mod mod = parse_directive(directive);
    // convert() refuses a modifier before it consumes anything.
    if (refuse || mod == MOD_BAD || end - pct > DIRECTIVE_MAX ||
        !convert(o, directive, *p, mod, a)) {
        skip_argument(*p, a);
        o.put(pct, size_t(end - pct));
    }
    return end;
}

}  // namespace

int lvprintf(char *out, int size, const char *format, va_list args)
{
    if (!out || !format || size < 1)
        return 0;
    out_buf o{out, size, 0};
    out[0] = '\0';
    arg_list a;
    va_copy(a.ap, args);
    // Out of memory for a long directive or conversion: the text ends before it.
    oom_guard(
        [&] {
            const char *p = format;
            while (const char *pct = strchr(p, '%')) {
                o.put(p, size_t(pct - p));
                p = do_directive(o, pct, a);
            }
            o.put(p, strlen(p));
        },
        [] {});
    va_end(a.ap);
    return o.len;
}

int lprintf(char *out, int size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = lvprintf(out, size, format, args);
    va_end(args);
    return n;
}

char *s_fstrcat(char *dst, const char *format, ...)
{
    if (!dst || !format)
        return dst;
    char text[1024];
    va_list args;
    va_start(args, format);
    lvprintf(text, sizeof text, format, args);
    va_end(args);
    return strcat(dst, text);
}
