// Identity of the process and the calling thread.
#include "platform/platform.h"

#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The kernel thread id, cached per thread: traced lines ask for it often.
thread_local unsigned long t_thread_id = 0;

// A forked child continues on a copy of the forking thread, with a new id.
void forget_thread_id() {
    t_thread_id = 0;
}

}  // namespace

unsigned long plat_pid() {
    return static_cast<unsigned long>(getpid());
}

// gettid once per thread (and again after fork).
unsigned long plat_thread_id() {
    if (t_thread_id == 0) {
        static std::once_flag atfork_once;
        std::call_once(atfork_once, [] { pthread_atfork(nullptr, nullptr, forget_thread_id); });
        t_thread_id = static_cast<unsigned long>(syscall(SYS_gettid));
    }
    return t_thread_id;
}

// pthread_getname_np; false (buf empty) when there is none or it does not fit.
bool plat_thread_name(char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    char name[64] = {0};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return false;
    const size_t len = strlen(name);
    if (len == 0 || len >= size) return false;
    memcpy(buf, name, len + 1);
    return true;
}
