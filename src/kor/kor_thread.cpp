// kor_thread_c: the calling thread's id, name and application id.
//
// Each thread keeps its names in thread-local buffers of a fixed size: the
// name the host gave and the OS name last read. Nothing is allocated, so
// nothing grows with the number of threads a process starts and ends; a
// caller that keeps a name beyond the thread's next rename copies it (the
// trace manager's thread records own their copies).
#include "kor/kor_thread.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Plain data only, so no thread-exit destructor is needed.
thread_local char t_host_name[KOR_THREAD_NAME_SIZE];  // host-given, empty when none
thread_local unsigned long t_appl_id = 0;
thread_local char t_os_name[KOR_THREAD_NAME_SIZE];  // OS name last read

// The OS name of the calling thread, re-read every call so that a rename is
// seen; null when the OS gives none.
const char* current_os_name() {
    if (!plat_thread_name(t_os_name, sizeof t_os_name) || !t_os_name[0]) return nullptr;
    t_os_name[sizeof t_os_name - 1] = 0;
    return t_os_name;
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
    if (name) *name = t_host_name[0] ? t_host_name : current_os_name();
    if (appl_id) *appl_id = t_appl_id;
    return true;
}

void kor_thread_c::set_current_thread_info(const char* name, unsigned long appl_id) {
    // A null or empty name hands the thread back to its OS name; a longer
    // name than the buffer holds is cut.
    t_host_name[0] = 0;
    if (name) {
        const size_t n = strnlen(name, sizeof t_host_name - 1);
        std::memcpy(t_host_name, name, n);
        t_host_name[n] = 0;
    }
    t_appl_id = appl_id;
}
