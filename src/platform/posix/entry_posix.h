// Entries of a directory that may be shared with other users: a path is
// split into its directory, opened once for the whole operation (following
// the links an administrator put on the way), and its last component, which
// is looked up with the *at calls and never followed when it is a link.
#ifndef KATRACE_ENTRY_POSIX_H
#define KATRACE_ENTRY_POSIX_H

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/path_limit_posix.h"

// The errno that refuses an entry of this mode because it is not a regular
// file: ELOOP for a link (as O_NOFOLLOW says), EISDIR for a directory, ENXIO
// for a pipe, device or socket.
inline int plat_not_regular_error(mode_t mode) {
    if (S_ISLNK(mode)) return ELOOP;
    return S_ISDIR(mode) ? EISDIR : ENXIO;
}

// Opens (or creates, mode 0644) the regular file at path with the access
// flags given (O_WRONLY | O_APPEND, O_RDWR...), as the log and the black box
// are opened in a directory others may write to: an entry that is not a
// regular file is refused before the open, the open follows no link and
// cannot block on a pipe put there meanwhile, and the opened file is checked
// again. The descriptor is left non-blocking (a regular file ignores it);
// -1 with errno set on failure, also when the fault hook fails `call`.
int plat_open_regular(const char* path, int access, plat_call_e call);

// A path's directory, held open, and its last component.
class plat_entry_at_c {
public:
    plat_entry_at_c() = default;
    plat_entry_at_c(const plat_entry_at_c&) = delete;
    plat_entry_at_c& operator=(const plat_entry_at_c&) = delete;
    ~plat_entry_at_c() {
        if (dir_ >= 0) close(dir_);
    }

    // Opens the directory of path; false (errno set) for an unusable path,
    // one ending in '/', or a directory that does not open.
    bool open(const char* path) {
        if (!plat_path_usable(path)) return false;
        const char* slash = std::strrchr(path, '/');
        name_ = slash ? slash + 1 : path;
        if (!*name_) {
            errno = EISDIR;
            return false;
        }
        const size_t dir_len = slash ? (slash == path ? 1 : static_cast<size_t>(slash - path)) : 0;
        char dir[PLAT_MAX_PATH_BYTES + 1];
        if (dir_len == 0) {
            dir[0] = '.';
            dir[1] = 0;
        } else {
            std::memcpy(dir, path, dir_len);
            dir[dir_len] = 0;
        }
#ifdef O_PATH
        const int how = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
        const int how = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
        do {
            dir_ = ::open(dir, how);
        } while (dir_ < 0 && errno == EINTR);
        return dir_ >= 0;
    }

    int dir() const { return dir_; }
    const char* name() const { return name_; }

    // True when the entry is a regular file (a link there is not followed);
    // otherwise errno says why: ENOENT, or the refusal for its kind.
    bool is_regular() const {
        struct stat st;
        if (fstatat(dir_, name_, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        if (S_ISREG(st.st_mode)) return true;
        errno = plat_not_regular_error(st.st_mode);
        return false;
    }

private:
    int dir_ = -1;
    const char* name_ = "";
};

#endif
