// nlib: bounded formatting, the process's message sinks, and the string,
// path, encoder and token functions every layer leans on.
//
// Every function accepts a null pointer for any text and answers with a
// fixed, harmless result. Results kept in a function's own buffer stay valid
// until that function is called again, and may be handed to it as input.
#ifndef SUPPORT_NLIB_H
#define SUPPORT_NLIB_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>

#define NLIB_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// ---------------------------------------------------------------------------
// When memory runs out (the rule of every layer)
//
// No exception leaves a public function. Memory taken with malloc, calloc,
// realloc or strdup is checked where it is taken. A public function whose
// body allocates through the C++ library (std::string, std::vector, new)
// runs that body under oom_guard, which turns std::bad_alloc into the
// failure the function already reports for lack of memory: its failure
// code, a null result, or an "Out of Memory" text on its record. Below that
// boundary code lets the exception pass, so what it holds must free itself
// (RAII); a callback handed to a C-style function must never throw.

// Returns body(); when body throws std::bad_alloc, returns on_no_memory()
// instead, which must not allocate through the C++ library.
template <class Body, class Fallback>
auto oom_guard(Body body, Fallback on_no_memory) -> decltype(body())
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return on_no_memory();
    }
}

// ---------------------------------------------------------------------------
// Formatted output and message sinks (format.cpp, sinks.cpp)

// printf-like message callback; the result is ignored by every caller.
typedef int (*msg_fn)(const char *format, ...);

// Formats into out (size bytes, terminator included) and never writes past
// it; the result is the longest prefix that fits. Returns its length; 0,
// writing nothing, for a null out or format or a size below 1. A null %s
// prints "(NULL)"; a directive that cannot be handed on safely is copied as
// written. When memory runs out, the text ends before the directive that
// needed it.
int lvprintf(char *out, int size, const char *format, va_list args);
int lprintf(char *out, int size, const char *format, ...) NLIB_PRINTF(3, 4);
// Appends formatted text (at most 1023 characters) to dst, unbounded: the
// caller guarantees the room. Returns dst; nothing is done for a null dst
// or format.
char *s_fstrcat(char *dst, const char *format, ...) NLIB_PRINTF(2, 3);

// Writes prefix and text on out as one line, unflushed: every control
// character of text (octets below 0x20, and DEL) becomes a blank, and one
// line feed ending text is the line's own. Text from outside the process (a
// directory's diagnostics, say) thus can neither end its line early nor pass
// for a line of its own: every such line goes out through here. It takes no
// memory, so a status line goes out even when none is left. Returns the
// octets written; 0 when out or text is null (a null prefix is empty).
int s_write_line(FILE *out, const char *prefix, const char *text);
// "Error: %s" and "Debug: %s" lines on standard output (through
// s_write_line, the text cut at 1023 characters), unflushed. Return the
// octets written, 0 for a null format or while debugging is off.
int emsg(const char *format, ...) NLIB_PRINTF(1, 2);
int dmsg(const char *format, ...) NLIB_PRINTF(1, 2);
// The setting that switches debug lines on when it is exactly "true"; read
// at every dmsg call. The front end points it at its "debug" setting.
extern const char *dmsg_setting;

// ---------------------------------------------------------------------------
// Core strings and paths (strings.cpp)

// Case-folding table: 'A'..'Z' map to 'a'..'z', every other byte to itself.
extern const unsigned char charmap[256];

// Copy into dst of size bytes: lcpy copies at most size - 1 characters of
// src (the two may overlap), lcat appends to dst until it holds size - 1;
// both always end dst with a zero when they write. Return dst; a null
// argument (or a size below 1 for lcpy) leaves dst as it is.
char *lcpy(char *dst, const char *src, int size);
char *lcat(char *dst, const char *src, int size);
// Compare through charmap, ignoring letter case: below, at or above 0 as a
// sorts before, with or after b; s_strnicmp looks at n characters at most
// (a negative n: all, 0: none). Either text null: 1.
int s_stricmp(const char *a, const char *b);
int s_strnicmp(const char *a, const char *b, int n);
// Lower-cases s in place and returns it; null stays null.
char *s_strlwr(char *s);
// strchr and strlen that take null: no character found, length 0.
char *s_strchr(const char *s, int c);
unsigned int s_strlen(const char *s);
// The file name cut to 511 characters, each tab, carriage return and line
// feed made '_'; "" for null. In the function's own buffer.
char *valid_file(const char *name);
// dir (cut to 511) and file (cleaned by valid_file) joined by exactly one
// '/' (none before a "X:" drive-style file); a dir alone gets its final '/',
// a file alone stays as it is. The first 511 characters, in the function's
// own buffer; "" when memory runs out.
char *attach_path(const char *dir, const char *file);

// ---------------------------------------------------------------------------
// Path and file-name utilities (paths.cpp). Each answer but point_ext's
// lives in a 512-byte buffer of the function's own.

