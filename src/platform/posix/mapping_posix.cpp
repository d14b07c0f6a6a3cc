// The whole of a file read into memory with a NUL byte behind it. The POSIX
// backend reads rather than maps: a mapped file that another process
// truncates while it is parsed would raise SIGBUS in the reader, whereas a
// read sees the bytes that were there, however the file changes meanwhile.
#include "platform/platform.h"
#include "platform/posix/fault_posix.h"
#include "platform/posix/path_limit_posix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads the file to its end into a heap buffer that grows as needed (the
// size from fstat is only the first guess: the file may grow or shrink
// while it is read), with a NUL behind the bytes; *size becomes the count
// read. Null on failure.
char* read_whole(int fd, size_t guess, size_t* size) {
    size_t capacity = guess + 1 < 4096 ? 4096 : guess + 1;
    char* buf = static_cast<char*>(malloc(capacity));
    if (!buf) return nullptr;
    size_t done = 0;
    for (;;) {
        if (done + 1 >= capacity) {
            if (capacity > (static_cast<size_t>(-1) >> 2)) break;
            char* grown = static_cast<char*>(realloc(buf, capacity * 2));
            if (!grown) {
                free(buf);
                return nullptr;
            }
            buf = grown;
            capacity *= 2;
        }
        ssize_t n = read(fd, buf + done, capacity - 1 - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            free(buf);
            return nullptr;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    buf[done] = 0;
    *size = done;
    return buf;
}

}  // namespace

// Opens (without blocking on a FIFO), checks for a regular file and reads it;
// the descriptor is closed in every case.
bool plat_map_file(const char* path, plat_mapping_s* m) {
    if (!m) return false;
    *m = plat_mapping_s{nullptr, 0, nullptr, nullptr};
    if (!plat_path_usable(path) || plat_fault_injected(PLAT_CALL_MAP)) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    const bool stated = fstat(fd, &st) == 0;
    if (!stated || !S_ISREG(st.st_mode) || st.st_size < 0) {
        const int code = stated ? EINVAL : errno;
        close(fd);
        errno = code;
        return false;
    }
    size_t size = 0;
    char* data = read_whole(fd, static_cast<size_t>(st.st_size), &size);
    const int saved = errno;
    close(fd);
    errno = saved;
    if (!data) return false;
    m->data = data;
    m->size = size;
    return true;
}

// The file is read, never mapped, so a writer changes nothing under us.
bool plat_read_live_file(const char* path, plat_mapping_s* m) { return plat_map_file(path, m); }

// Frees the buffer and leaves the view empty.
void plat_unmap_file(plat_mapping_s* m) {
    if (!m || !m->data) return;
    free(const_cast<char*>(m->data));
    *m = plat_mapping_s{nullptr, 0, nullptr, nullptr};
}
