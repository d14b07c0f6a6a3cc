// Identity of the process and the calling thread.
#include "platform/win32/win32_util.h"

#include <process.h>

namespace {

typedef HRESULT(WINAPI* get_thread_description_f)(HANDLE, PWSTR*);

// GetThreadDescription, looked up at run time: older Windows versions and
// Wine may lack it. Null when missing.
get_thread_description_f find_get_thread_description() {
    const wchar_t* modules[] = {L"kernel32.dll", L"kernelbase.dll"};
    for (const wchar_t* name : modules) {
        HMODULE m = GetModuleHandleW(name);
        FARPROC p = m ? GetProcAddress(m, "GetThreadDescription") : nullptr;
        if (p) return reinterpret_cast<get_thread_description_f>(reinterpret_cast<void (*)()>(p));
    }
    return nullptr;
}

}  // namespace

unsigned long plat_pid() {
    return static_cast<unsigned long>(_getpid());
}

unsigned long plat_thread_id() {
    return GetCurrentThreadId();
}

// The thread's description in UTF-8; false (buf empty) when there is none,
// the call is missing, or the name does not fit.
bool plat_thread_name(char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    static const get_thread_description_f get_description = find_get_thread_description();
    if (!get_description) return false;
    PWSTR description = nullptr;
    bool ok = false;
    if (SUCCEEDED(get_description(GetCurrentThread(), &description)) && description && description[0]) {
        ok = plat_utf8_out(description, buf, size);
    }
    if (description) LocalFree(description);
    return ok;
}
