// UTF-8 <-> UTF-16 conversion with the results of the Windows conversion
// functions for code page 65001, flags 0 and NUL-terminated input: the
// terminator is converted and counted, and every ill-formed sequence and
// every lone surrogate becomes U+FFFD. An ill-formed sequence ends in front
// of the first byte that is not a continuation byte; a lead byte whose
// second byte makes an overlong form, a surrogate or a value above U+10FFFF
// forms one sequence with that byte (as the Windows conversion does).
#include "platform/platform.h"

#include <climits>
#include <cstdint>

namespace {

const uint32_t REPLACEMENT = 0xFFFD;

// Decodes one character starting at a non-NUL byte; returns the first byte
// after it. A NUL is never a continuation byte, so decoding stops in front
// of the terminator and never reads past it.
const unsigned char* decode_utf8(const unsigned char* p, uint32_t* cp) {
    unsigned b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        return p + 1;
    }
    int more;
    unsigned lo = 0x80, hi = 0xBF;
    uint32_t value;
    if (b0 < 0xC2) {
        *cp = REPLACEMENT;  // continuation byte or overlong two-byte lead
        return p + 1;
    } else if (b0 < 0xE0) {
        more = 1;
        value = b0 & 0x1F;
    } else if (b0 < 0xF0) {
        more = 2;
        value = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // encoded surrogates
    } else if (b0 < 0xF5) {
        more = 3;
        value = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        *cp = REPLACEMENT;
        return p + 1;
    }
    const unsigned char* q = p + 1;
    if ((*q & 0xC0) != 0x80) {
        *cp = REPLACEMENT;
        return q;
    }
    if (*q < lo || *q > hi) {
        *cp = REPLACEMENT;  // overlong, surrogate or too large: both bytes go
        return q + 1;
    }
    value = (value << 6) | (*q++ & 0x3F);
    while (--more > 0) {
        if ((*q & 0xC0) != 0x80) {
            *cp = REPLACEMENT;
            return q;
        }
        value = (value << 6) | (*q++ & 0x3F);
    }
    *cp = value;
    return q;
}

// Decodes one UTF-16 character starting at a non-NUL unit; returns the unit
// after it. The unit after a high surrogate is at most the terminator.
const katr_wchar_t* decode_utf16(const katr_wchar_t* p, uint32_t* cp) {
    uint32_t u = static_cast<uint16_t>(p[0]);
    if (u >= 0xD800 && u <= 0xDBFF) {
        uint32_t low = static_cast<uint16_t>(p[1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            *cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            return p + 2;
        }
        *cp = REPLACEMENT;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
        *cp = REPLACEMENT;
    } else {
        *cp = u;
    }
    return p + 1;
}

// Writes the UTF-8 form of one character; returns its length in bytes.
int encode_utf8(uint32_t cp, unsigned char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

// Counts (size query) or converts, terminator included; 0 when the target
// is too small or the result would not fit in an int.
int plat_utf8_to_utf16(const char* src, katr_wchar_t* dst, int dst_units) {
    if (!src || dst_units < 0) return 0;
    const bool query = !dst || dst_units == 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(src);
    long long n = 0;
    for (;;) {
        uint32_t cp = 0;
        if (*p != 0) p = decode_utf8(p, &cp);
        const int len = cp >= 0x10000 ? 2 : 1;
        if (!query) {
            if (n + len > dst_units) return 0;
            if (len == 2) {
                dst[n] = static_cast<katr_wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
                dst[n + 1] = static_cast<katr_wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                dst[n] = static_cast<katr_wchar_t>(cp);
            }
        }
        n += len;
        if (n > INT_MAX) return 0;
        if (cp == 0) return static_cast<int>(n);
    }
}

// Counts (size query) or converts, terminator included; 0 when the target
// is too small or the result would not fit in an int.
int plat_utf16_to_utf8(const katr_wchar_t* src, char* dst, int dst_bytes) {
    if (!src || dst_bytes < 0) return 0;
    const bool query = !dst || dst_bytes == 0;
    const katr_wchar_t* p = src;
    long long n = 0;
    for (;;) {
        uint32_t cp = 0;
        if (*p != 0) p = decode_utf16(p, &cp);
        unsigned char bytes[4];
        const int len = encode_utf8(cp, bytes);
        if (!query) {
            if (n + len > dst_bytes) return 0;
            for (int i = 0; i < len; ++i) dst[n + i] = static_cast<char>(bytes[i]);
        }
        n += len;
        if (n > INT_MAX) return 0;
        if (cp == 0) return static_cast<int>(n);
    }
}
