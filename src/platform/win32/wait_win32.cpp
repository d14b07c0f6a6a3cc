// Waiting on a word: WaitOnAddress.
#include "platform/win32/win32_util.h"

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
