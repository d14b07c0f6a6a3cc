// Symbolic links to the newest log file. Each operation opens the directory of its path once and works
// relative to it; a link is only ever made, read, renamed over or removed
// at a name the caller gives, and nothing it points to is followed.
#include "platform/platform.h"
#include "platform/posix/entry_posix.h"
#include "platform/posix/fault_posix.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True when nothing or a symbolic link stands at the entry.
bool link_or_nothing(const plat_entry_at_c& e) {
    struct stat st;
    if (fstatat(e.dir(), e.name(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (S_ISLNK(st.st_mode)) return true;
    errno = EEXIST;
    return false;
}

}  // namespace

bool plat_replace_link(const char* link_path, const char* target) {
    plat_entry_at_c e;
    if (!target || !*target || !e.open(link_path) || !link_or_nothing(e)) return false;
    // The fresh link's name is private to this process and this call.
    char fresh[PLAT_MAX_PATH_BYTES + 1];
    const int n = std::snprintf(fresh, sizeof fresh, ".%s.%lu.link", e.name(), static_cast<unsigned long>(getpid()));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof fresh) {
        errno = ENAMETOOLONG;
        return false;
    }
    // A link left by an earlier run with this pid goes; anything else
    // there is not ours and stays (symlinkat then fails).
    struct stat st;
    if (fstatat(e.dir(), fresh, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) unlinkat(e.dir(), fresh, 0);
    if (symlinkat(target, e.dir(), fresh) != 0) return false;
    // The name may have been taken by a regular file since the test above;
    // renaming over it then would unlink another writer's log.
    if (!link_or_nothing(e) || renameat(e.dir(), fresh, e.dir(), e.name()) != 0) {
        const int code = errno;
        unlinkat(e.dir(), fresh, 0);
        errno = code;
        return false;
    }
    return true;
}

bool plat_read_link(const char* path, char* target, size_t size) {
    plat_entry_at_c e;
    if (!target || size == 0 || !e.open(path)) return false;
    const ssize_t n = readlinkat(e.dir(), e.name(), target, size);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        target[0] = 0;
        return false;
    }
    target[n] = 0;
    return true;
}

bool plat_delete_link(const char* path) {
    plat_entry_at_c e;
    struct stat st;
    if (!e.open(path) || fstatat(e.dir(), e.name(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISLNK(st.st_mode)) {
        errno = plat_not_regular_error(st.st_mode);
        return false;
    }
    return unlinkat(e.dir(), e.name(), 0) == 0;
}
