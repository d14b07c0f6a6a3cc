// A file mapped shared and writable (the black box): CreateFileW, emptied,
// then a mapping of the whole size, which grows the file to it.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

// The file is opened as the log is: an entry that is not a regular file is
// refused, and a reparse point is opened as itself and then refused. Others
// may read the file (the reader tool) but not write it. A full disk fails
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
    wide_path_c w(path);
    if (!w.ok()) return false;
    if (!plat_regular_entry(w.get()) && GetLastError() == ERROR_CANT_ACCESS_FILE) return false;
    if (plat_fault_injected(PLAT_CALL_MAP_SHARED)) return false;
    // Shared for delete too, so that the box can be renamed away while it is
    // mapped (a new box of another size takes its name).
    HANDLE h = CreateFileW(w.get(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD err = 0;
    if (!GetFileInformationByHandle(h, &info))
        err = GetLastError();
    else if ((info.dwFileAttributes & PLAT_NOT_REGULAR_ATTRIBUTES) || GetFileType(h) != FILE_TYPE_DISK)
        err = ERROR_CANT_ACCESS_FILE;
    else if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(h))
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
