// Faults injected into the platform layer's system calls for the life of
// an object: after `skip` calls that run normally, the next `times` calls
// (-1: every one) fail with `fault`; a `cap` lets each write write at most
// that many bytes.
#ifndef KATR_TEST_FAULT_H
#define KATR_TEST_FAULT_H

#include <atomic>
#include <cstddef>

#include "platform/platform.h"

struct injected_s {
    std::atomic<int> skip{0}, times{0}, calls{0};
    std::atomic<plat_fault_e> fault{PLAT_FAULT_NONE};
    std::atomic<size_t> cap{0};
};
inline injected_s g_injected[PLAT_CALL_COUNT];

inline plat_fault_e injected_hook(plat_call_e call, size_t* size) {
    injected_s& s = g_injected[call];
    s.calls.fetch_add(1);
    if (size && s.cap.load() != 0 && *size > s.cap.load()) *size = s.cap.load();
    if (s.skip.load() > 0 && s.skip.fetch_sub(1) > 0) return PLAT_FAULT_NONE;
    const int times = s.times.load();
    if (times == 0) return PLAT_FAULT_NONE;
    if (times > 0 && s.times.fetch_sub(1) <= 0) return PLAT_FAULT_NONE;
    return s.fault.load();
}

class fault_c {
public:
    explicit fault_c(plat_call_e call, plat_fault_e fault, int times = -1, int skip = 0, size_t cap = 0) : call_(call) {
        injected_s& s = g_injected[call];
        s.skip = skip, s.times = times, s.calls = 0, s.fault = fault, s.cap = cap;
        plat_set_fault_hook(call, &injected_hook);
    }
    ~fault_c() { clear(); }
    fault_c(const fault_c&) = delete;
    fault_c& operator=(const fault_c&) = delete;
    // Restores the real calls before the object ends.
    void clear() { plat_set_fault_hook(call_, nullptr); }
    // How often the hook was asked.
    int calls() const { return g_injected[call_].calls.load(); }

private:
    plat_call_e call_;
};

// The code plat_last_error reports for an injected fault.
#if defined(_WIN32)
const unsigned long ERR_NO_SPACE = 112, ERR_TOO_MANY_FILES = 4, ERR_ACCESS_DENIED = 5;
#else
const unsigned long ERR_NO_SPACE = 28, ERR_TOO_MANY_FILES = 24, ERR_ACCESS_DENIED = 13;
#endif

#endif
