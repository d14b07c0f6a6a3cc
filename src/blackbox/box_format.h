// Decoded events as text: a message formatted as printf would have done it
// from its format and recorded arguments, and an event's line as the reader
// prints it.
#ifndef KATRACE_BOX_FORMAT_H
#define KATRACE_BOX_FORMAT_H

#include <string>
#include <vector>

#include "blackbox/box_decoder.h"

// The format applied to the arguments with the reader's snprintf, one
// conversion at a time with the argument the conversion names: "%n" writes
// nothing (and takes its argument), a missing argument shows as
// "<missing>", one of a kind the conversion cannot print as "<?>", and a
// string that was cut is followed by "[+N bytes]". Widths and precisions
// beyond 4096 are taken as 4096.
std::string box_format_message(const std::string& format, const std::vector<box_value_s>& args);

// One event as a line (without line end): local wall-clock time with
// microseconds, thread id and name, rank, " . " per scope depth, function,
// then "enter->", "<-leave" or the message.
std::string box_event_line(const box_event_s& e, const std::string& thread_name);

// An event as the log shows it before an error line: local time with
// microseconds, rank, " . " per depth, function, then enter, leave or the
// message.
std::string box_context_line(const box_event_s& e);

// The rank's name ("trace" for enter and leave; an additional rank's as the
// box names it), or its bit in hex.
std::string box_rank_name(const box_event_s& e);

#endif
