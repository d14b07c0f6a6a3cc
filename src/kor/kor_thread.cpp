// kor_thread_c: the calling thread's id, name and application id.
//
// Thread names end up in per-thread records, thread banners and reports that
// outlive the thread, so every name handed out is interned in a process-wide
// set that is never freed: a pointer once returned stays valid until the
// process ends. The set sits behind a static pointer, so it stays reachable
// and is not reported as a leak. Each thread caches its own interned name in
// thread-local storage; only a new or changed name takes the set's lock.
#include "kor/kor_thread.h"

#include <cstring>
#include <new>
#include <string>
#include <unordered_set>

#include "kor/crit_section.h"
#include "platform/platform.h"

namespace {

struct name_pool_s {
    kor_crit_section_c guard;
    std::unordered_set<std::string> names;
};

name_pool_s* name_pool() {
    static name_pool_s* pool = new (std::nothrow) name_pool_s;
    return pool && pool->guard.ok() ? pool : nullptr;
}

// Returns the process-lifetime copy of text. Elements of an unordered_set
// never move (rehashing relinks nodes), so the pointer stays valid.
const char* intern(const char* text) {
    name_pool_s* pool = name_pool();
    if (!pool || !text) return nullptr;
    kor_lock_c hold(&pool->guard);
    try {
        return pool->names.insert(std::string(text)).first->c_str();
    } catch (...) {
        return nullptr;  // out of memory: the caller goes on without the name
    }
}

// Size of the buffer an OS thread name is read into (longer names are cut).
const size_t os_name_size = 256;

// Per-thread state; plain data only, so no thread-exit destructor is needed.
thread_local const char* t_host_name = nullptr;   // interned, host-given
thread_local unsigned long t_appl_id = 0;
thread_local const char* t_os_name = nullptr;     // interned copy of t_os_raw
thread_local char t_os_raw[os_name_size];          // OS name last seen

// The OS name of the calling thread, interned; re-read every call so that a
// rename is seen, but interned again only when it changed.
const char* current_os_name() {
    char raw[os_name_size];
    if (!plat_thread_name(raw, sizeof raw) || !raw[0]) return nullptr;
    raw[sizeof raw - 1] = 0;
    if (t_os_name && std::strcmp(raw, t_os_raw) == 0) return t_os_name;
    const char* interned = intern(raw);
    if (interned) {
        std::memcpy(t_os_raw, raw, std::strlen(raw) + 1);
        t_os_name = interned;
    }
    return interned;
}

}  // namespace

unsigned long kor_thread_c::curr_thread_id() {
    return plat_thread_id();
}

bool kor_thread_c::are_same_threads(unsigned long a, unsigned long b) {
    return a == b;
}

bool kor_thread_c::get_current_thread(unsigned long* id, const char** name, unsigned long* appl_id) {
    if (id) *id = plat_thread_id();
    if (name) *name = t_host_name ? t_host_name : current_os_name();
    if (appl_id) *appl_id = t_appl_id;
    return true;
}

void kor_thread_c::set_current_thread_info(const char* name, unsigned long appl_id) {
    // A null or empty name hands the thread back to its OS name.
    t_host_name = (name && name[0]) ? intern(name) : nullptr;
    t_appl_id = appl_id;
}

void kor_thread_c::before_fork() {
    if (name_pool_s* pool = name_pool()) pool->guard.enter();
}

void kor_thread_c::after_fork(bool in_child) {
    name_pool_s* pool = name_pool();
    if (!pool) return;
    if (in_child)
        pool->guard.reset_in_child();
    else
        pool->guard.leave();
}
