// Decoded events as a timeline in the Chrome Trace Event Format, which
// Perfetto's UI and chrome://tracing open: a begin and an end event per
// scope, an instant event with its text per message, one named track per
// thread.
#ifndef KATRACE_BOX_TIMELINE_H
#define KATRACE_BOX_TIMELINE_H

#include <string>
#include <vector>

#include "blackbox/box_decoder.h"

// The JSON text of events (in time order) of process pid; names[region] is
// the name of the region's thread. Per thread every begin gets its end: a
// leave whose enter is no longer in the box is left out, and scopes still
// open at a thread's last event are closed there. Times are microseconds
// since the first event; bytes outside printable ASCII are escaped.
std::string box_timeline_json(const std::vector<box_event_s>& events, const std::vector<std::string>& names, unsigned long pid);

#endif
