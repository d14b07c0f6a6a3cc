// tr_stream_c: growable NUL-terminated narrow text builder.
//
// Growth is sized by the request: small requests get 16 bytes of room,
// medium ones 20 % slack, requests of 512 characters or more exactly what
// they ask for; and, once the text holds 4096 characters, at least the
// current length, so that a long text built by many appends (a reply with
// thousands of error lines, a large report) is copied a logarithmic number
// of times rather than once per append. The allocation is always one byte
// more than `capacity`. Allocation failures leave the stream as it was (the
// append is dropped); nothing here throws.
#include "support/tr_stream.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "kor/mix.h"

namespace {
// Requests beyond this are refused: they cannot be honoured and the size
// arithmetic below must not wrap.
const unsigned long long max_request = 1ULL << 40;
// From this length on a growing stream at least doubles its room.
const unsigned long long geometric_from = 4096;
}

tr_stream_c::tr_stream_c() : buffer(nullptr), length(0), capacity(0) {
    reserve(0);
}

tr_stream_c::tr_stream_c(const tr_stream_c& other) : buffer(nullptr), length(0), capacity(0) {
    reserve(0);
    append(other);
}

tr_stream_c& tr_stream_c::operator=(const tr_stream_c& other) {
    if (&other == this) return *this;
    truncate(0);
    return append(other);
}

tr_stream_c::~tr_stream_c() {
    delete[] buffer;
}

void tr_stream_c::reserve(unsigned long long n) {
    if (n > max_request) return;
    if (capacity == 0) {
        unsigned long long cap = (n < 4 ? 4 : n) + 1;
        char* fresh = new (std::nothrow) char[cap + 1];
        if (!fresh) return;
        delete[] buffer;
        buffer = fresh;
        buffer[0] = 0;
        capacity = cap;
        length = 0;
        return;
    }
    if (capacity >= length + n + 1) return;

    unsigned long long step;
    if (n < 16)
        step = 16;
    else if (n < 512)
        step = static_cast<unsigned long long>(static_cast<double>(n) * 1.2);
    else
        step = n;
    // A long stream at least doubles (geometric growth); short ones, such
    // as trace lines, keep the request-sized steps.
    if (length >= geometric_from && step < length) step = length;
    unsigned long long cap = length + step + 1;
    char* fresh = new (std::nothrow) char[cap + 1];
    if (!fresh) return;
    if (buffer && buffer[0])
        std::memcpy(fresh, buffer, length + 1);
    else
        fresh[0] = 0;
    delete[] buffer;
    buffer = fresh;
    capacity = cap;
}

tr_stream_c& tr_stream_c::append_n(const char* text, unsigned long long n) {
    if (!text || n == 0) return *this;
    // Text taken from this stream's own buffer (s.append(s.c_str() + k))
    // must be found again after reserve has moved the buffer.
    const uintptr_t at = reinterpret_cast<uintptr_t>(text);
    const uintptr_t base = reinterpret_cast<uintptr_t>(buffer);
    const bool own = buffer && at >= base && at <= base + length;
    const unsigned long long offset = own ? at - base : 0;
    reserve(n);
    // reserve may have failed (allocation, absurd size): drop the append.
    if (!buffer || capacity < length + n + 1) return *this;
    if (own) text = buffer + offset;
    std::memmove(buffer + length, text, n);
    length += n;
    buffer[length] = 0;
    return *this;
}

tr_stream_c& tr_stream_c::append(const char* text) {
    if (!text || !text[0]) return *this;
    return append_n(text, std::strlen(text));
}

tr_stream_c& tr_stream_c::append(const tr_stream_c& other) {
    if (!other.buffer || !other.buffer[0]) return *this;
    // Self-append: the length is taken before reserve may move the buffer.
    if (&other == this) {
        unsigned long long n = length;
        reserve(n);
        if (!buffer || capacity < length + n + 1) return *this;
        std::memcpy(buffer + length, buffer, n);
        length += n;
        buffer[length] = 0;
        return *this;
    }
    return append_n(other.buffer, std::strlen(other.buffer));
}

tr_stream_c& tr_stream_c::append(char c) {
    if (c == 0) return *this;
    if (c == 1) {
        if (buffer) buffer[0] = 0;
        length = 0;
        return *this;
    }
    return append_n(&c, 1);
}

namespace {
// Appends what snprintf wrote into local (n characters, or a failure).
tr_stream_c& append_printed(tr_stream_c& s, const char* local, size_t size, int n) {
    if (n > 0 && static_cast<size_t>(n) < size) s.append_n(local, static_cast<unsigned long long>(n));
    return s;
}
}

