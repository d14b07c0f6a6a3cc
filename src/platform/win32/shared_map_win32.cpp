// A file mapped shared and writable (the black box): CreateFileW, emptied,
// then a mapping of the whole size, which grows the file to it.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

// The file is opened as the log is (plat_open_regular). Others may read the
// file (the reader tool) but not write it. A full disk fails
// CreateFileMappingW, which reserves the file's size.
bool plat_map_shared(const char* path, unsigned long long size, plat_shared_map_s* m) {
    if (!m) return false;
    m->data = nullptr;
    m->size = 0;
    m->os_handle = -1;
    m->os_extra = 0;
    if (size == 0 || size > static_cast<unsigned long long>(PTRDIFF_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // Shared for delete too, so that the box can be renamed away while it is
    // mapped (a new box of another size takes its name).
    HANDLE h = plat_open_regular(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, PLAT_CALL_MAP_SHARED);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD err = 0;
    if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(h))
        err = GetLastError();
    HANDLE map = nullptr;
    void* view = nullptr;
    if (err == 0) {
        map = CreateFileMappingW(h, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
        if (!map) err = GetLastError();
    }
    if (err == 0) {
        view = MapViewOfFile(map, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(size));
        if (!view) err = GetLastError();
    }
    if (err != 0) {
        if (map) CloseHandle(map);
        CloseHandle(h);
        SetLastError(err);
        return false;
    }
    m->data = static_cast<unsigned char*>(view);
    m->size = static_cast<size_t>(size);
    m->os_handle = reinterpret_cast<intptr_t>(h);
    m->os_extra = reinterpret_cast<intptr_t>(map);
    return true;
}

void plat_unmap_shared(plat_shared_map_s* m) {
    if (!m || !m->data) return;
    UnmapViewOfFile(m->data);
    CloseHandle(reinterpret_cast<HANDLE>(m->os_extra));
    CloseHandle(reinterpret_cast<HANDLE>(m->os_handle));
    m->data = nullptr;
    m->size = 0;
    m->os_handle = -1;
    m->os_extra = 0;
}
