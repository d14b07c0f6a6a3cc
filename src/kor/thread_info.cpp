// The export through which a host names the calling thread and gives it an
// application-level id.
#include "katrace.h"
#include "kor/kor_thread.h"

extern "C" KATR_API void katr_set_thread_info(const char* name, unsigned long appl_id) {
    kor_thread_c::set_current_thread_info(name, appl_id);
}
