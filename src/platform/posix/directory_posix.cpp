// Directories: creating one level and listing the regular files in one
// (links are never followed).
#include "platform/platform.h"
#include "platform/posix/fault_posix.h"
#include "platform/posix/path_limit_posix.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

// Mode 0777 lets the process umask decide; no chmod ever widens it.
bool plat_create_directory(const char* path) {
    return plat_path_usable(path) && !plat_fault_injected(PLAT_CALL_MKDIR) && mkdir(path, 0777) == 0;
}

namespace {

// True when the entry is a regular file; a link is not one, whatever it
// points to. Uses the type readdir reports, and lstat only when it reports
// none.
bool is_regular_file(DIR* d, const struct dirent* e) {
    if (e->d_type != DT_UNKNOWN) return e->d_type == DT_REG;
    struct stat st;
    return fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// Visits every regular file that is not a link; true when readdir reached
// the end without error.
bool plat_list_files(const char* dir, plat_visit_f visit, void* ctx) {
    if (!plat_path_usable(dir) || !visit || plat_fault_injected(PLAT_CALL_LIST)) return false;
    DIR* d = opendir(dir);
    if (!d) return false;
    for (;;) {
        errno = 0;
        struct dirent* e = readdir(d);
        if (!e) break;
        if (is_regular_file(d, e)) visit(e->d_name, ctx);
    }
    const int err = errno;
    closedir(d);
    errno = err;
    return err == 0;
}
