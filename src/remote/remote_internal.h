// What the command processor needs from the control functions beyond the
// exported ones.
#ifndef KATRACE_REMOTE_INTERNAL_H
#define KATRACE_REMOTE_INTERNAL_H

#include <cstddef>

// The two output switches of the protocol.
enum output_switch_e {
    OUTPUT_SCREEN,
    OUTPUT_DEBUGGER
};
// The manager's set_verbose or set_print_to_debug_vew. False, and nothing
// done, when there is no manager.
bool remote_set_output_switch(output_switch_e which, bool on);

// The reply convention: copies the reply (length bytes and its NUL) into
// out when len, the size of out, has room for it, else empties out (when it
// has any room); len always becomes the size the reply needs.
void remote_hand_over(const char* reply, size_t length, char* out, unsigned long long& len);

#endif
