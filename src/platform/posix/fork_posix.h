// What the POSIX backend's own files share about fork: one set of pthread
// fork handlers, installed once, runs the library's registered functions
// and the backend's own steps in a fixed order.
#ifndef KATRACE_FORK_POSIX_H
#define KATRACE_FORK_POSIX_H

// Installs the handlers (once per process; later calls do nothing).
void posix_install_fork_handlers();
// The debugger output's endpoint lock, taken before a fork and released
// after it in both processes.
void posix_debug_output_before_fork();
void posix_debug_output_after_fork();
// Drops the calling thread's cached system id (the child's thread has a new one).
void posix_forget_thread_id();

#endif
