// The viewer end of the debugger output on POSIX: a Unix datagram socket
// bound at the endpoint the senders probe. The handle is the socket's file
// descriptor; its bound path comes back from getsockname when it closes.
#include "platform/platform.h"
#include "platform/posix/unix_socket_posix.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The directory of the default endpoint: senders send there only while it
// belongs to the user and admits no one else. Created 0700 when missing and
// closed to others when it is open.
bool prepare_private_directory(const char* path) {
    char dir[sizeof(sockaddr_un::sun_path)];
    snprintf(dir, sizeof dir, "%s", path);
    char* slash = strrchr(dir, '/');
    if (!slash || slash == dir) {
        errno = EINVAL;
        return false;
    }
    *slash = 0;
    return posix_private_directory(dir, POSIX_PRIVATE_TIGHTEN);
}

}  // namespace

intptr_t plat_debug_viewer_open(const char* endpoint) {
    sockaddr_un addr;
    if (!posix_socket_address(endpoint ? endpoint : plat_debug_endpoint(), &addr)) return -1;
    if (!endpoint && !prepare_private_directory(addr.sun_path)) return -1;
    const int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    if (!posix_bind_endpoint(s, SOCK_DGRAM, addr)) {
        const int saved = errno;
        close(s);
        errno = saved;
        return -1;
    }
    // Only this user's senders may write to it (failure only loosens that).
    chmod(addr.sun_path, 0600);
    return s;
}

int plat_debug_viewer_receive(intptr_t viewer, char* buf, size_t size, unsigned timeout_ms) {
    if (!buf || size == 0 || viewer < 0 || viewer > INT_MAX) {
        if (buf && size) buf[0] = 0;
        errno = EINVAL;
        return -1;
    }
    buf[0] = 0;
    if (size > static_cast<size_t>(INT_MAX)) size = static_cast<size_t>(INT_MAX);
    const int fd = static_cast<int>(viewer);
    struct pollfd p;
    p.fd = fd;
    p.events = POLLIN;
    p.revents = 0;
    const int r = poll(&p, 1, timeout_ms > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(timeout_ms));
    if (r == 0) return 0;
    if (r < 0) return errno == EINTR ? 0 : -1;
    // A datagram longer than the buffer is cut; its rest is discarded.
    const ssize_t n = recv(fd, buf, size - 1, MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    buf[n] = 0;
    return static_cast<int>(n);
}

void plat_debug_viewer_close(intptr_t viewer) {
    if (viewer < 0 || viewer > INT_MAX) return;
    const int fd = static_cast<int>(viewer);
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    socklen_t len = sizeof addr;
    // The bound path; an abstract or unbound socket has none to remove.
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && addr.sun_family == AF_UNIX &&
        len > offsetof(sockaddr_un, sun_path) && addr.sun_path[0]) {
        addr.sun_path[sizeof addr.sun_path - 1] = 0;
        unlink(addr.sun_path);
    }
    close(fd);
}
