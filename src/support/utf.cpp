// UTF-8 <-> UTF-16 conversion of NUL-terminated texts through the platform's
// converter (code page 65001 semantics: the terminator is converted and
// counted, invalid input becomes U+FFFD).
#include "support/utf.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace {

// The shared frame of to_utf8 and to_utf16. convert(text, dst, room) follows
// the platform converter's contract: with a null dst it answers the units
// needed, terminator included.
template <typename In, typename Out>
int fill(const In* text, Out* target, int* size, int (*convert)(const In*, Out*, int)) {
    if (!text) {
        if (target) target[0] = 0;
        if (size) *size = 0;
        return 1;
    }
    if (!size) return 0;
    int needed = convert(text, nullptr, 0);
    int given = *size;
    *size = needed;
    if (needed < 1) return 0;
    if (!target) return 1;
    if (given < needed) return 0;
    return convert(text, target, given) > 0 ? 1 : 0;
}

}  // namespace

int to_utf8(const katr_wchar_t* text, char* target, int* size) {
    return fill(text, target, size, plat_utf16_to_utf8);
}

int to_utf16(const char* text, katr_wchar_t* target, int* size) {
    return fill(text, target, size, plat_utf8_to_utf16);
}

basis_multi_lang_c::basis_multi_lang_c() : wide_text(nullptr), narrow_text(nullptr) {}

basis_multi_lang_c::~basis_multi_lang_c() {
    delete[] wide_text;
    delete[] narrow_text;
}

katr_wchar_t* basis_multi_lang_c::to_wide(const char* text) {
    delete[] wide_text;
    wide_text = nullptr;
    int n = plat_utf8_to_utf16(text, nullptr, 0);
    if (n < 1) return nullptr;
    // n is an int, so n + 1 units cannot overflow the allocation size.
    wide_text = new (std::nothrow) katr_wchar_t[static_cast<size_t>(n) + 1];
    if (!wide_text) return nullptr;
    std::memset(wide_text, 0, (static_cast<size_t>(n) + 1) * sizeof(katr_wchar_t));
    int again = plat_utf8_to_utf16(text, nullptr, 0);
    if (again >= 1 && n >= again) plat_utf8_to_utf16(text, wide_text, n);
    return wide_text;
}

char* basis_multi_lang_c::to_narrow(const katr_wchar_t* text) {
    delete[] narrow_text;
    narrow_text = nullptr;
    int n = plat_utf16_to_utf8(text, nullptr, 0);
    if (n < 1) return nullptr;
    narrow_text = new (std::nothrow) char[static_cast<size_t>(n) + 1];
    if (!narrow_text) return nullptr;
    std::memset(narrow_text, 0, static_cast<size_t>(n) + 1);
    int size = n;
    to_utf8(text, narrow_text, &size);
    return narrow_text;
}
