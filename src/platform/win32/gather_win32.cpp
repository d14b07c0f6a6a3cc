// Gathered appends and waiting on a word: WriteFile of the joined pieces and
// WaitOnAddress.
#include "platform/win32/win32_util.h"

#include <new>

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

// WaitOnAddress with a timeout; the last error is left as it was.
void plat_wait_word(const unsigned* word, unsigned expected, unsigned timeout_ms) {
    const DWORD saved = GetLastError();
    WaitOnAddress(const_cast<unsigned*>(word), &expected, sizeof expected, timeout_ms);
    SetLastError(saved);
}

// WakeByAddressAll.
void plat_wake_word_all(const unsigned* word) { WakeByAddressAll(const_cast<unsigned*>(word)); }

// YieldProcessor (PAUSE).
void plat_spin_pause() { YieldProcessor(); }
