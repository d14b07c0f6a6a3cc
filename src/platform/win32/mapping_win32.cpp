// Read-only view of a whole file followed by a NUL byte. A view's bytes
// after the end of the file in its last page read as zero; a file that ends
// exactly on a page boundary has no such bytes and is read into a heap
// buffer with a NUL behind it instead.
#include "platform/win32/win32_util.h"
#include "platform/win32/fault_win32.h"

namespace {

// What backs a mapping, kept in plat_mapping_s::os_handle.
enum map_kind {
    MAP_KIND_NONE = 0,
    MAP_KIND_EMPTY,
    MAP_KIND_VIEW,
    MAP_KIND_HEAP
};

char g_empty_text[1] = {0};

size_t page_size() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwPageSize ? si.dwPageSize : 4096;
}

// Maps the whole file; the mapping handle is closed once the view exists.
const char* map_view(HANDLE file) {
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return nullptr;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    return static_cast<const char*>(view);
}

// Reads the file into a heap block of size + 1 bytes; *size becomes the
// count actually read. Null on failure.
char* read_with_terminator(HANDLE file, size_t* size) {
    char* buf = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, *size + 1));
    if (!buf) return nullptr;
    size_t done = 0;
    while (done < *size) {
        const size_t left = *size - done;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file, buf + done, chunk, &got, nullptr) || got == 0) break;
        done += got;
    }
    buf[done] = 0;
    *size = done;
    return buf;
}

bool open_and_map(const char* path, plat_mapping_s* m, bool live);

}  // namespace

// CreateFileW for shared reading; the file handle is closed in every case.
bool plat_map_file(const char* path, plat_mapping_s* m) { return open_and_map(path, m, false); }

// Writers are admitted, and the bytes are always copied: a view would
// change under its reader.
bool plat_read_live_file(const char* path, plat_mapping_s* m) { return open_and_map(path, m, true); }

namespace {

bool open_and_map(const char* path, plat_mapping_s* m, bool live) {
    if (!m) return false;
    *m = plat_mapping_s{nullptr, 0, nullptr, nullptr};
    wide_path_c w(path);
    if (!w.ok()) return false;
    if (plat_fault_injected(PLAT_CALL_MAP)) return false;
    const DWORD share = live ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ;
    HANDLE file = CreateFileW(w.get(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER file_size;
    if (!GetFileSizeEx(file, &file_size) || file_size.QuadPart < 0) {
        CloseHandle(file);
        return false;
    }
    size_t size = static_cast<size_t>(file_size.QuadPart);
    if (size == 0) {
        m->data = g_empty_text;
        m->os_handle = reinterpret_cast<void*>(MAP_KIND_EMPTY);
    } else if (!live && size % page_size() != 0) {
        m->data = map_view(file);
        m->os_handle = reinterpret_cast<void*>(MAP_KIND_VIEW);
    } else {
        m->data = read_with_terminator(file, &size);
        m->os_handle = reinterpret_cast<void*>(MAP_KIND_HEAP);
    }
    const DWORD err = GetLastError();
    CloseHandle(file);
    if (!m->data) {
        *m = plat_mapping_s{nullptr, 0, nullptr, nullptr};
        SetLastError(err);
        return false;
    }
    m->size = size;
    return true;
}

}  // namespace

// Unmaps the view or frees the buffer, and leaves the mapping empty.
void plat_unmap_file(plat_mapping_s* m) {
    if (!m || !m->data) return;
    switch (reinterpret_cast<intptr_t>(m->os_handle)) {
    case MAP_KIND_VIEW:
        UnmapViewOfFile(m->data);
        break;
    case MAP_KIND_HEAP:
        HeapFree(GetProcessHeap(), 0, const_cast<char*>(m->data));
        break;
    default:
        break;
    }
    *m = plat_mapping_s{nullptr, 0, nullptr, nullptr};
}
