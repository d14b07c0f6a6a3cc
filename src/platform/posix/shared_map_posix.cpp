// A file mapped shared and writable (the black box): created or emptied,
// sized with its blocks reserved, and mapped whole with MAP_SHARED.
#include "platform/platform.h"
#include "platform/posix/entry_posix.h"
#include "platform/posix/fault_posix.h"
#include "platform/posix/path_limit_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// The file is opened as the log is (plat_open_regular), emptied so that an earlier content never shows through, then
// grown with ftruncate and its blocks reserved with posix_fallocate: a
// store into a page that the file system cannot back would raise SIGBUS in
// the host, so a full disk must fail here instead.
bool plat_map_shared(const char* path, unsigned long long size, plat_shared_map_s* m) {
    if (!m) return false;
    m->data = nullptr;
    m->size = 0;
    m->os_handle = -1;
    m->os_extra = 0;
    if (size == 0 || size > static_cast<unsigned long long>(PTRDIFF_MAX) || static_cast<off_t>(size) < 0) {
        errno = EINVAL;
        return false;
    }
    const int fd = plat_open_regular(path, O_RDWR, PLAT_CALL_MAP_SHARED);
    if (fd < 0) return false;
    int err = 0;
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)
        err = errno;
    else
        err = posix_fallocate(fd, 0, static_cast<off_t>(size));
    void* p = MAP_FAILED;
    if (err == 0) {
        p = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) err = errno;
    }
    if (err != 0) {
        close(fd);
        errno = err;
        return false;
    }
    m->data = static_cast<unsigned char*>(p);
    m->size = static_cast<size_t>(size);
    m->os_handle = fd;
    return true;
}

void plat_unmap_shared(plat_shared_map_s* m) {
    if (!m) return;
    if (m->data) munmap(m->data, m->size);
    if (m->os_handle >= 0 && m->data) close(static_cast<int>(m->os_handle));
    m->data = nullptr;
    m->size = 0;
    m->os_handle = -1;
}
