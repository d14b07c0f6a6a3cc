// Load notifications of the shared library on POSIX: the ELF constructor
// and destructor stand for process attach and detach. Threads are not
// announced; their exit reaches the manager through its thread-local slot.
#include "platform/platform.h"

__attribute__((constructor)) static void katr_library_loaded() {
    katr_on_process_attach();
}

__attribute__((destructor)) static void katr_library_unloading() {
    katr_on_process_detach();
}
