// The log file: opened for appending, written in whole pieces, closed.
#include "platform/platform.h"
#include "platform/posix/entry_posix.h"
#include "platform/posix/fault_posix.h"
#include "platform/posix/path_limit_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

int plat_open_regular(const char* path, int access, plat_call_e call) {
    if (!plat_path_usable(path)) return -1;
    struct stat st;
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = plat_not_regular_error(st.st_mode);
        return -1;
    }
    int fd;
    do {
        fd = plat_fault_injected(call) ? -1 : open(path, access | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    int err = 0;
    if (fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = plat_not_regular_error(st.st_mode);
    if (err != 0) {
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// O_APPEND puts every write at the current end, also when another process
// appends to the same file; O_CLOEXEC keeps the descriptor from children.
// The file is opened as plat_open_regular opens it, then made blocking
// again. An exclusive advisory lock marks the file as in use: other
// processes scanning the same directory do not move or delete it, and a
// second writer is refused with EBUSY (as Windows refuses both while the
// file is open), so that no two writers share one file and its size.
plat_file_t plat_file_open_append(const char* path) {
    const int fd = plat_open_regular(path, O_WRONLY | O_APPEND, PLAT_CALL_OPEN);
    if (fd < 0) return PLAT_NO_FILE;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return PLAT_NO_FILE;
    }
    // File systems without flock leave the file unmarked but usable.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        errno = EBUSY;
        return PLAT_NO_FILE;
    }
    return static_cast<plat_file_t>(fd);
}

// The size from fstat; -1 for a bad handle.
long long plat_file_size(plat_file_t f) {
    struct stat st;
    if (f < 0 || fstat(static_cast<int>(f), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

// Writes until every byte is out, resuming after partial writes and signals.
bool plat_file_write(plat_file_t f, const void* data, size_t size) {
    if (f < 0 || (!data && size != 0)) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const struct iovec piece = {const_cast<char*>(p), size};
        ssize_t n = plat_sys_writev(static_cast<int>(f), &piece, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // a zero-byte write would never finish
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// writev over groups of at most PLAT_MAX_PIECES pieces; a partial write
// continues with the rest of the piece it stopped in.
bool plat_file_write_pieces(plat_file_t f, const plat_piece_s* pieces, size_t count) {
    if (f < 0 || (!pieces && count != 0)) return false;
    struct iovec iov[PLAT_MAX_PIECES];
    size_t next = 0;
    while (next < count) {
        int n = 0;
        for (; next < count && n < static_cast<int>(PLAT_MAX_PIECES); ++next) {
            if (pieces[next].size == 0) continue;
            if (!pieces[next].data) return false;
            iov[n++] = {const_cast<void*>(pieces[next].data), pieces[next].size};
        }
        struct iovec* cur = iov;
        while (n > 0) {
            ssize_t written = plat_sys_writev(static_cast<int>(f), cur, n);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            size_t done = static_cast<size_t>(written);
            while (n > 0 && done >= cur->iov_len) {
                done -= cur->iov_len;
                ++cur;
                --n;
            }
            if (n > 0) {
                cur->iov_base = static_cast<char*>(cur->iov_base) + done;
                cur->iov_len -= done;
            }
        }
    }
    return true;
}

// One writev for both pieces, so that they reach the file together.
bool plat_file_write2(plat_file_t f, const void* a, size_t a_size, const void* b, size_t b_size) {
    if ((!a && a_size != 0) || (!b && b_size != 0)) return false;
    const plat_piece_s pieces[2] = {{a, a_size}, {b, b_size}};
    return plat_file_write_pieces(f, pieces, 2);
}

// Asks the hook with the total size; a lowered size writes the pieces cut
// to it, so that the caller sees a short write.
ssize_t plat_hooked_writev(plat_fault_hook_f hook, int fd, const struct iovec* iov, int count) {
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += iov[i].iov_len;
    size_t allowed = total;
    const plat_fault_e fault = hook(PLAT_CALL_WRITE, &allowed);
    if (fault != PLAT_FAULT_NONE) {
        errno = plat_fault_errno(fault);
        return -1;
    }
    if (allowed == 0 || allowed >= total) return writev(fd, iov, count);
    struct iovec cut[2];
    int n = 0;
    for (int i = 0; i < count && n < 2 && allowed > 0; ++i, ++n) {
        cut[n] = iov[i];
        if (cut[n].iov_len > allowed) cut[n].iov_len = allowed;
        allowed -= cut[n].iov_len;
    }
    return writev(fd, cut, n);
}

// Closes the descriptor; invalid ones are ignored.
void plat_file_close(plat_file_t f) {
    if (f >= 0) close(static_cast<int>(f));
}
