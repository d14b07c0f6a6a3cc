// katr_api_call: the body of an exported function, run so that nothing it
// does can hurt the host. It does not run at all when the calling thread is
// busy inside the library (the call came from a signal handler or a hook
// that interrupted the library on this thread, which may hold a lock the
// body would take), and no exception it raises reaches the host.
#ifndef KATRACE_API_CALL_H
#define KATRACE_API_CALL_H

#include "platform/platform.h"

// Marks the calling thread busy for its lifetime (see plat_busy_enter): a
// region that changes the thread's own state outside any lock.
class busy_region_c {
public:
    busy_region_c() { plat_busy_enter(); }
    ~busy_region_c() { plat_busy_leave(); }
    busy_region_c(const busy_region_c&) = delete;
    busy_region_c& operator=(const busy_region_c&) = delete;
};

// Restores the thread's last error code at scope exit when something in
// between (a system or heap call) changed it.
class last_error_keeper_c {
public:
    last_error_keeper_c() : saved_(plat_last_error()) {}
    ~last_error_keeper_c() {
        if (plat_last_error() != saved_) plat_set_last_error(saved_);
    }
    last_error_keeper_c(const last_error_keeper_c&) = delete;
    last_error_keeper_c& operator=(const last_error_keeper_c&) = delete;
private:
    unsigned long saved_;
};

// The body's result, or fallback when the body did not run or threw.
template <class R, class F>
R katr_api_call(R fallback, F&& body) noexcept {
    if (plat_thread_busy()) return fallback;
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

// The same for a body without a result.
template <class F>
void katr_api_run(F&& body) noexcept {
    if (plat_thread_busy()) return;
    try {
        body();
    } catch (...) {
    }
}

#endif
