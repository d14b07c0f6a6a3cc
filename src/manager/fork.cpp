// The trace manager around fork(): the forking thread holds every library
// lock while the process is copied, so that the child finds none of them
// taken by a thread that does not exist there, and the child's registry
// keeps only the thread that forked.
#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"

void trace_manager_c::_rule_lists(rule_lists_e what) {
    ptr_list_c* lists[] = {&config->module_ranks, &config->file_ranks, &config->class_ranks,
                           &config->function_ranks, &config->thread_ranks};
    const int n = static_cast<int>(sizeof lists / sizeof lists[0]);
    for (int i = 0; i < n; ++i) {
        ptr_list_c* list = lists[what == LISTS_ENTER ? i : n - 1 - i];
        if (!list->cs()) continue;
        if (what == LISTS_ENTER)
            list->cs()->enter();
        else if (what == LISTS_LEAVE)
            list->cs()->leave();
        else
            list->cs()->reset_in_child();
    }
}

void trace_manager_c::before_fork() {
    fork_locked_ = false;
    if (plat_thread_busy()) return;
    update_cs_.enter();
    lock_.lock_write();
    if (threads->cs()) threads->cs()->enter();
    _rule_lists(LISTS_ENTER);
    box.before_fork();
    fork_locked_ = true;
}

void trace_manager_c::after_fork_in_parent() {
    if (!fork_locked_) return;
    fork_locked_ = false;
    box.after_fork_in_parent();
    _rule_lists(LISTS_LEAVE);
    if (threads->cs()) threads->cs()->leave();
    lock_.unlock_write();
    update_cs_.leave();
}

void trace_manager_c::after_fork_in_child() {
    if (!fork_locked_) return;
    fork_locked_ = false;
    _rule_lists(LISTS_RESET);
    update_cs_.reset_in_child();
    box.forget_in_child();
    if (_is_published()) _publish_flags();
    // Lines other threads had queued belong to threads the child does not
    // have, and a writer chosen among them never comes: the child starts
    // with an empty queue and no writer.
    pending_.store(nullptr, std::memory_order_relaxed);
    leading_.store(false, std::memory_order_relaxed);
    waiters_.store(0, std::memory_order_relaxed);
    // Still holding the registry (and the writer lock): keep the forking
    // thread's record under its new id, free the records of threads that
    // were not copied.
    thread_trace_s* mine = has_tls ? static_cast<thread_trace_s*>(plat_tls_get(tls_index)) : nullptr;
    for (void* e = threads->first(); e;) {
        thread_trace_s* r = static_cast<thread_trace_s*>(e);
        if (r == mine) {
            e = threads->next();
            continue;
        }
        threads->remove_current();
        _destroy_record(r);
        e = threads->first();
    }
    thread_trace_s* kept = nullptr;  // the forking thread's record, when it was removed
    while (thread_trace_s* r = retired) {
        retired = r->retired_next;
        if (r == mine)
            kept = r;
        else
            _destroy_record(r);
    }
    if (kept) kept->retired_next = nullptr;
    retired = kept;
    if (mine) _fill_identity(mine);
    // The thread that may have owned the log writer's retry is gone.
    logger->retrying = false;
    if (threads->cs()) threads->cs()->reset_in_child();
    lock_.reset_in_child();
}

namespace {

// The manager that took its locks before the fork in progress.
trace_manager_c* g_forking = nullptr;

void fork_prepare() {
    g_forking = katr_manager();
    if (g_forking) g_forking->before_fork();
}

void fork_parent() {
    if (g_forking) g_forking->after_fork_in_parent();
    g_forking = nullptr;
}

void fork_child() {
    if (g_forking) g_forking->after_fork_in_child();
    g_forking = nullptr;
}

}  // namespace

void katr_register_fork_handlers() {
    plat_on_fork(fork_prepare, fork_parent, fork_child);
}
