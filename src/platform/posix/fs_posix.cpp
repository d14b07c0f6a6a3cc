// File-system operations on single paths: move without replacing, delete,
// what stands at a name, existence and openability tests. Move and delete
// act only on regular files: each opens the directory of its path once and
// works relative to it, never following a link at the file's own name.
#include "platform/platform.h"
#include "platform/posix/entry_posix.h"
#include "platform/posix/fault_posix.h"
#include "platform/posix/path_limit_posix.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True when some process holds the regular file open as its log (the shared
// lock taken by plat_file_open_append); errno is then EBUSY. The probe opens
// without following a link and without blocking on a pipe put there since.
bool in_use(const plat_entry_at_c& e) {
    int fd;
    do {
        fd = openat(e.dir(), e.name(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    if (busy) errno = EBUSY;
    return busy;
}

}  // namespace

// Renames without replacing: renameat2 with RENAME_NOREPLACE decides
// atomically; file systems without it get an existence test first.
bool plat_move_file(const char* from, const char* to) {
    plat_entry_at_c src, dst;
    if (!src.open(from) || !dst.open(to)) return false;
    if (!src.is_regular() || in_use(src)) return false;
    if (plat_fault_injected(PLAT_CALL_RENAME)) return false;
#ifdef RENAME_NOREPLACE
    if (renameat2(src.dir(), src.name(), dst.dir(), dst.name(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    struct stat st;
    if (fstatat(dst.dir(), dst.name(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return renameat(src.dir(), src.name(), dst.dir(), dst.name()) == 0;
}

// Swaps two regular files that no process holds open as its log, in one
// step: the name b never goes missing.
int plat_exchange_files(const char* a, const char* b) {
#ifdef RENAME_EXCHANGE
    plat_entry_at_c ea, eb;
    if (!ea.open(a) || !eb.open(b) || !ea.is_regular() || !eb.is_regular() || in_use(ea) || in_use(eb)) return -1;
    if (plat_fault_injected(PLAT_CALL_RENAME)) return -1;
    if (renameat2(ea.dir(), ea.name(), eb.dir(), eb.name(), RENAME_EXCHANGE) == 0) return 1;
    return errno == EINVAL || errno == ENOSYS || errno == ENOTSUP ? 0 : -1;
#else
    (void)a;
    (void)b;
    return 0;
#endif
}

// Removes a regular file that no process holds open as its log.
bool plat_delete_file(const char* path) {
    plat_entry_at_c e;
    return e.open(path) && e.is_regular() && !in_use(e) && !plat_fault_injected(PLAT_CALL_UNLINK) && unlinkat(e.dir(), e.name(), 0) == 0;
}

// lstat: a link at the last component is reported, not followed.
int plat_entry_kind(const char* path) {
    if (!plat_path_usable(path)) return -1;
    struct stat st;
    if (lstat(path, &st) != 0) return errno == ENOENT || errno == ENOTDIR ? PLAT_ENTRY_NONE : -1;
    return S_ISREG(st.st_mode) ? PLAT_ENTRY_FILE : PLAT_ENTRY_OTHER;
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

// lstat: a link's own time is not a file's.
long long plat_file_mtime(const char* path) {
    struct stat st;
    if (!plat_path_usable(path) || lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_mtime);
}
