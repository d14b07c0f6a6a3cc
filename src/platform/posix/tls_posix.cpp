// Thread-local slots over pthread keys. A slot index names an entry of a
// small table; each entry has its own key destructor, so that the exit hook
// of a slot knows its key and can make the value readable again while the
// hook runs (pthread clears a key before calling its destructor).
#include "platform/platform.h"
#include "platform/posix/fault_posix.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <utility>

namespace {

const unsigned SLOT_COUNT = 64;

// Entry states: free, being claimed by plat_tls_alloc, ready for use.
enum {
    SLOT_FREE = 0,
    SLOT_CLAIMED,
    SLOT_READY
};

struct slot_s {
    std::atomic<int> state{SLOT_FREE};
    pthread_key_t key{};
    std::atomic<void (*)(void*)> on_exit{nullptr};
};

slot_s g_slots[SLOT_COUNT];

// The key destructor of slot I: puts the value back, runs the hook, clears.
template <unsigned I>
void run_exit_hook(void* value) {
    slot_s& s = g_slots[I];
    void (*hook)(void*) = s.on_exit.load(std::memory_order_acquire);
    if (!hook) return;
    pthread_setspecific(s.key, value);
    hook(value);
    pthread_setspecific(s.key, nullptr);
}

template <unsigned... I>
constexpr std::array<void (*)(void*), sizeof...(I)> make_hooks(std::integer_sequence<unsigned, I...>) {
    return {{&run_exit_hook<I>...}};
}

const std::array<void (*)(void*), SLOT_COUNT> g_hooks = make_hooks(std::make_integer_sequence<unsigned, SLOT_COUNT>());

// The slot of a valid index in use, or null.
slot_s* slot_of(unsigned index) {
    if (index >= SLOT_COUNT || g_slots[index].state.load(std::memory_order_acquire) != SLOT_READY) return nullptr;
    return &g_slots[index];
}

}  // namespace

// Claims a free table entry and creates its key (with the destructor only
// when there is a hook to run).
bool plat_tls_alloc(unsigned* index, void (*on_exit)(void* value)) {
    if (!index || plat_fault_injected(PLAT_CALL_TLS_ALLOC)) return false;
    for (unsigned i = 0; i < SLOT_COUNT; ++i) {
        int expected = SLOT_FREE;
        if (!g_slots[i].state.compare_exchange_strong(expected, SLOT_CLAIMED, std::memory_order_acq_rel)) continue;
        g_slots[i].on_exit.store(on_exit, std::memory_order_release);
        int rc = pthread_key_create(&g_slots[i].key, on_exit ? g_hooks[i] : nullptr);
        if (rc != 0) {
            g_slots[i].state.store(SLOT_FREE, std::memory_order_release);
            errno = rc;
            return false;
        }
        g_slots[i].state.store(SLOT_READY, std::memory_order_release);
        *index = i;
        return true;
    }
    errno = EAGAIN;
    return false;
}

// The calling thread's value, null for an unknown index.
void* plat_tls_get(unsigned index) {
    slot_s* s = slot_of(index);
    return s ? pthread_getspecific(s->key) : nullptr;
}

// Stores the calling thread's value; false for an unknown index.
bool plat_tls_set(unsigned index, void* value) {
    slot_s* s = slot_of(index);
    return s && pthread_setspecific(s->key, value) == 0;
}

// Deletes the key (no hooks run for it afterwards) and frees the entry.
void plat_tls_free(unsigned index) {
    if (index >= SLOT_COUNT) return;
    slot_s* s = &g_slots[index];
    int expected = SLOT_READY;
    if (!s->state.compare_exchange_strong(expected, SLOT_CLAIMED, std::memory_order_acq_rel)) return;
    s->on_exit.store(nullptr, std::memory_order_release);
    pthread_key_delete(s->key);
    s->state.store(SLOT_FREE, std::memory_order_release);
}
