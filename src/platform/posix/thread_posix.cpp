// Threads started by the library's companions: pthreads with every signal
// blocked and a name of their own.
#include "platform/platform.h"

#include <csignal>
#include <cstdio>
#include <new>
#include <pthread.h>

namespace {

struct start_s {
    void (*fn)(void*);
    void* arg;
    char name[16];
};

void* run(void* p) {
    start_s start = *static_cast<start_s*>(p);
    delete static_cast<start_s*>(p);
    if (start.name[0]) pthread_setname_np(pthread_self(), start.name);
    start.fn(start.arg);
    return nullptr;
}

}  // namespace

plat_thread_t plat_thread_start(void (*fn)(void*), void* arg, const char* name) {
    if (!fn) return PLAT_NO_THREAD;
    start_s* start = new (std::nothrow) start_s;
    if (!start) return PLAT_NO_THREAD;
    start->fn = fn;
    start->arg = arg;
    snprintf(start->name, sizeof start->name, "%s", name ? name : "");
    // The new thread inherits the signal mask in force while it is created.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t t;
    const int rc = pthread_create(&t, nullptr, run, start);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (rc != 0) {
        delete start;
        return PLAT_NO_THREAD;
    }
    static_assert(sizeof(pthread_t) <= sizeof(plat_thread_t), "pthread_t fits a handle");
    return static_cast<plat_thread_t>(t);
}

void plat_thread_join(plat_thread_t t) {
    if (t != PLAT_NO_THREAD) pthread_join(static_cast<pthread_t>(t), nullptr);
}
