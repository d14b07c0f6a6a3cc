// UTF-8 <-> UTF-16 conversion at the platform boundary (code page 65001).
#ifndef KATRACE_UTF_H
#define KATRACE_UTF_H

#include "katrace.h"

// Converts NUL-terminated UTF-16 to UTF-8. size is in/out, in bytes,
// terminator included. Returns 1 on success, 0 on failure. A null text
// yields the empty text and size 0; a null target is a size query.
int to_utf8(const katr_wchar_t* text, char* target, int* size);
// The same from UTF-8 to UTF-16; size counts UTF-16 units.
int to_utf16(const char* text, katr_wchar_t* target, int* size);

// Keeps converted texts alive for the duration of a call.
class basis_multi_lang_c {
public:
    katr_wchar_t* wide_text;  // last to_wide result, owned
    char* narrow_text;        // last to_narrow result, owned

    basis_multi_lang_c();
    virtual ~basis_multi_lang_c();
    basis_multi_lang_c(const basis_multi_lang_c&) = delete;
    basis_multi_lang_c& operator=(const basis_multi_lang_c&) = delete;

    katr_wchar_t* to_wide(const char* text);
    char* to_narrow(const katr_wchar_t* text);
};

#endif
