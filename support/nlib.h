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
// it; the result is the longest prefix that fits. Returns its length.
int lvprintf(char *out, int size, const char *format, va_list args);
int lprintf(char *out, int size, const char *format, ...) NLIB_PRINTF(3, 4);
// Appends formatted text (at most 1023 characters) to dst, unbounded.
char *s_fstrcat(char *dst, const char *format, ...) NLIB_PRINTF(2, 3);

// Writes prefix and text on out as one line, unflushed: every control
// character of text (octets below 0x20, and DEL) becomes a blank, and one
// line feed ending text is the line's own. Text from outside the process (a
// directory's diagnostics, say) thus can neither end its line early nor pass
// for a line of its own: every such line goes out through here. Returns the
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

char *lcpy(char *dst, const char *src, int size);
char *lcat(char *dst, const char *src, int size);
int s_stricmp(const char *a, const char *b);
int s_strnicmp(const char *a, const char *b, int n);
char *s_strlwr(char *s);
char *s_strchr(const char *s, int c);
unsigned int s_strlen(const char *s);
char *valid_file(const char *name);
char *attach_path(const char *dir, const char *file);

// ---------------------------------------------------------------------------
// Path and file-name utilities (paths.cpp)

char *update_path(const char *path);
char *attach_ext(const char *name, const char *extension);
char *strip_ext(const char *name);
const char *point_ext(const char *name);
char *get_ext(const char *name);
char *strip_path(const char *path, int drop_ext);
char *strip_filename(const char *path);
char *remove_path(const char *path, int want_name);

// ---------------------------------------------------------------------------
// Encoders, timing and sorting (encoders.cpp, sort.cpp)

long secs();
int msecs();
// Microseconds on a clock that never jumps (not the time of day): for
// deadlines and the time between two points.
int64_t monotonic_us();
char *utoken_encode(const char *text);
char *not_encode(const char *text);
char *utoken_decode(const char *text);
char *pass_user_encrypt(const char *text, const char *key);
char *pass_user_decrypt(const char *text, const char *key);
char *encode_xhref(const char *text);  // newly allocated; caller frees
int hex_value(char c);                 // a hexadecimal digit's value, or -1
void char_replace(char *text, int from, int to);
void exchange(void *block_a, void *block_b, int size);
void myqsort(void *base, int count, int size, int (*compare)(const void *, const void *));

// ---------------------------------------------------------------------------
// Further string, token and number functions (strings.cpp, tokens.cpp)

char *s_strcpy(char *dst, const char *src);
char *s_strcat(char *dst, const char *src);
char *ncpy(char *dst, const char *src, int n);
char *ncat(char *dst, const char *src, int n);
// Appends add to a heap text (null makes a new one); returns the grown text.
char *s_stradd(char *text, const char *add);
int s_strcmp(const char *a, const char *b);
int s_strncmp(const char *a, const char *b, int n);
char *s_strupr(char *s);
char *s_strtrm(char *s);
char *s_strstr(const char *haystack, const char *needle);
char *s_strchr_japan(const char *s, int c);
char *s_stristr(const char *haystack, const char *needle);
char *s_strtoken(const char *text, const char *delims);
char *mystrtok(char *text, const char *delims, char **cursor);
char *myquotetok(char *text, const char *delims, char **cursor);
char *myquotetok_one(char *text, int delim, char **cursor);
char *remove_quote(const char *text);
// 1 when text holds an ASCII letter (as isalpha judges), else 0; 0 for null.
int s_has_letter(const char *text);
int s_atoi(const char *text);
int s_atol(const char *text);
double s_atof(const char *text);

#endif
