// The path length limit of the platform layer: paths longer than the
// library's path buffers (PLAT_MAX_PATH) are refused before any system call.
#ifndef KATRACE_PATH_LIMIT_POSIX_H
#define KATRACE_PATH_LIMIT_POSIX_H

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

const size_t PLAT_MAX_PATH_BYTES = PLAT_MAX_PATH;

// True for a non-null path of at most PLAT_MAX_PATH_BYTES bytes; otherwise
// errno says why (EINVAL for null, ENAMETOOLONG for too long).
inline bool plat_path_usable(const char* path) {
    if (!path) {
        errno = EINVAL;
        return false;
    }
    if (strnlen(path, PLAT_MAX_PATH_BYTES + 1) > PLAT_MAX_PATH_BYTES) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

#endif
