// mix_n: small utilities of the support library.
#ifndef KATRACE_MIX_H
#define KATRACE_MIX_H

#include <ctime>

#include "platform/platform.h"

// Size of every path buffer in the library; longer paths are refused.
#define KOR_MAX_PATH PLAT_MAX_PATH

namespace mix_n {
// The ASCII letter c in lower case; every other byte as it is.
inline unsigned char ascii_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
// strcmp without regard to ASCII case (a null text reads as ""): the
// difference of the first differing bytes after folding, 0 when equal.
int stricmp_ascii(const char* a, const char* b);
// Reads the decimal digits at text (there must be at least one) into
// *value, which stops growing at 0xFFFFFFFF; *overflow tells whether the
// number was larger. Returns the position behind the digits, or null when
// text does not start with a digit.
const char* parse_decimal(const char* text, unsigned* value, bool* overflow);
// Writes value in decimal at the end of digits (DECIMAL_DIGITS bytes, no
// terminator) and returns where the number starts.
const size_t DECIMAL_DIGITS = 24;
char* format_decimal(unsigned long long value, char* digits);

// The two words for boolean values: "true" and "false".
extern const char* const True;
extern const char* const False;

// Wildcard match of a whole text: '*' any run (also none), '?' exactly one
// character, everything else itself; letters compare without regard to ASCII
// case when no_case is true. Null pattern or text: false.
bool regcmp(const char* pattern, const char* text, bool no_case);

// The C library's time text without its line feed ("Sat Dec  5 20:16:22 2026")
// into buf (at least 32 bytes); returns buf. Empty text when the time is invalid.
char* ctime_r(const long long* t, char* buf);
// Local time; false on failure.
bool localtime_r(const long long* t, struct tm* out);

// Directory of the executable (absolute, '/' separators, no trailing '/'),
// and its file name with extension, copied into buf (KOR_MAX_PATH bytes)
// and returned; with a null buf, a pointer to the library's own copy
// (computed once). Null (and buf emptied) when the path is unknown.
// An executable in the root directory has the empty directory text.
const char* get_exe_dir(char* buf);
const char* get_exe_name(char* buf);
}

#endif
