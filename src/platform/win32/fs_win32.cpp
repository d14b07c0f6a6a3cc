// File-system operations on single paths: move without replacing, delete,
// what stands at a name, existence and openability tests. Move and delete
// act only on regular files, never on reparse points. A move or delete that
// meets a file another process holds open fails at once with the sharing
// violation: the caller retries it without holding its own locks.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

#include <cerrno>
#include <io.h>

// MoveFileExW without MOVEFILE_REPLACE_EXISTING: an existing target fails.
// Only a regular file is moved (a reparse point that appears between the
// check and the move is moved itself, never its target).
bool plat_move_file(const char* from, const char* to) {
    wide_path_c w_from(from);
    if (!w_from.ok()) return false;
    wide_path_c w_to(to);
    if (!w_to.ok() || !plat_regular_entry(w_from.get()) || plat_fault_injected(PLAT_CALL_RENAME)) return false;
    return MoveFileExW(w_from.get(), w_to.get(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

// DeleteFileW on a regular file (on a reparse point it would remove the
// point itself, but a planted entry is left alone altogether).
bool plat_delete_file(const char* path) {
    wide_path_c w(path);
    return w.ok() && plat_regular_entry(w.get()) && !plat_fault_injected(PLAT_CALL_UNLINK) && DeleteFileW(w.get()) != 0;
}

// GetFileAttributesW, which describes a reparse point rather than its target.
int plat_entry_kind(const char* path) {
    wide_path_c w(path);
    if (!w.ok()) return -1;
    const DWORD attrs = GetFileAttributesW(w.get());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = GetLastError();
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? PLAT_ENTRY_NONE : -1;
    }
    return attrs & PLAT_NOT_REGULAR_ATTRIBUTES ? PLAT_ENTRY_OTHER : PLAT_ENTRY_FILE;
}

// _waccess(mode 0): 1 when it exists, -1 when access is denied, 0 otherwise.
int plat_path_access(const char* path) {
    wide_path_c w(path);
    if (!w.ok()) return 0;
    if (_waccess(w.get(), 0) == 0) return 1;
    return errno == EACCES ? -1 : 0;
}

// CreateFileW with no access and full sharing; backup semantics let
// directories open too.
bool plat_path_opens(const char* path) {
    wide_path_c w(path);
    if (!w.ok()) return false;
    HANDLE h = CreateFileW(w.get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// GetFileAttributesExW: the last write time of a regular file, from
// 100-nanosecond units since 1601 to seconds since 1970.
long long plat_file_mtime(const char* path) {
    wide_path_c w(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!w.ok() || !GetFileAttributesExW(w.get(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & PLAT_NOT_REGULAR_ATTRIBUTES))
        return -1;
    const unsigned long long ticks =
        (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return static_cast<long long>(ticks / 10000000ull) - 11644473600ll;
}
