// mix_n: small utilities of the support library.
#ifndef KATRACE_MIX_H
#define KATRACE_MIX_H

#include <ctime>

// Size of every path buffer in the library; longer paths are refused.
#define KOR_MAX_PATH 4196

namespace mix_n {
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
