// Gathered appends and waiting on a word: writev and the futex.
#include <cerrno>
#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

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
            ssize_t written = writev(static_cast<int>(f), cur, n);
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

// FUTEX_WAIT on a private word with a relative timeout.
void plat_wait_word(const unsigned* word, unsigned expected, unsigned timeout_ms) {
    struct timespec limit;
    limit.tv_sec = timeout_ms / 1000;
    limit.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1000000L;
    const int saved = errno;
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, &limit, nullptr, 0);
    errno = saved;
}

// FUTEX_WAKE of every waiter.
void plat_wake_word_all(const unsigned* word) {
    const int saved = errno;
    syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    errno = saved;
}

// PAUSE on x86, a compiler barrier elsewhere.
void plat_spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    __asm__ __volatile__("" ::: "memory");
#endif
}
