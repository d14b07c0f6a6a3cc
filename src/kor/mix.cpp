// mix_n: the Boolean words, wildcard comparison, time text and the
// executable's directory and name.
#include "kor/mix.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace mix_n {

const char* const True = "true";
const char* const False = "false";

namespace {
inline unsigned char fold(unsigned char c, bool no_case) { return no_case ? ascii_lower(c) : c; }
}

const char* parse_decimal(const char* text, unsigned* value, bool* overflow) {
    if (!text || *text < '0' || *text > '9') return nullptr;
    unsigned long long v = 0;
    bool over = false;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + static_cast<unsigned>(*text - '0');
        if (v > 0xFFFFFFFFull) {
            over = true;
            v = 0xFFFFFFFFull;
        }
    }
    if (value) *value = static_cast<unsigned>(v);
    if (overflow) *overflow = over;
    return text;
}

char* format_decimal(unsigned long long value, char* digits) {
    char* p = digits + DECIMAL_DIGITS;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    return p;
}

int stricmp_ascii(const char* a, const char* b) {
    if (!a) a = "";
    if (!b) b = "";
    for (;; ++a, ++b) {
        const int ca = ascii_lower(static_cast<unsigned char>(*a));
        const int cb = ascii_lower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

// Greedy matching with a single backtrack point: on a mismatch the last '*'
// takes one more character and matching resumes behind it. A later '*'
// replaces the backtrack point, because whatever the earlier star would
// swallow additionally the later one can swallow as well. Runs in
// O(pattern * text) at worst, without recursion.
bool regcmp(const char* pattern, const char* text, bool no_case) {
    if (!pattern || !text) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern);
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* star = nullptr;       // pattern position behind the last '*'
    const unsigned char* star_text = nullptr;  // text position that star covers up to
    while (*t) {
        if (*p == '*') {
            while (*p == '*') ++p;
            if (!*p) return true;  // a trailing star takes the rest
            star = p;
            star_text = t;
        } else if (*p && (*p == '?' || fold(*p, no_case) == fold(*t, no_case))) {
            ++p;
            ++t;
        } else if (star) {
            p = star;
            t = ++star_text;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

bool localtime_r(const long long* t, struct tm* out) {
    if (!t || !out) return false;
    return plat_localtime(*t, out);
}

// Same layout as the C library's asctime, without the line feed.
char* ctime_r(const long long* t, char* buf) {
    static const char days[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char months[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!buf) return nullptr;
    buf[0] = 0;
    struct tm tmv;
    std::memset(&tmv, 0, sizeof tmv);
    if (!localtime_r(t, &tmv)) return buf;
    if (tmv.tm_wday < 0 || tmv.tm_wday > 6 || tmv.tm_mon < 0 || tmv.tm_mon > 11) return buf;
    int n = std::snprintf(buf, 32, "%s %s%3d %.2d:%.2d:%.2d %d", days[tmv.tm_wday], months[tmv.tm_mon],
                          tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, tmv.tm_year + 1900);
    if (n < 0 || n >= 32) buf[0] = 0;
    return buf;
}

namespace {
// The executable's directory and name, split once per process.
struct exe_info_s {
    bool valid;
    char dir[KOR_MAX_PATH];
    char name[KOR_MAX_PATH];

    exe_info_s() : valid(false) {
        dir[0] = name[0] = 0;
        char path[KOR_MAX_PATH];
        if (!plat_exe_path(path, sizeof path)) return;
        size_t len = std::strlen(path);
        if (len == 0) return;
        size_t slash = len;  // position of the last separator, len when none
        for (size_t i = 0; i < len; ++i) {
            if (path[i] == '\\') path[i] = '/';
            if (path[i] == '/') slash = i;
        }
        if (slash == len) {
            std::memcpy(name, path, len + 1);
        } else {
            std::memcpy(dir, path, slash);
            dir[slash] = 0;
            std::memcpy(name, path + slash + 1, len - slash);
        }
        valid = true;
    }
};

const exe_info_s& exe_info() {
    // Built on first use (thread-safe static initialisation) and kept for the
    // life of the process: callers hold on to the texts.
    static const exe_info_s* info = new exe_info_s;
    return *info;
}

const char* copy_out(const char* text, char* buf) {
    if (!buf) return text;
    // Cut to the buffer's size, always terminated.
    const size_t n = std::min(std::strlen(text), static_cast<size_t>(KOR_MAX_PATH - 1));
    std::memcpy(buf, text, n);
    buf[n] = 0;
    return buf;
}
}

const char* get_exe_dir(char* buf) {
    const exe_info_s& info = exe_info();
    if (!info.valid) {
        if (buf) buf[0] = 0;
        return nullptr;
    }
    return copy_out(info.dir, buf);
}

const char* get_exe_name(char* buf) {
    const exe_info_s& info = exe_info();
    if (!info.valid) {
        if (buf) buf[0] = 0;
        return nullptr;
    }
    return copy_out(info.name, buf);
}

}  // namespace mix_n
