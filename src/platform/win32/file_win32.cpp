// The log file: CreateFileW for writing, shared for reading only, never
// inherited by child processes; writes go to the end.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

#include <new>

namespace {

HANDLE handle_of(plat_file_t f) {
    return reinterpret_cast<HANDLE>(f);
}

// Pieces up to this size are joined on the stack and written in one call.
const size_t JOIN_LIMIT = 4096;

}  // namespace

HANDLE plat_open_regular(const char* path, DWORD access, DWORD share, plat_call_e call) {
    wide_path_c w(path);
    if (!w.ok()) return INVALID_HANDLE_VALUE;
    if (!plat_regular_entry(w.get()) && GetLastError() == ERROR_CANT_ACCESS_FILE) return INVALID_HANDLE_VALUE;
    if (plat_fault_injected(call)) return INVALID_HANDLE_VALUE;
    HANDLE h = CreateFileW(w.get(), access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD err = 0;
    if (!GetFileInformationByHandle(h, &info))
        err = GetLastError();
    else if ((info.dwFileAttributes & PLAT_NOT_REGULAR_ATTRIBUTES) || GetFileType(h) != FILE_TYPE_DISK)
        err = ERROR_CANT_ACCESS_FILE;
    if (err != 0) {
        CloseHandle(h);
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Opened as plat_open_regular opens, shared for reading only; the pointer is
// moved to the end, so that writing appends to earlier content.
plat_file_t plat_file_open_append(const char* path) {
    HANDLE h = plat_open_regular(path, GENERIC_WRITE, FILE_SHARE_READ, PLAT_CALL_OPEN);
    if (h == INVALID_HANDLE_VALUE) return PLAT_NO_FILE;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(h, zero, nullptr, FILE_END)) {
        const DWORD err = GetLastError();
        CloseHandle(h);
        SetLastError(err);
        return PLAT_NO_FILE;
    }
    return reinterpret_cast<plat_file_t>(h);
}

// GetFileSizeEx; -1 for a bad handle.
long long plat_file_size(plat_file_t f) {
    LARGE_INTEGER size;
    if (f == PLAT_NO_FILE || !GetFileSizeEx(handle_of(f), &size)) return -1;
    return static_cast<long long>(size.QuadPart);
}

// WriteFile in pieces of at most 1 GiB until every byte is out.
bool plat_file_write(plat_file_t f, const void* data, size_t size) {
    if (f == PLAT_NO_FILE || (!data && size != 0)) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        size_t chunk = size > (1u << 30) ? (1u << 30) : size;
        if (plat_fault_injected(PLAT_CALL_WRITE, &chunk)) return false;
        DWORD written = 0;
        if (!WriteFile(handle_of(f), p, static_cast<DWORD>(chunk), &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

// Short pieces are joined into one WriteFile call, so that they reach the
// file together; longer ones are written one after the other.
bool plat_file_write2(plat_file_t f, const void* a, size_t a_size, const void* b, size_t b_size) {
    if (f == PLAT_NO_FILE || (!a && a_size != 0) || (!b && b_size != 0)) return false;
    if (a_size == 0) return plat_file_write(f, b, b_size);
    if (b_size == 0) return plat_file_write(f, a, a_size);
    if (a_size + b_size <= JOIN_LIMIT) {
        char joined[JOIN_LIMIT];
        memcpy(joined, a, a_size);
        memcpy(joined + a_size, b, b_size);
        return plat_file_write(f, joined, a_size + b_size);
    }
    return plat_file_write(f, a, a_size) && plat_file_write(f, b, b_size);
}

// CloseHandle; PLAT_NO_FILE is ignored.
void plat_file_close(plat_file_t f) {
    if (f != PLAT_NO_FILE && f != 0) CloseHandle(handle_of(f));
}

// The pieces joined in one heap buffer and written with one WriteFile, so
// that a batch of lines reaches the file in one call; when the buffer cannot
// be had, each piece is written on its own.
bool plat_file_write_pieces(plat_file_t f, const plat_piece_s* pieces, size_t count) {
    if (f == PLAT_NO_FILE || (!pieces && count != 0)) return false;
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].size != 0 && !pieces[i].data) return false;
        total += pieces[i].size;
    }
    if (total == 0) return true;
    char* joined = new (std::nothrow) char[total];
    if (!joined) {
        for (size_t i = 0; i < count; ++i)
            if (pieces[i].size != 0 && !plat_file_write(f, pieces[i].data, pieces[i].size)) return false;
        return true;
    }
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].size == 0) continue;
        memcpy(joined + at, pieces[i].data, pieces[i].size);
        at += pieces[i].size;
    }
    const bool ok = plat_file_write(f, joined, total);
    delete[] joined;
    return ok;
}