// The path without each "/NAME/.." and each "/." that a backslash follows
// ("/a/b/..\c" gives "/a\c", as does "/a/.\c"); "" for null.
char *update_path(const char *path);
// "name.extension" (the dot added unless extension brings one; a null or
// empty extension adds nothing). Null for a null name, for a result that is
// empty or starts with '.', and when memory runs out.
char *attach_ext(const char *name, const char *extension);
// The name without its last extension; a final dot goes only after a real
// stem ("abc." but not "x." or "abc.."). "" for null.
char *strip_ext(const char *name);
// The '.' of the extension inside name itself (last component only); null
// when there is none, or for null.
const char *point_ext(const char *name);
// The text after the last '.', wherever it stands; "" when none or null.
char *get_ext(const char *name);
// The last component of path, without its extension when drop_ext is
// non-zero; "" for null.
char *strip_path(const char *path, int drop_ext);
// The directory part of path with its final '/'; null when it has none.
char *strip_filename(const char *path);
// Of the directory part of path: its last component (want_name non-zero) or
// its own directory part; null when there is none.
char *remove_path(const char *path, int want_name);

// ---------------------------------------------------------------------------
// Encoders, timing and sorting (encoders.cpp, sort.cpp)

// The time of day: whole seconds since the epoch, and the milliseconds
// within the current second (0..999).
long secs();
int msecs();
// Microseconds on a clock that never jumps (not the time of day): for
// deadlines and the time between two points.
int64_t monotonic_us();
// Token coding: every byte outside 0x21..0x7D, and each of +<>():;"&%#?\/`'@
// (not_encode: '=' and '!' too), becomes '!' and two hex digits; the result
// stops near 1020 characters. utoken_decode turns each "!HH" back (5119
// bytes at most). Each answers in a buffer of its own; the encoders give
// null for null, the decoder "".
char *utoken_encode(const char *text);
char *not_encode(const char *text);
char *utoken_decode(const char *text);
// text (cut to 511) with the repeating key added to (encrypt) or taken from
// (decrypt) each byte: a scramble, not a cipher. An empty key leaves the
// text as it is. Buffers of their own; null when text or key is null.
char *pass_user_encrypt(const char *text, const char *key);
char *pass_user_decrypt(const char *text, const char *key);
// A link text with blanks, line ends, backslashes and each of +<>():;"&%.,'#
// as %HH; a stretch after an escape byte (0x1B) passes as it is. Newly allocated,
// the caller frees it; null for null or when memory runs out.
char *encode_xhref(const char *text);
int hex_value(char c);  // a hexadecimal digit's value, or -1
// Replaces every byte from of text with to, in place; null is ignored.
void char_replace(char *text, int from, int to);
// Swaps the size bytes of two blocks; null or one same block: nothing.
void exchange(void *block_a, void *block_b, int size);
// Sorts count elements of size bytes in place, not stably; nothing for a
// null base or compare or a size below 1.
void myqsort(void *base, int count, int size, int (*compare)(const void *, const void *));

// ---------------------------------------------------------------------------
// Further string, token and number functions (strings.cpp, tokens.cpp)

// strcpy and strcat without bounds: the caller guarantees the room. Both
// return dst; a null src empties dst (s_strcpy) or adds nothing
// (s_strcat); a null dst is returned as it is.
char *s_strcpy(char *dst, const char *src);
char *s_strcat(char *dst, const char *src);
// Bounded by a character count: ncpy copies at most n characters of src
// and returns the end of the copy; ncat appends until dst holds n. Both
// also write a zero at dst[n] (dst needs n + 1 bytes, and a longer dst is
// cut there). A null src empties dst (ncpy) or adds nothing (ncat).
char *ncpy(char *dst, const char *src, int n);
char *ncat(char *dst, const char *src, int n);
// Appends add to a heap text (null makes a new one); returns the grown text.
// When memory runs out, text is returned unchanged after an "Error:" line;
// a null add returns text as it is.
char *s_stradd(char *text, const char *add);
// strcmp and strncmp (n characters at most, 0: none) that take null:
// either text null gives 1.
int s_strcmp(const char *a, const char *b);
int s_strncmp(const char *a, const char *b, int n);
// Upper-cases s in place and returns it.
char *s_strupr(char *s);
// Cuts the blanks ending s in place and returns s past its leading
// blanks; null stays null.
char *s_strtrm(char *s);
// Where needle first occurs in haystack: as strstr (null for a null text);
// outside stretches between escape bytes (0x1B) for s_strchr_japan;
// ignoring case for s_stristr (null for an empty needle).
char *s_strstr(const char *haystack, const char *needle);
char *s_strchr_japan(const char *s, int c);
char *s_stristr(const char *haystack, const char *needle);
// strtok over a private copy of text (1023 characters): a text starts a
// walk, null goes on with it; tokens between adjacent delimiters are empty.
// Null once the walk is over, or for null delimiters.
char *s_strtoken(const char *text, const char *delims);
// strtok_r on the caller's text, cut in place; null text goes on at
// *cursor. mystrtok skips leading delimiters; myquotetok also keeps text in
// double quotes together and drops the quotes around a token; myquotetok_one
// splits at one delimiter character, quotes likewise, and keeps empty
// tokens. Null when no token is left (or for null delimiters, or 0).
char *mystrtok(char *text, const char *delims, char **cursor);
char *myquotetok(char *text, const char *delims, char **cursor);
char *myquotetok_one(char *text, int delim, char **cursor);
// The text between the first pair of double quotes (to the end when the
// second is missing), cut to 511 characters, in a buffer of its own; "" when
// there is no quote, or for null.
char *remove_quote(const char *text);
// 1 when text holds an ASCII letter (as isalpha judges), else 0; 0 for null.
int s_has_letter(const char *text);
// Decimal numbers as strtol and strtod read them, kept within int; 0 for
// null. s_atol is s_atoi.
int s_atoi(const char *text);
int s_atol(const char *text);
double s_atof(const char *text);

#endif
