// Thread-local slots over TlsAlloc. Thread exit reaches the library through
// DllMain's thread-detach notification, so on_exit is not used here.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

bool plat_tls_alloc(unsigned* index, void (*on_exit)(void* value)) {
    (void)on_exit;
    if (!index || plat_fault_injected(PLAT_CALL_TLS_ALLOC)) return false;
    const DWORD i = TlsAlloc();
    if (i == TLS_OUT_OF_INDEXES) return false;
    *index = static_cast<unsigned>(i);
    return true;
}

// TlsGetValue resets the last error on success; the caller's code is kept.
void* plat_tls_get(unsigned index) {
    const DWORD err = GetLastError();
    void* value = TlsGetValue(index);
    SetLastError(err);
    return value;
}

bool plat_tls_set(unsigned index, void* value) {
    return TlsSetValue(index, value) != 0;
}

void plat_tls_free(unsigned index) {
    TlsFree(index);
}
