// The running executable: its image in memory and its path.
#include "platform/platform.h"

#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <unistd.h>

namespace {

// The first page of the executable file, read once when the image's header
// cannot be found in memory.
unsigned char g_exe_header[4096];

const unsigned char* read_exe_header() {
    int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    ssize_t n = pread(fd, g_exe_header, sizeof g_exe_header, 0);
    close(fd);
    return n >= SELFMAG ? g_exe_header : nullptr;
}

// The ELF header of the executable: its program headers lie in its first
// loaded page, which starts with the ELF header.
const unsigned char* find_exe_image() {
    const uintptr_t phdr = static_cast<uintptr_t>(getauxval(AT_PHDR));
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    if (phdr != 0 && page != 0) {
        const unsigned char* base = reinterpret_cast<const unsigned char*>(phdr & ~(page - 1));
        if (memcmp(base, ELFMAG, SELFMAG) == 0) return base;
    }
    return read_exe_header();
}

}  // namespace

// Found once; an ELF image never carries the DOS and PE signatures.
const unsigned char* plat_exe_image() {
    static const unsigned char* image = find_exe_image();
    return image;
}

// readlink of /proc/self/exe; false (buf empty) when it fails or does not fit.
bool plat_exe_path(char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    ssize_t n = readlink("/proc/self/exe", buf, size);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        buf[0] = 0;
        return false;
    }
    buf[n] = 0;
    return true;
}
