// What the POSIX backend's Unix-socket endpoints share (the debugger output,
// its viewer and the control endpoint): the rule for a private per-user
// directory and the binding of a socket path that a dead process left.
#ifndef KATRACE_UNIX_SOCKET_POSIX_H
#define KATRACE_UNIX_SOCKET_POSIX_H

#include <sys/un.h>

// How a directory meant to be private to the calling user is treated.
enum posix_private_e {
    POSIX_PRIVATE_CHECK,    // only checked: it must exist already
    POSIX_PRIVATE_REFUSE,   // created 0700 when missing; refused when open to others
    POSIX_PRIVATE_TIGHTEN,  // created 0700 when missing; closed to others when open
};
// True when dir is a directory (not a link to one) that belongs to the
// calling user and admits no one else (no group or other permission bits).
// Otherwise false with errno: ENOTDIR (not a directory, or a link), EPERM
// (another owner), EACCES (open to others), or the system call's own code.
bool posix_private_directory(const char* dir, posix_private_e mode);
// A text for the errno that posix_private_directory left.
const char* posix_private_reason(int code);

// The socket address of path; false (errno set) when it is empty or too long.
bool posix_socket_address(const char* path, sockaddr_un* addr);
// Binds s (of the given socket type) at the address. A socket file nobody
// listens on (connecting is refused) is removed first; anything else at the
// path is kept (EADDRINUSE).
bool posix_bind_endpoint(int s, int type, const sockaddr_un& addr);
// False only when connecting a socket of the given type to the address is
// refused: nobody listens there.
bool posix_someone_listens(const sockaddr_un& addr, int type);

#endif
