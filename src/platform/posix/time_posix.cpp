// Wall-clock time, its local breakdown, and sleeping.
#include "platform/platform.h"

#include <cerrno>
#include <ctime>

long long plat_time() {
    return static_cast<long long>(time(nullptr));
}

// CLOCK_MONOTONIC, which no change of the wall clock moves.
unsigned long long plat_clock_ms() {
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return static_cast<unsigned long long>(now.tv_sec) * 1000u + static_cast<unsigned long long>(now.tv_nsec) / 1000000u;
}

// localtime_r: thread-safe, respects the TZ setting.
bool plat_localtime(long long t, struct tm* out) {
    if (!out) return false;
    const time_t tt = static_cast<time_t>(t);
    return localtime_r(&tt, out) != nullptr;
}

// nanosleep, resumed with the remaining time after a signal.
void plat_sleep_ms(unsigned ms) {
    struct timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
