// Threads started by the library's companions: _beginthreadex, so that the
// C runtime knows the thread.
#include "platform/win32/win32_util.h"

#include <new>
#include <process.h>

namespace {

struct start_s {
    void (*fn)(void*);
    void* arg;
};

unsigned __stdcall run(void* p) {
    const start_s start = *static_cast<start_s*>(p);
    delete static_cast<start_s*>(p);
    start.fn(start.arg);
    return 0;
}

}  // namespace

// The module holding fn is pinned: unloading it while its thread runs would
// pull the code from under the thread. (The name is not given to Windows:
// SetThreadDescription is missing on older systems and under Wine.)
plat_thread_t plat_thread_start(void (*fn)(void*), void* arg, const char* name) {
    (void)name;
    if (!fn) return PLAT_NO_THREAD;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(fn)), &module);
    start_s* start = new (std::nothrow) start_s;
    if (!start) return PLAT_NO_THREAD;
    start->fn = fn;
    start->arg = arg;
    const uintptr_t h = _beginthreadex(nullptr, 0, run, start, 0, nullptr);
    if (h == 0) {
        delete start;
        return PLAT_NO_THREAD;
    }
    return static_cast<plat_thread_t>(h);
}

void plat_thread_join(plat_thread_t t) {
    if (t == PLAT_NO_THREAD) return;
    const HANDLE h = reinterpret_cast<HANDLE>(t);
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
}
