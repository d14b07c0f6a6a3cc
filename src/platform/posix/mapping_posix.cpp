// Read-only view of a whole file followed by a NUL byte. The bytes after
// the end of a file in its last page read as zero; when the file ends
// exactly on a page boundary, the view is placed over an anonymous region
// one page longer, whose extra page supplies the NUL.
#include "platform/platform.h"
#include "platform/posix/path_limit_posix.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What backs a mapping, kept in plat_mapping_s::os_handle.
enum map_kind { MAP_KIND_NONE = 0, MAP_KIND_EMPTY, MAP_KIND_MMAP, MAP_KIND_HEAP };

char g_empty_text[1] = {0};

// Maps size bytes of fd with a readable zero byte behind them; the length
// to unmap goes to *length. Null on failure.
void* map_with_terminator(int fd, size_t size, size_t* length) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (size % page != 0) {
        *length = size;
        void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    *length = size + page;
    void* region = mmap(nullptr, *length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return nullptr;
    if (mmap(region, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
        munmap(region, *length);
        return nullptr;
    }
    return region;
}

// Reads the whole file into a heap buffer with a NUL behind it, for files
// that cannot be mapped; *size becomes the count actually read (the file
// may have shrunk meanwhile). Null on failure.
char* read_with_terminator(int fd, size_t* size) {
    char* buf = static_cast<char*>(malloc(*size + 1));
    if (!buf) return nullptr;
    size_t done = 0;
    while (done < *size) {
        ssize_t n = pread(fd, buf + done, *size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    buf[done] = 0;
    *size = done;
    return buf;
}

}  // namespace

// Opens, sizes and maps the file; the descriptor is closed in every case.
bool plat_map_file(const char* path, plat_mapping_s* m) {
    if (!m) return false;
    *m = plat_mapping_s{nullptr, 0, nullptr, nullptr};
    if (!plat_path_usable(path)) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || st.st_size < 0) {
        close(fd);
        return false;
    }
    size_t size = static_cast<size_t>(st.st_size);
    size_t length = 0;
    if (size == 0) {
        m->data = g_empty_text;
        m->os_handle = reinterpret_cast<void*>(MAP_KIND_EMPTY);
    } else if (void* view = map_with_terminator(fd, size, &length)) {
        m->data = static_cast<const char*>(view);
        m->os_handle = reinterpret_cast<void*>(MAP_KIND_MMAP);
        m->os_extra = reinterpret_cast<void*>(length);
    } else if (char* buf = read_with_terminator(fd, &size)) {
        m->data = buf;
        m->os_handle = reinterpret_cast<void*>(MAP_KIND_HEAP);
    }
    close(fd);
    if (!m->data) return false;
    m->size = size;
    return true;
}

// Releases whatever backs the mapping and leaves it empty.
void plat_unmap_file(plat_mapping_s* m) {
    if (!m || !m->data) return;
    switch (reinterpret_cast<intptr_t>(m->os_handle)) {
    case MAP_KIND_MMAP:
        munmap(const_cast<char*>(m->data), reinterpret_cast<size_t>(m->os_extra));
        break;
    case MAP_KIND_HEAP:
        free(const_cast<char*>(m->data));
        break;
    default:
        break;
    }
    *m = plat_mapping_s{nullptr, 0, nullptr, nullptr};
}
