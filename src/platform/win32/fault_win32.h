// Injected faults as Win32 error codes.
#ifndef KATRACE_FAULT_WIN32_H
#define KATRACE_FAULT_WIN32_H

#include "platform/win32/win32_util.h"
#include "platform/fault_table.h"

// The Win32 error code of a portable fault.
inline DWORD plat_fault_code(plat_fault_e fault) {
    switch (fault) {
    case PLAT_FAULT_NO_SPACE: return ERROR_DISK_FULL;
    case PLAT_FAULT_TOO_MANY_FILES: return ERROR_TOO_MANY_OPEN_FILES;
    case PLAT_FAULT_INTERRUPTED: return ERROR_OPERATION_ABORTED;
    case PLAT_FAULT_ACCESS_DENIED: return ERROR_ACCESS_DENIED;
    default: return ERROR_GEN_FAILURE;
    }
}

// True (last error set) when a test makes this call fail; size as for
// plat_fault_for.
inline bool plat_fault_injected(plat_call_e call, size_t* size = nullptr) {
    const plat_fault_e fault = plat_fault_for(call, size);
    if (fault == PLAT_FAULT_NONE) return false;
    SetLastError(plat_fault_code(fault));
    return true;
}

// Opens or creates (OPEN_ALWAYS) the regular file at path with the access
// and sharing given, as the log and the black box are opened in a directory
// others may write to: an entry of another kind is refused before the open,
// the open takes a reparse point as itself (FILE_FLAG_OPEN_REPARSE_POINT)
// and the opened handle is checked again, so a link's target is never
// reached. INVALID_HANDLE_VALUE with the last error set on failure, also
// when the fault hook fails `call`.
HANDLE plat_open_regular(const char* path, DWORD access, DWORD share, plat_call_e call);

#endif
