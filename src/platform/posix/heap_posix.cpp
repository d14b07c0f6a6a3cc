// The process heap: the C library's allocator behind a constant handle.
#include "platform/platform.h"
#include "platform/posix/fault_posix.h"

#include <cerrno>
#include <cstdlib>

namespace {
// Stands for the heap; only its address is used.
char g_heap_token;
}  // namespace

void* plat_process_heap() {
    return &g_heap_token;
}

// malloc; null (errno ENOMEM or EINVAL) on failure or for a foreign handle.
void* plat_heap_alloc(void* heap, size_t size) {
    if (heap != &g_heap_token) {
        errno = EINVAL;
        return nullptr;
    }
    if (plat_fault_injected(PLAT_CALL_HEAP)) return nullptr;
    return malloc(size == 0 ? 1 : size);
}

// free; false (errno EINVAL) for a foreign handle.
bool plat_heap_free(void* heap, void* block) {
    if (heap != &g_heap_token) {
        errno = EINVAL;
        return false;
    }
    free(block);
    return true;
}
