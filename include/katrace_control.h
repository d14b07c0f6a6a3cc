/* katrace_control: the control endpoint of a traced process, a companion
 * library (libkatrace_control.so, katrace_control.dll) beside katrace.
 *
 * katr_control_start opens one endpoint for the process and serves it from
 * a thread of its own; the katrctl tool connects to it and steers the
 * process through katrace's command protocol (katr_remote_proc_c): reload
 * or parse configuration, switch outputs, move the log directory, read the
 * configuration, the threads and their scope stacks. The trace library
 * itself starts no threads; only a host that calls katr_control_start gets
 * the endpoint and its thread.
 *
 * Endpoint: Linux, the Unix socket katrace/<pid>.sock under $XDG_RUNTIME_DIR
 * (else /tmp/katrace-<uid>/<pid>.sock) in a directory of mode 0700 owned by
 * the user; Windows, the named pipe \\.\pipe\katrace-<pid>, open to the
 * current user only. Framing: a 4-byte little-endian length, then that many
 * bytes of request text; the reply the same way.
 *
 * Security: a request can make the process read any file its user can read
 * (a reparse of /etc/passwd echoes its lines in error messages) and change
 * where it writes its logs. That is why only processes of the same user are
 * answered (on Linux the peer's uid is checked on every connection) and why
 * the endpoint stays closed unless the host asks for it. A host running with
 * privileges its callers do not have should not open it. */
#ifndef KATRACE_CONTROL_H
#define KATRACE_CONTROL_H

#if defined(_WIN32)
#  if defined(KATRACE_CONTROL_BUILDING)
#    define KATR_CONTROL_API __declspec(dllexport)
#  else
#    define KATR_CONTROL_API __declspec(dllimport)
#  endif
#else
#  define KATR_CONTROL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the endpoint and starts its listener thread: 0, or with a message
 * on standard error 1 when the endpoint cannot be made (e.g. its directory
 * is not the user's own with mode 0700) or 2 when its thread cannot start.
 * A call while the endpoint is open does nothing and returns 0. */
KATR_CONTROL_API int katr_control_start(void);

/* Closes the endpoint, waits for the listener thread to end and removes the
 * endpoint's socket file. Also done at process exit. Nothing when it is not
 * open. */
KATR_CONTROL_API void katr_control_stop(void);

#ifdef __cplusplus
}
#endif

#endif /* KATRACE_CONTROL_H */
