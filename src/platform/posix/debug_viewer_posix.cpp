// The viewer end of the debugger output on POSIX: a Unix datagram socket
// bound at the endpoint the senders probe. The handle is the socket's file
// descriptor; its bound path comes back from getsockname when it closes.
#include "platform/platform.h"

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

// The socket address of path; false (errno set) when it is empty or too long.
bool socket_address(const char* path, sockaddr_un* addr) {
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (!path || !path[0]) {
        errno = EINVAL;
        return false;
    }
    if (strlen(path) >= sizeof addr->sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    strcpy(addr->sun_path, path);
    return true;
}

// The directory of the default endpoint: senders send there only while it
// belongs to the user and admits no one else. Created 0700 when missing;
// opened without following a link, so that the checks and the permission
// change apply to the directory itself.
bool prepare_private_directory(const char* path) {
    char dir[sizeof(sockaddr_un::sun_path)];
    snprintf(dir, sizeof dir, "%s", path);
    char* slash = strrchr(dir, '/');
    if (!slash || slash == dir) {
        errno = EINVAL;
        return false;
    }
    *slash = 0;
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) return false;
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && (!S_ISDIR(st.st_mode) || st.st_uid != getuid())) {
        errno = EACCES;
        ok = false;
    }
    if (ok && (st.st_mode & 077) != 0) ok = fchmod(fd, 0700) == 0;
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

// True when a datagram socket can connect to the address: a viewer listens.
bool someone_listens(const sockaddr_un& addr) {
    const int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return true;  // unknown: leave the file alone
    const bool ok = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    const bool refused = !ok && errno == ECONNREFUSED;
    close(s);
    return !refused;
}

// Binds s at the address. A socket file whose viewer is gone (connecting to
// it is refused) is removed first; anything else at the path is kept.
bool bind_endpoint(int s, const sockaddr_un& addr) {
    const sockaddr* sa = reinterpret_cast<const sockaddr*>(&addr);
    if (bind(s, sa, sizeof addr) == 0) return true;
    if (errno != EADDRINUSE) return false;
    struct stat st;
    if (lstat(addr.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode) || someone_listens(addr)) {
        errno = EADDRINUSE;
        return false;
    }
    if (unlink(addr.sun_path) != 0 && errno != ENOENT) return false;
    return bind(s, sa, sizeof addr) == 0;
}

}  // namespace

intptr_t plat_debug_viewer_open(const char* endpoint) {
    sockaddr_un addr;
    if (!socket_address(endpoint ? endpoint : plat_debug_endpoint(), &addr)) return -1;
    if (!endpoint && !prepare_private_directory(addr.sun_path)) return -1;
    const int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    if (!bind_endpoint(s, addr)) {
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
