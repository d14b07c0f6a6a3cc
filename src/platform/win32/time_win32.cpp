// Wall-clock time, its local breakdown, and sleeping.
#include "platform/win32/win32_util.h"

#include <ctime>

long long plat_time() {
    return static_cast<long long>(_time64(nullptr));
}

// Milliseconds since the system started.
unsigned long long plat_clock_ms() {
    return static_cast<unsigned long long>(GetTickCount64());
}

bool plat_localtime(long long t, struct tm* out) {
    if (!out) return false;
    const __time64_t tt = static_cast<__time64_t>(t);
    return _localtime64_s(out, &tt) == 0;
}

void plat_sleep_ms(unsigned ms) {
    Sleep(ms);
}