// Each format is a literal at its call, so that the compiler checks it
// against the argument's type.
#define KATR_APPEND_PRINTED(fmt, value)                                    \
  do {                                                                     \
    char local[32];                                                        \
    return append_printed(*this, local, sizeof local,                      \
                          std::snprintf(local, sizeof local, fmt, value)); \
  } while (0)

tr_stream_c& tr_stream_c::append(short v) { KATR_APPEND_PRINTED("%d", static_cast<int>(v)); }
tr_stream_c& tr_stream_c::append(int v) { KATR_APPEND_PRINTED("%d", v); }
tr_stream_c& tr_stream_c::append(long v) { KATR_APPEND_PRINTED("%ld", v); }
tr_stream_c& tr_stream_c::append(unsigned short v) { KATR_APPEND_PRINTED("%u", static_cast<unsigned>(v)); }
tr_stream_c& tr_stream_c::append(unsigned int v) { KATR_APPEND_PRINTED("%u", v); }
tr_stream_c& tr_stream_c::append(unsigned long v) { KATR_APPEND_PRINTED("%lu", v); }
tr_stream_c& tr_stream_c::append(long long v) { KATR_APPEND_PRINTED("%lld", v); }
tr_stream_c& tr_stream_c::append(unsigned long long v) { KATR_APPEND_PRINTED("%llu", v); }
#undef KATR_APPEND_PRINTED

// Inside +-2147483647 (and for NaN, which fails both comparisons) four
// decimals with trailing zeros and a bare point trimmed; beyond, exponent form.
tr_stream_c& tr_stream_c::append(double v) {
    char local[32];
    std::memset(local, 0, sizeof local);
    if (!(v <= -2147483647.0) && !(v >= 2147483647.0)) {
        std::snprintf(local, sizeof local, "%.4lf", v);
        size_t n = std::strlen(local);
        if (std::strchr(local, '.')) {
            while (n > 1 && local[n - 1] == '0') local[--n] = 0;
            if (n > 1 && local[n - 1] == '.') local[--n] = 0;
        }
    } else {
        std::snprintf(local, sizeof local, "%15.9le", v);
    }
    return append(local);
}

tr_stream_c& tr_stream_c::append(bool v) {
    return append(v ? mix_n::True : mix_n::False);
}

void tr_stream_c::truncate(unsigned long long new_length) {
    if (length > new_length) {
        length = new_length;
        buffer[length] = 0;
    }
}

void tr_stream_c::set_char(unsigned long long pos, char c) {
    if (pos >= length) return;
    if (c == 0)
        truncate(pos);
    else
        buffer[pos] = c;
}

void tr_stream_c::insert_cr(unsigned long long pos) {
    if (pos > length) return;
    if (pos == length) {
        append('\r');
        return;
    }
    reserve(1);
    if (!buffer || capacity < length + 2) return;
    // Shift the tail and its NUL one place to the right.
    std::memmove(buffer + pos + 1, buffer + pos, length - pos + 1);
    buffer[pos] = '\r';
    ++length;
}

// Gives every LF that is not already preceded by a CR its CR. The result is
// the same as calling insert_cr before each such LF from left to right, done
// in one pass: count, make room once, then widen from the back.
void tr_stream_c::to_crlf() {
    if (!buffer || length == 0) return;
    unsigned long long missing = 0;
    for (unsigned long long i = 0; i < length; ++i)
        if (buffer[i] == '\n' && (i == 0 || buffer[i - 1] != '\r')) ++missing;
    if (missing == 0) return;
    reserve(missing);
    if (!buffer || capacity < length + missing + 1) return;
    unsigned long long src = length;  // one past the source byte
    unsigned long long dst = length + missing;
    buffer[dst] = 0;
    while (src > 0) {
        char c = buffer[--src];
        buffer[--dst] = c;
        if (c == '\n' && (src == 0 || buffer[src - 1] != '\r')) buffer[--dst] = '\r';
    }
    length += missing;
}

int tr_stream_c::compare(const char* text, bool case_sensitive) const {
    if (!buffer && !text) return 0;
    if (!buffer) return text[0] ? -1 : 0;
    if (!text) return buffer[0] ? 1 : 0;
    const unsigned char* a = reinterpret_cast<const unsigned char*>(buffer);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text);
    for (;; ++a, ++b) {
        int ca = case_sensitive ? *a : mix_n::ascii_lower(*a);
        int cb = case_sensitive ? *b : mix_n::ascii_lower(*b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}
