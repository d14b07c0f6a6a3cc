// The process heap.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

void* plat_process_heap() {
    return GetProcessHeap();
}

void* plat_heap_alloc(void* heap, size_t size) {
    if (plat_fault_injected(PLAT_CALL_HEAP)) return nullptr;
    return heap ? HeapAlloc(heap, 0, size) : nullptr;
}

// HeapFree; false with the system's error code on failure.
bool plat_heap_free(void* heap, void* block) {
    if (!heap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return HeapFree(heap, 0, block) != 0;
}
