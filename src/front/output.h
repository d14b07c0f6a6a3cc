// Output dispatch of the trace front end: formatting of one message with its
// length limit and line-end rule, and the four sinks (log file, standard
// output, debugger output, host callback).
#ifndef KATRACE_FRONT_OUTPUT_H
#define KATRACE_FRONT_OUTPUT_H

#include <atomic>
#include <cstdarg>
#include <cstddef>

#include "katrace.h"

class trace_manager_c;

// The formatted-message buffer: at most 2047 characters and the terminator.
const size_t KATR_LINE_BUFFER = 2048;
// The callback text: at most 1023 characters and the terminator.
const size_t KATR_CALLBACK_BUFFER = 1024;
// How much of a format string the too-long error text quotes.
const size_t KATR_FORMAT_QUOTE = 1948;

// Formats format with arguments into line (KATR_LINE_BUFFER bytes). A result
// of more than 2047 characters is replaced by the error text quoting the
// format; otherwise a final line feed without a carriage return before it
// becomes CR LF. Returns the length of the text in line.
size_t format_line(char* line, const char* format, va_list arguments);

// The same for format followed by CR LF (the _nl forms), without building
// that format: the result equals format_line of the joined format.
size_t format_line_nl(char* line, const char* format, va_list arguments);

// Formats format with arguments into text (KATR_CALLBACK_BUFFER bytes) and
// cuts it at its first carriage return, or else at its first line feed.
// Returns the length of the text.
size_t format_callback_text(char* text, const char* format, va_list arguments);

// The console-application test over an executable image of size readable
// bytes: DOS signature, NT signature at e_lfanew, Subsystem 3 (console).
bool image_is_console(const unsigned char* image, size_t size);
// The same test over the running executable.
bool is_console_application();

// Output of a formatted line: the message is formatted here (with CR LF
// appended to the format when new_line); prefix (of prefix_length
// characters) goes in front of it to every sink. The first banner_length
// characters of prefix are the banner of thread thread_id: it stays only
// when another thread wrote the previous line, which is decided in the same
// hold of the manager's writer lock as the file write (one hold per line).
void write_line(trace_manager_c* manager, unsigned rank, const char* prefix, size_t prefix_length,
                size_t banner_length, unsigned thread_id, const char* format, bool new_line,
                va_list arguments);
// Output of an unformatted text of text_length bytes (no limit, no line end).
void write_long_string(trace_manager_c* manager, unsigned rank, const char* prefix,
                       unsigned long long prefix_length, const char* text,
                       unsigned long long text_length);
// The callback step: the first line of a fatal, error or warning message of
// a host that is not a console application goes to the host callback. A
// line traced from inside the callback does not call it again.
void run_callback(unsigned rank, const char* format, va_list arguments);

// The host callback; null when none is set.
extern std::atomic<katr_callback_f> g_katr_callback;

#endif
