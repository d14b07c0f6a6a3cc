// Load notifications of katrace.dll: DllMain hands each of the four to the
// trace manager.
#include "platform/win32/win32_util.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        katr_on_process_attach();
        break;
    case DLL_PROCESS_DETACH:
        // A non-null reserved means the process is terminating: the other
        // threads are already gone and may have died holding our locks, so
        // the manager is left to the OS (its lines are already in the file).
        // An unload by FreeLibrary destroys the manager.
        if (reserved == nullptr)
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
