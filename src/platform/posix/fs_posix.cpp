// File-system operations on single paths: move without replacing, delete,
// existence and openability tests.
#include "platform/platform.h"
#include "platform/posix/path_limit_posix.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// True when some process holds the file open as its log (the shared lock
// taken by plat_file_open_append); errno is then EBUSY.
static bool plat_file_in_use(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    if (busy) errno = EBUSY;
    return busy;
}

// Renames without replacing: renameat2 with RENAME_NOREPLACE decides
// atomically; file systems without it get an existence test first.
bool plat_move_file(const char* from, const char* to) {
    if (!plat_path_usable(from) || !plat_path_usable(to)) return false;
    if (plat_file_in_use(from)) return false;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    struct stat st;
    if (lstat(to, &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from, to) == 0;
}

// Removes a file (not a directory) that no process holds open as its log.
bool plat_delete_file(const char* path) {
    return plat_path_usable(path) && !plat_file_in_use(path) && unlink(path) == 0;
}

// access(F_OK): 1 when the path exists, -1 when a directory on the way may
// not be searched, 0 otherwise.
int plat_path_access(const char* path) {
    if (!plat_path_usable(path)) return 0;
    if (access(path, F_OK) == 0) return 1;
    return errno == EACCES ? -1 : 0;
}

// A path opens when it names something stat can reach (file or directory).
bool plat_path_opens(const char* path) {
    struct stat st;
    return plat_path_usable(path) && stat(path, &st) == 0;
}
