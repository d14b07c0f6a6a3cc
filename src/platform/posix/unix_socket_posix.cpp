// Private per-user directories and socket binding for the POSIX endpoints.
#include "platform/posix/unix_socket_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// The directory is opened without following a link, so that the checks and
// a permission change apply to the directory itself.
bool posix_private_directory(const char* dir, posix_private_e mode) {
    if (!dir || !dir[0]) {
        errno = EINVAL;
        return false;
    }
    if (mode != POSIX_PRIVATE_CHECK && mkdir(dir, 0700) != 0 && errno != EEXIST) return false;
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP) errno = ENOTDIR;
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISDIR(st.st_mode)) errno = ENOTDIR, ok = false;
    if (ok && st.st_uid != geteuid()) errno = EPERM, ok = false;
    if (ok && (st.st_mode & 077) != 0) {
        if (mode == POSIX_PRIVATE_TIGHTEN) {
            ok = fchmod(fd, 0700) == 0;
        } else {
            errno = EACCES;
            ok = false;
        }
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

const char* posix_private_reason(int code) {
    switch (code) {
    case ENOTDIR: return "it is not a directory";
    case EPERM: return "it belongs to another user";
    case EACCES: return "it is open to other users (its mode must be 0700)";
    case ENOENT: return "it does not exist";
    default: return strerror(code);
    }
}

bool posix_socket_address(const char* path, sockaddr_un* addr) {
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

bool posix_someone_listens(const sockaddr_un& addr, int type) {
    const int s = socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return true;  // unknown: leave the file alone
    const bool ok = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    const bool refused = !ok && errno == ECONNREFUSED;
    close(s);
    return !refused;
}

bool posix_bind_endpoint(int s, int type, const sockaddr_un& addr) {
    const sockaddr* sa = reinterpret_cast<const sockaddr*>(&addr);
    if (bind(s, sa, sizeof addr) == 0) return true;
    if (errno != EADDRINUSE) return false;
    struct stat st;
    if (lstat(addr.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode) || posix_someone_listens(addr, type)) {
        errno = EADDRINUSE;
        return false;
    }
    if (unlink(addr.sun_path) != 0 && errno != ENOENT) return false;
    return bind(s, sa, sizeof addr) == 0;
}
