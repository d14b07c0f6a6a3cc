// Text received from traced programs, made safe to print on a terminal.
#ifndef KATRACE_TERMINAL_TEXT_H
#define KATRACE_TERMINAL_TEXT_H

#include <cstddef>

// Writes length bytes of text to out as a terminal may show them: CR LF
// becomes LF; TAB, a lone CR and LF stay; every other control character
// (C0, DEL, and the C1 range U+0080..U+009F in its UTF-8 form) becomes a
// visible escape ("\x1b", "\u009b"), so that a traced text can neither
// retitle nor reprogram the viewer's terminal. At most size - 1 bytes and a
// NUL are written; the result is the length the whole text needs (without
// the NUL), as with snprintf.
size_t terminal_text(const char* text, size_t length, char* out, size_t size);

#endif
