// Trace line assembly helpers shared by the entry object and its tests.
#ifndef KATRACE_FRONT_LINE_H
#define KATRACE_FRONT_LINE_H

#include <cstddef>

class tr_stream_c;
class trace_manager_c;

// Room for the time piece "(YYYY/MM/DD hh:mm:ss) " and its terminator.
const size_t KATR_TIME_PIECE = 40;

// Writes the time piece of the given second (local time) into out
// (KATR_TIME_PIECE bytes); returns its length, 0 when the time cannot be
// broken down (the piece is then left out).
size_t format_time_piece(long long second, char* out);

// The time piece of the current second, from a per-thread cache that is
// rebuilt once a second; *length receives its length.
const char* current_time_piece(size_t* length);

// Appends a number in decimal.
void append_decimal(tr_stream_c& out, unsigned long long value);
void append_decimal(tr_stream_c& out, long long value);

// Whether the site of this mask serves calls whose names live in temporary
// buffers: the wrappers' sites (katr_wrapper_site) and the stand-in site.
bool katr_wrapper_site(const unsigned* mask);
bool katr_site_names_transient(const unsigned* mask);

#endif
