// The control endpoint on POSIX: a Unix stream socket per process in a
// directory private to the user, reached only by peers of the same uid.
#include "platform/platform.h"
#include "platform/posix/unix_socket_posix.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const size_t SOCKET_PATH_MAX = sizeof(sockaddr_un::sun_path);

// $XDG_RUNTIME_DIR/katrace, else /tmp/katrace-<uid>; false when too long.
bool endpoint_directory(char* dir, size_t size) {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    int n;
    if (runtime && runtime[0] == '/')
        n = snprintf(dir, size, "%s/katrace", runtime);
    else
        n = snprintf(dir, size, "/tmp/katrace-%lu", static_cast<unsigned long>(geteuid()));
    if (n < 0 || static_cast<size_t>(n) >= size) {
        dir[0] = 0;
        return false;
    }
    return true;
}

// The socket path of pid inside dir; false when it does not fit.
bool socket_path(const char* dir, unsigned long pid, char* buf, size_t size) {
    const int n = snprintf(buf, size, "%s/%lu.sock", dir, pid);
    if (n < 0 || static_cast<size_t>(n) >= size || static_cast<size_t>(n) >= SOCKET_PATH_MAX) {
        if (size) buf[0] = 0;
        return false;
    }
    return true;
}

// The uid of the socket's peer as it connected; false when unknown.
bool peer_uid(int fd, uid_t* uid) {
    struct ucred cred;
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
    *uid = cred.uid;
    return true;
}

bool same_user(int fd) {
    uid_t uid;
    return peer_uid(fd, &uid) && uid == geteuid();
}

int to_fd(intptr_t h) { return h < 0 || h > INT_MAX ? -1 : static_cast<int>(h); }

int poll_ms(unsigned timeout_ms) { return timeout_ms > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(timeout_ms); }

// Waits up to timeout_ms for events on fd: 1 ready, 0 timeout, -1 error.
int wait_for(int fd, short events, unsigned timeout_ms) {
    struct pollfd p;
    p.fd = fd;
    p.events = events;
    p.revents = 0;
    const int r = poll(&p, 1, poll_ms(timeout_ms));
    if (r < 0) return errno == EINTR ? 0 : -1;
    return r;
}

// A non-blocking connect to path: the socket, or -1 with errno (ECONNREFUSED
// when nobody listens, EAGAIN when the backlog is full).
int connect_path(const char* path) {
    sockaddr_un addr;
    if (!posix_socket_address(path, &addr)) return -1;
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return -1;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return s;
    const int saved = errno;
    close(s);
    errno = saved;
    return -1;
}

// A decimal pid followed by ".sock" and nothing else; 0 for other names.
unsigned long pid_of_socket_name(const char* name) {
    if (!isdigit(static_cast<unsigned char>(name[0])) || name[0] == '0') return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long pid = strtoul(name, &end, 10);
    if (errno != 0 || strcmp(end, ".sock") != 0) return 0;
    return pid;
}

}  // namespace

bool plat_control_endpoint(unsigned long pid, char* buf, size_t size) {
    if (!buf || size == 0) return false;
    char dir[SOCKET_PATH_MAX];
    if (!endpoint_directory(dir, sizeof dir)) {
        buf[0] = 0;
        return false;
    }
    return socket_path(dir, pid, buf, size);
}

intptr_t plat_control_listen(char* why, size_t why_size) {
    char dummy[1];
    if (!why || why_size == 0) why = dummy, why_size = sizeof dummy;
    why[0] = 0;
    char dir[SOCKET_PATH_MAX], path[SOCKET_PATH_MAX];
    if (!endpoint_directory(dir, sizeof dir) || !socket_path(dir, plat_pid(), path, sizeof path)) {
        snprintf(why, why_size, "the endpoint's path is too long for a Unix socket");
        errno = ENAMETOOLONG;
        return PLAT_NO_ENDPOINT;
    }
    if (!posix_private_directory(dir, POSIX_PRIVATE_REFUSE)) {
        const int code = errno;
        snprintf(why, why_size, "refusing the directory %s: %s", dir, posix_private_reason(code));
        errno = code;
        return PLAT_NO_ENDPOINT;
    }
    sockaddr_un addr;
    posix_socket_address(path, &addr);
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0 || !posix_bind_endpoint(s, SOCK_STREAM, addr) || chmod(path, 0600) != 0 || listen(s, 16) != 0) {
        const int code = errno;
        snprintf(why, why_size, "cannot listen at %s: %s", path, strerror(code));
        if (s >= 0) close(s);
        errno = code;
        return PLAT_NO_ENDPOINT;
    }
    return s;
}

intptr_t plat_control_accept(intptr_t listener, unsigned timeout_ms) {
    const int fd = to_fd(listener);
    if (fd < 0) {
        errno = EBADF;
        return PLAT_NO_ENDPOINT;
    }
    if (wait_for(fd, POLLIN, timeout_ms) <= 0) return PLAT_NO_ENDPOINT;
    const int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c < 0) return PLAT_NO_ENDPOINT;
    if (!same_user(c)) {
        close(c);
        errno = EACCES;
        return PLAT_NO_ENDPOINT;
    }
    return c;
}

