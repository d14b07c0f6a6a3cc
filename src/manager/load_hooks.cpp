// Load notifications of the library; the trace manager takes them over.
#include "platform/platform.h"

void katr_on_process_attach() {}
void katr_on_process_detach() {}
void katr_on_thread_attach() {}
void katr_on_thread_detach() {}
