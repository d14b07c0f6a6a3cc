// A message's arguments taken from its va_list for the black box. The
// format is read once per site into a plan (which C type each argument has,
// as printf would read it); each message then takes its arguments by the
// plan, with no parsing.
#ifndef KATRACE_BOX_ARGUMENTS_H
#define KATRACE_BOX_ARGUMENTS_H

#include <cstdarg>
#include <cstdint>

#include "blackbox/box_layout.h"
#include "blackbox/box_recorder.h"

// The C type an argument is read as.
enum box_ctype_e : uint8_t {
    BOX_C_END = 0,
    BOX_C_INT,        // int (also char and short, promoted; '*' widths)
    BOX_C_UINT,       // unsigned int
    BOX_C_LONG,       // long (32 bits on Windows, 64 on Linux)
    BOX_C_ULONG,      // unsigned long
    BOX_C_LLONG,      // long long, intmax_t, ptrdiff_t
    BOX_C_ULLONG,     // unsigned long long, size_t, uintmax_t
    BOX_C_DOUBLE,     // double (float promoted)
    BOX_C_LDOUBLE,    // long double, kept as a double
    BOX_C_POINTER,    // %p
    BOX_C_STRING,     // %s: the bytes are copied
    BOX_C_WSTRING,    // %ls, %S: copied as 7-bit text, '?' for other characters
    BOX_C_REFUSED,    // %n: the pointer is taken and never written through
};

// How a string's bytes are bounded by its precision.
enum box_bound_e : uint8_t {
    BOX_BOUND_NONE = 0,  // up to its NUL
    BOX_BOUND_LITERAL,   // "%.12s": at most precision[] bytes
    BOX_BOUND_STAR,      // "%.*s": at most the previous (int) argument's bytes
};

// What a format asks for, argument by argument (at most BOX_MAX_ARGS: the
// rest are not recorded). A conversion the plan does not know ends it,
// since the types of the arguments after it are unknown.
struct box_plan_s {
    uint8_t count;
    bool refused;  // the format has %n
    uint8_t type[BOX_MAX_ARGS];
    uint8_t bound[BOX_MAX_ARGS];
    uint16_t precision[BOX_MAX_ARGS];
};

// Reads format (may be null) into plan.
void box_plan_format(const char* format, box_plan_s* plan);

// Room for the text of wide-string arguments while a message is recorded.
struct box_wide_room_s {
    static const unsigned STRINGS = 4;  // wide strings kept per message; later ones are recorded as null
    char text[STRINGS][BOX_MAX_STRING + 1];
};

// Takes plan.count arguments from arguments into out (BOX_MAX_ARGS entries)
// and returns how many were taken.
unsigned box_take_arguments(const box_plan_s& plan, va_list arguments, box_arg_s* out, box_wide_room_s* room);

#endif
