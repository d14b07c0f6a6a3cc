// Waiting on a word: the futex.
#include <cerrno>
#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

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
    __asm__ __volatile__("" ::
                             : "memory");
#endif
}
