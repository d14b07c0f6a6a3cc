// Load notifications of katrace.dll: DllMain hands each of the four to the
// trace manager.
#include "platform/win32/win32_util.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        katr_on_process_attach();
        break;
    case DLL_PROCESS_DETACH:
        katr_on_process_detach();
        break;
    case DLL_THREAD_ATTACH:
        katr_on_thread_attach();
        break;
    case DLL_THREAD_DETACH:
        katr_on_thread_detach();
        break;
    default:
        break;
    }
    return TRUE;
}
