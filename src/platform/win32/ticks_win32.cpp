// The fine clock: QueryPerformanceCounter and its frequency, and the wall
// clock in nanoseconds (FILETIME counts 100 ns since 1601).
#include "platform/win32/win32_util.h"

uint64_t plat_ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

uint64_t plat_tick_rate() {
    LARGE_INTEGER rate;
    if (!QueryPerformanceFrequency(&rate) || rate.QuadPart <= 0) return 1;
    return static_cast<uint64_t>(rate.QuadPart);
}

uint64_t plat_wall_ns() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const uint64_t since_1601 = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const uint64_t epoch_offset = 116444736000000000ull;  // 1601 to 1970 in 100 ns
    return since_1601 < epoch_offset ? 0 : (since_1601 - epoch_offset) * 100u;
}
