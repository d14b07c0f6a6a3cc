// fork handling: one set of pthread_atfork handlers for the whole library.
// Before a fork the forking thread takes the library's locks (through the
// functions registered with plat_on_fork, in the library's lock order) and
// then the backend's own leaf lock; after it both processes release them in
// reverse order. The child first forgets the thread id cached for the
// parent's thread, so that everything after sees its own.
#include "platform/posix/fork_posix.h"
#include "platform/platform.h"

#include <atomic>
#include <pthread.h>

namespace {

struct fork_hooks_s {
    void (*prepare)();
    void (*parent)();
    void (*child)();
};

std::atomic<fork_hooks_s*> g_hooks{nullptr};
fork_hooks_s g_storage;
std::atomic<bool> g_claimed{false};

void before_fork() {
    fork_hooks_s* h = g_hooks.load(std::memory_order_acquire);
    if (h && h->prepare) h->prepare();
    posix_debug_output_before_fork();
}

void after_fork_in_parent() {
    posix_debug_output_after_fork();
    fork_hooks_s* h = g_hooks.load(std::memory_order_acquire);
    if (h && h->parent) h->parent();
}

void after_fork_in_child() {
    posix_forget_thread_id();
    posix_debug_output_after_fork();
    fork_hooks_s* h = g_hooks.load(std::memory_order_acquire);
    if (h && h->child) h->child();
}

}  // namespace

// pthread_atfork once; a library that is never unloaded keeps its handlers
// valid for the life of the process.
void posix_install_fork_handlers() {
    static const int installed = pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);
    (void)installed;
}

// The first registration wins; the handlers run from then on.
bool plat_on_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
    posix_install_fork_handlers();
    bool expected = false;
    if (!g_claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return true;
    g_storage = fork_hooks_s{prepare, parent, child};
    g_hooks.store(&g_storage, std::memory_order_release);
    return true;
}
