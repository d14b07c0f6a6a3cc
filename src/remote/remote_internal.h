// What the command processor needs from the control functions beyond the
// exported ones.
#ifndef KATRACE_REMOTE_INTERNAL_H
#define KATRACE_REMOTE_INTERNAL_H

// The two output switches of the protocol.
enum output_switch_e {
    OUTPUT_SCREEN,
    OUTPUT_DEBUGGER
};
// The manager's set_verbose or set_print_to_debug_vew. False, and nothing
// done, when there is no manager.
bool remote_set_output_switch(output_switch_e which, bool on);

#endif
