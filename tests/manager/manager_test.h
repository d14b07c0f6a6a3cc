// Helpers shared by the manager tests.
#ifndef KATR_TEST_MANAGER_TEST_H
#define KATR_TEST_MANAGER_TEST_H

#include <string>
#include <thread>
#include <utility>

#include "manager/trace_manager.h"
#include "support/tr_stream.h"

// Runs fn on a new thread framed by the thread notifications, as the
// library's entry point sends them on Windows (POSIX has no attach; its
// detach comes from the slot's exit hook, which an explicit detach pre-empts).
template <class F>
std::thread managed_thread(trace_manager_c& m, F fn) {
    return std::thread([&m, fn = std::move(fn)]() mutable {
        m.on_thread_attach();
        fn();
        m.on_thread_detach();
    });
}

inline std::string threads_report(trace_manager_c& m) {
    tr_stream_c out;
    m.print_threads(out);
    return out.c_str();
}

inline std::string stack_report(trace_manager_c& m, unsigned long id) {
    tr_stream_c out;
    m.print_stack(out, id);
    return out.c_str();
}

inline unsigned registered(trace_manager_c& m) {
    m.threads->lock();
    unsigned n = m.threads->num();
    m.threads->unlock();
    return n;
}

#endif
