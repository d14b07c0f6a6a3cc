// Injected faults as errno values, and the log file's write calls through
// the fault table.
#ifndef KATRACE_FAULT_POSIX_H
#define KATRACE_FAULT_POSIX_H

#include <cerrno>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/fault_table.h"

// The errno of a portable fault.
inline int plat_fault_errno(plat_fault_e fault) {
    switch (fault) {
    case PLAT_FAULT_NO_SPACE: return ENOSPC;
    case PLAT_FAULT_TOO_MANY_FILES: return EMFILE;
    case PLAT_FAULT_INTERRUPTED: return EINTR;
    case PLAT_FAULT_ACCESS_DENIED: return EACCES;
    default: return EIO;
    }
}

// True (errno set) when a test makes this call fail.
inline bool plat_fault_injected(plat_call_e call) {
    const plat_fault_e fault = plat_fault_for(call, nullptr);
    if (fault == PLAT_FAULT_NONE) return false;
    errno = plat_fault_errno(fault);
    return true;
}

// writev under a hook: fails it or writes only a leading part of the pieces.
ssize_t plat_hooked_writev(plat_fault_hook_f hook, int fd, const struct iovec* iov, int count);

// writev through the fault table; without a hook the real call at once.
inline ssize_t plat_sys_writev(int fd, const struct iovec* iov, int count) {
    const plat_fault_hook_f hook = g_plat_fault_hooks[PLAT_CALL_WRITE].load(std::memory_order_relaxed);
    if (__builtin_expect(hook == nullptr, 1)) return writev(fd, iov, count);
    return plat_hooked_writev(hook, fd, iov, count);
}

#endif
