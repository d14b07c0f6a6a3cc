// The fine clock: the time-stamp counter (read inline, see platform.h), its
// rate measured against CLOCK_MONOTONIC, and the wall clock in nanoseconds.
#include "platform/platform.h"

#include <atomic>
#include <ctime>

namespace {

uint64_t clock_ns(clockid_t id) {
    struct timespec now;
    if (clock_gettime(id, &now) != 0) return 0;
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

// A counter value and the monotonic time read beside it. Over the 20 ms of
// the rate's measurement, a bracket widened by a preemption skewed the rate
// by tens of percent: hence the narrowest of a few.
void pair_now(uint64_t* ticks, uint64_t* ns) { *ns = plat_ticks_beside([] { return clock_ns(CLOCK_MONOTONIC); }, ticks); }

std::atomic<uint64_t> g_rate{0};

}  // namespace

#if !(defined(__x86_64__) && !defined(_WIN32))
uint64_t plat_ticks() { return clock_ns(CLOCK_MONOTONIC); }
#endif

// Measured once per process over 20 ms (two threads racing here both
// measure; either result is as good). Off x86-64 the counter is the
// monotonic clock itself.
uint64_t plat_tick_rate() {
#if !defined(__x86_64__)
    return 1000000000u;
#else
    uint64_t rate = g_rate.load(std::memory_order_relaxed);
    if (rate != 0) return rate;
    uint64_t t0, n0, t1, n1;
    pair_now(&t0, &n0);
    do pair_now(&t1, &n1);
    while (n1 - n0 < 20000000u && n1 >= n0);
    rate = n1 > n0 && t1 > t0 ? static_cast<uint64_t>(static_cast<double>(t1 - t0) * 1e9 / static_cast<double>(n1 - n0)) : 1000000000u;
    g_rate.store(rate, std::memory_order_relaxed);
    return rate;
#endif
}

uint64_t plat_wall_ns() { return clock_ns(CLOCK_REALTIME); }
