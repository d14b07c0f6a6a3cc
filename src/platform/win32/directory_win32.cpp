// Directories: creating one level and listing the files in one.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

#include <cwchar>

// CreateDirectoryW with the default security of the parent.
bool plat_create_directory(const char* path) {
    wide_path_c w(path);
    return w.ok() && !plat_fault_injected(PLAT_CALL_MKDIR) && CreateDirectoryW(w.get(), nullptr) != 0;
}

// FindFirstFileW/FindNextFileW over dir\*; directories, reparse points
// (links, junctions) and devices are skipped. True when the enumeration
// ended with ERROR_NO_MORE_FILES.
bool plat_list_files(const char* dir, plat_visit_f visit, void* ctx) {
    wide_path_c w(dir);
    if (!w.ok() || !visit || plat_fault_injected(PLAT_CALL_LIST)) return false;
    wchar_t pattern[PLAT_MAX_PATH_UNITS + 3];
    const size_t len = wcslen(w.get());
    memcpy(pattern, w.get(), len * sizeof(wchar_t));
    size_t end = len;
    if (len == 0 || (pattern[len - 1] != L'\\' && pattern[len - 1] != L'/')) pattern[end++] = L'\\';
    pattern[end++] = L'*';
    pattern[end] = 0;

    WIN32_FIND_DATAW entry;
    HANDLE h = FindFirstFileW(pattern, &entry);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD err;
    for (;;) {
        char name[MAX_PATH * 3 + 1];
        if (!(entry.dwFileAttributes & PLAT_NOT_REGULAR_ATTRIBUTES) &&
            plat_utf16_to_utf8(entry.cFileName, name, static_cast<int>(sizeof name)) > 0)
            visit(name, ctx);
        if (!FindNextFileW(h, &entry)) {
            err = GetLastError();
            break;
        }
    }
    FindClose(h);
    SetLastError(err);
    return err == ERROR_NO_MORE_FILES;
}
