// File-system operations on single paths: move without replacing, delete,
// existence and openability tests. A move or delete that meets a file
// another process holds open is retried a few times before it fails.
#include "platform/win32/win32_util.h"

#include <cerrno>
#include <io.h>

namespace {

const int SHARING_ATTEMPTS = 5;
const DWORD SHARING_PAUSE_MS = 10;

// Runs op until it succeeds, fails for another reason than a sharing or
// lock violation, or has been tried SHARING_ATTEMPTS times.
template <class op_f>
bool retry_on_sharing(op_f op) {
    for (int attempt = 1;; ++attempt) {
        if (op()) return true;
        const DWORD err = GetLastError();
        if ((err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION) || attempt == SHARING_ATTEMPTS)
            return false;
        Sleep(SHARING_PAUSE_MS);
    }
}

}  // namespace

// MoveFileExW without MOVEFILE_REPLACE_EXISTING: an existing target fails.
bool plat_move_file(const char* from, const char* to) {
    wide_path_c w_from(from);
    if (!w_from.ok()) return false;
    wide_path_c w_to(to);
    if (!w_to.ok()) return false;
    return retry_on_sharing(
        [&] { return MoveFileExW(w_from.get(), w_to.get(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0; });
}

// DeleteFileW.
bool plat_delete_file(const char* path) {
    wide_path_c w(path);
    return w.ok() && retry_on_sharing([&] { return DeleteFileW(w.get()) != 0; });
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
