// What the command processor needs from the control functions beyond the
// exported ones.
#ifndef KATRACE_REMOTE_INTERNAL_H
#define KATRACE_REMOTE_INTERNAL_H

// The manager's set_verbose (screen = true) or set_print_to_debug_vew
// (screen = false). False, and nothing done, when there is no manager.
bool remote_set_output_switch(bool screen, bool on);

#endif
