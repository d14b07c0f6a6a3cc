// Load notifications of the library: process attach creates the manager and
// publishes it in the global pointer, thread attach and detach register and
// release per-thread records, process detach takes the manager down.
#include <new>

#include "manager/trace_manager.h"
#include "platform/platform.h"

namespace {

// Managers taken out of service at process detach while other threads may
// still be inside them (see katr_on_process_detach). They stay reachable
// from here for the rest of the process.
struct unpublished_s {
    trace_manager_c* manager;
    unpublished_s* next;
};
unpublished_s* g_unpublished = nullptr;

}  // namespace

void katr_on_process_attach() {
    if (katr_manager()) return;
    trace_manager_c* m = new (std::nothrow) trace_manager_c;
    if (m && !m->ok()) {
        delete m;
        m = nullptr;
    }
    g_katr_manager.store(m, std::memory_order_release);
}

void katr_on_process_detach() {
    trace_manager_c* m = g_katr_manager.exchange(nullptr, std::memory_order_acq_rel);
    if (!m) return;
    if (PLAT_DETACH_AFTER_THREADS) {
        // Windows sends process detach after every other thread of an
        // exiting process has stopped (or, for an unload, when the host is
        // done with the library): nobody can be inside the manager any more.
        delete m;
        return;
    }
    // The ELF destructor runs from exit() while other threads still run and
    // may have read the global pointer a moment ago. New calls now find no
    // manager; calls in flight keep a working one (its log file stays open
    // until the process ends, so their lines still arrive). Its threads'
    // records are still released by the thread-exit hook of its slot.
    m->withdraw_generation();
    unpublished_s* node = new (std::nothrow) unpublished_s{m, g_unpublished};
    if (node) g_unpublished = node;
}

void katr_on_thread_attach() {
    if (trace_manager_c* m = katr_manager()) m->on_thread_attach();
}

void katr_on_thread_detach() {
    if (trace_manager_c* m = katr_manager()) m->on_thread_detach();
}
