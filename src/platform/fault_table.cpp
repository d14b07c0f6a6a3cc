// The fault hooks that tests install; empty in normal runs.
#include "platform/fault_table.h"

std::atomic<plat_fault_hook_f> g_plat_fault_hooks[PLAT_CALL_COUNT];

// Stores the hook; an out-of-range call is ignored.
void plat_set_fault_hook(plat_call_e call, plat_fault_hook_f hook) {
    if (call < 0 || call >= PLAT_CALL_COUNT) return;
    g_plat_fault_hooks[call].store(hook, std::memory_order_relaxed);
}