void plat_control_close(intptr_t listener, bool remove) {
    const int fd = to_fd(listener);
    if (fd < 0) return;
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    socklen_t len = sizeof addr;
    if (remove && getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && addr.sun_family == AF_UNIX &&
        len > offsetof(sockaddr_un, sun_path) && addr.sun_path[0]) {
        addr.sun_path[sizeof addr.sun_path - 1] = 0;
        unlink(addr.sun_path);
    }
    close(fd);
}

intptr_t plat_control_connect(unsigned long pid, unsigned timeout_ms) {
    char dir[SOCKET_PATH_MAX], path[SOCKET_PATH_MAX];
    if (!endpoint_directory(dir, sizeof dir) || !socket_path(dir, pid, path, sizeof path)) {
        errno = ENAMETOOLONG;
        return PLAT_NO_ENDPOINT;
    }
    // Only a directory no other user can write to holds a socket of ours.
    if (!posix_private_directory(dir, POSIX_PRIVATE_CHECK)) return PLAT_NO_ENDPOINT;
    const unsigned long long deadline = plat_clock_ms() + timeout_ms;
    int s;
    while ((s = connect_path(path)) < 0 && errno == EAGAIN && plat_clock_ms() < deadline) plat_sleep_ms(10);
    if (s < 0) return PLAT_NO_ENDPOINT;
    if (!same_user(s)) {
        close(s);
        errno = EACCES;
        return PLAT_NO_ENDPOINT;
    }
    return s;
}

int plat_conn_receive(intptr_t conn, void* buf, size_t size, unsigned timeout_ms) {
    const int fd = to_fd(conn);
    if (fd < 0 || !buf || size == 0) {
        errno = EINVAL;
        return -1;
    }
    if (size > static_cast<size_t>(INT_MAX)) size = static_cast<size_t>(INT_MAX);
    const int r = wait_for(fd, POLLIN, timeout_ms);
    if (r <= 0) return r;
    const ssize_t n = recv(fd, buf, size, MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    if (n == 0) return -1;  // the peer closed
    return static_cast<int>(n);
}

bool plat_conn_send(intptr_t conn, const void* data, size_t size, unsigned timeout_ms) {
    const int fd = to_fd(conn);
    if (fd < 0 || (!data && size)) {
        errno = EINVAL;
        return false;
    }
    const char* p = static_cast<const char*>(data);
    const unsigned long long deadline = plat_clock_ms() + timeout_ms;
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        const unsigned long long now = plat_clock_ms();
        if (now >= deadline || wait_for(fd, POLLOUT, static_cast<unsigned>(deadline - now)) < 0) {
            errno = ETIMEDOUT;
            return false;
        }
    }
    return true;
}

void plat_conn_close(intptr_t conn) {
    const int fd = to_fd(conn);
    if (fd >= 0) close(fd);
}

bool plat_control_list(plat_pid_visit_f visit, void* ctx) {
    char dir[SOCKET_PATH_MAX];
    if (!visit || !endpoint_directory(dir, sizeof dir)) return false;
    if (!posix_private_directory(dir, POSIX_PRIVATE_CHECK)) return errno == ENOENT;  // none yet
    DIR* d = opendir(dir);
    if (!d) return false;
    while (const dirent* e = readdir(d)) {
        const unsigned long pid = pid_of_socket_name(e->d_name);
        char path[SOCKET_PATH_MAX];
        if (pid == 0 || !socket_path(dir, pid, path, sizeof path)) continue;
        const int s = connect_path(path);
        if (s >= 0 || errno == EAGAIN) {
            if (s >= 0) close(s);
            visit(pid, ctx);
        } else if (errno == ECONNREFUSED && pid <= static_cast<unsigned long>(INT_MAX) &&
                   kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            struct stat st;
            if (lstat(path, &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path);  // left by a process that ended
        }
    }
    closedir(d);
    return true;
}

bool plat_process_name(unsigned long pid, char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    char link[64], target[PLAT_MAX_PATH];
    snprintf(link, sizeof link, "/proc/%lu/exe", pid);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n > 0) {
        target[n] = 0;
        const char* slash = strrchr(target, '/');
        const int w = snprintf(buf, size, "%s", slash ? slash + 1 : target);
        if (w > 0 && static_cast<size_t>(w) < size) return true;
        buf[0] = 0;
        return false;
    }
    // Without access to the link: the kernel's short command name.
    snprintf(link, sizeof link, "/proc/%lu/comm", pid);
    const int fd = open(link, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t m = read(fd, target, sizeof target - 1);
    close(fd);
    if (m <= 0) return false;
    target[m] = 0;
    target[strcspn(target, "\n")] = 0;
    const int w = snprintf(buf, size, "%s", target);
    if (w <= 0 || static_cast<size_t>(w) >= size) {
        buf[0] = 0;
        return false;
    }
    return true;
}
