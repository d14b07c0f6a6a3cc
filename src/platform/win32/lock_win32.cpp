// Locks over SRWLOCK and CRITICAL_SECTION, and the per-thread count of
// regions that must not be entered again on the same thread. Neither lock
// can fail once made, and nothing here throws.
#include "platform/win32/win32_util.h"

#include <cstdlib>

struct plat_rwlock_s {
    SRWLOCK rw;
};

struct plat_mutex_s {
    CRITICAL_SECTION cs;
};

namespace {

// Regions of the calling thread that are busy (locks held or being taken).
thread_local unsigned t_busy = 0;

}  // namespace

plat_rwlock_s* plat_rwlock_create() {
    plat_rwlock_s* l = static_cast<plat_rwlock_s*>(malloc(sizeof(plat_rwlock_s)));
    if (l) InitializeSRWLock(&l->rw);
    return l;
}

// An SRW lock needs no teardown; null is ignored.
void plat_rwlock_destroy(plat_rwlock_s* l) { free(l); }

void plat_rwlock_read(plat_rwlock_s* l) {
    plat_busy_enter();
    AcquireSRWLockShared(&l->rw);
}

void plat_rwlock_read_unlock(plat_rwlock_s* l) {
    ReleaseSRWLockShared(&l->rw);
    plat_busy_leave();
}

void plat_rwlock_write(plat_rwlock_s* l) {
    plat_busy_enter();
    AcquireSRWLockExclusive(&l->rw);
}

void plat_rwlock_write_unlock(plat_rwlock_s* l) {
    ReleaseSRWLockExclusive(&l->rw);
    plat_busy_leave();
}

// A critical section is recursive by nature.
plat_mutex_s* plat_mutex_create() {
    plat_mutex_s* m = static_cast<plat_mutex_s*>(malloc(sizeof(plat_mutex_s)));
    if (m) InitializeCriticalSection(&m->cs);
    return m;
}

// Deletes an unheld section; null is ignored.
void plat_mutex_destroy(plat_mutex_s* m) {
    if (!m) return;
    DeleteCriticalSection(&m->cs);
    free(m);
}

void plat_mutex_enter(plat_mutex_s* m) {
    plat_busy_enter();
    EnterCriticalSection(&m->cs);
}

void plat_mutex_leave(plat_mutex_s* m) {
    LeaveCriticalSection(&m->cs);
    plat_busy_leave();
}

// Windows has no fork: these are plain releases.
void plat_rwlock_reset_in_child(plat_rwlock_s* l) { plat_rwlock_write_unlock(l); }
void plat_mutex_reset_in_child(plat_mutex_s* m) { plat_mutex_leave(m); }

void plat_busy_enter() { ++t_busy; }
void plat_busy_leave() { --t_busy; }
bool plat_thread_busy() { return t_busy != 0; }

// Windows has no fork.
bool plat_on_fork(void (*)(), void (*)(), void (*)()) { return false; }
