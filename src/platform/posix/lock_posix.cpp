// Locks over pthread_rwlock_t and a recursive pthread_mutex_t, and the
// per-thread count of regions that must not be entered again on the same
// thread. No function here throws or reports failure after creation.
#include "platform/platform.h"

#include <cstdlib>
#include <new>
#include <pthread.h>

struct plat_rwlock_s {
    pthread_rwlock_t rw;
};

struct plat_mutex_s {
    pthread_mutex_t mu;
};

namespace {

// Regions of the calling thread that are busy (locks held or being taken).
// Counted on every lock and scope-stack change, so it sits in the static TLS
// block (initial-exec: one instruction to reach, no __tls_get_addr call);
// the few bytes come from the surplus the loader keeps for libraries loaded
// later.
__attribute__((tls_model("initial-exec"))) thread_local unsigned t_busy = 0;

}  // namespace

namespace {

// A writer waiting for the lock goes before new readers (glibc), so that a
// stream of rank queries never starves line writers or a fork.
int init_rwlock(pthread_rwlock_t* rw) {
    pthread_rwlockattr_t attr;
    pthread_rwlockattr_init(&attr);
#if defined(__GLIBC__)
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
#endif
    int rc = pthread_rwlock_init(rw, &attr);
    pthread_rwlockattr_destroy(&attr);
    return rc;
}

int init_recursive_mutex(pthread_mutex_t* mu) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(mu, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc;
}

}  // namespace

plat_rwlock_s* plat_rwlock_create() {
    plat_rwlock_s* l = static_cast<plat_rwlock_s*>(malloc(sizeof(plat_rwlock_s)));
    if (l && init_rwlock(&l->rw) != 0) {
        free(l);
        return nullptr;
    }
    return l;
}

// Destroys an unheld lock; null is ignored.
void plat_rwlock_destroy(plat_rwlock_s* l) {
    if (!l) return;
    pthread_rwlock_destroy(&l->rw);
    free(l);
}

// Shared hold; the thread counts as busy from before the wait.
void plat_rwlock_read(plat_rwlock_s* l) {
    plat_busy_enter();
    pthread_rwlock_rdlock(&l->rw);
}

void plat_rwlock_read_unlock(plat_rwlock_s* l) {
    pthread_rwlock_unlock(&l->rw);
    plat_busy_leave();
}

// Exclusive hold; the thread counts as busy from before the wait.
void plat_rwlock_write(plat_rwlock_s* l) {
    plat_busy_enter();
    pthread_rwlock_wrlock(&l->rw);
}

void plat_rwlock_write_unlock(plat_rwlock_s* l) {
    pthread_rwlock_unlock(&l->rw);
    plat_busy_leave();
}

// A recursive mutex: the holder may enter again.
plat_mutex_s* plat_mutex_create() {
    plat_mutex_s* m = static_cast<plat_mutex_s*>(malloc(sizeof(plat_mutex_s)));
    if (m && init_recursive_mutex(&m->mu) != 0) {
        free(m);
        return nullptr;
    }
    return m;
}

// Destroys an unheld mutex; null is ignored.
void plat_mutex_destroy(plat_mutex_s* m) {
    if (!m) return;
    pthread_mutex_destroy(&m->mu);
    free(m);
}

void plat_mutex_enter(plat_mutex_s* m) {
    plat_busy_enter();
    pthread_mutex_lock(&m->mu);
}

void plat_mutex_leave(plat_mutex_s* m) {
    pthread_mutex_unlock(&m->mu);
    plat_busy_leave();
}

// The child's only thread owns the lock: it is made again from scratch.
void plat_rwlock_reset_in_child(plat_rwlock_s* l) {
    init_rwlock(&l->rw);
    plat_busy_leave();
}

void plat_mutex_reset_in_child(plat_mutex_s* m) {
    init_recursive_mutex(&m->mu);
    plat_busy_leave();
}

void plat_busy_enter() { ++t_busy; }
void plat_busy_leave() { --t_busy; }
bool plat_thread_busy() { return t_busy != 0; }
