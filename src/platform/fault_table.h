// The table of fault hooks behind plat_set_fault_hook, read by both
// backends before each system call that a test may make fail.
#ifndef KATRACE_FAULT_TABLE_H
#define KATRACE_FAULT_TABLE_H

#include <atomic>

#include "platform/compiler.h"
#include "platform/platform.h"

extern std::atomic<plat_fault_hook_f> g_plat_fault_hooks[PLAT_CALL_COUNT];

// The fault a test wants for this call, PLAT_FAULT_NONE without a hook. In
// normal runs this is one load and one branch that is never taken.
inline plat_fault_e plat_fault_for(plat_call_e call, size_t* size) {
    const plat_fault_hook_f hook = g_plat_fault_hooks[call].load(std::memory_order_relaxed);
    if (KATR_LIKELY(hook == nullptr)) return PLAT_FAULT_NONE;
    return hook(call, size);
}

#endif
