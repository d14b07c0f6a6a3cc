// Identity of the process and the calling thread.
#include "platform/platform.h"
#include "platform/posix/fork_posix.h"

#include <cstring>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The kernel thread id, cached per thread: traced lines ask for it often.
thread_local unsigned long t_thread_id = 0;

}  // namespace

// A forked child continues on a copy of the forking thread, with a new id.
void posix_forget_thread_id() {
    t_thread_id = 0;
}

unsigned long plat_pid() {
    return static_cast<unsigned long>(getpid());
}

// gettid once per thread (and again in a forked child, whose fork handler
// forgets the cached id).
unsigned long plat_thread_id() {
    if (t_thread_id == 0) {
        posix_install_fork_handlers();
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
