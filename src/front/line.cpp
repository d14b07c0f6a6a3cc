// Pieces of a trace line that do not depend on the entry object: the time
// piece (cached per thread for the current second, so that localtime runs
// once a second per tracing thread, not once per line) and decimal numbers.
#include "front/line.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "kor/mix.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace {

struct time_cache_s {
    long long second;
    size_t length;
    char text[KATR_TIME_PIECE];
};
thread_local time_cache_s t_time_cache = {-1, 0, {0}};

}  // namespace

size_t format_time_piece(long long second, char* out) {
    out[0] = 0;
    struct tm t;
    std::memset(&t, 0, sizeof t);
    if (!mix_n::localtime_r(&second, &t)) return 0;
    int n = std::snprintf(out, KATR_TIME_PIECE, "(%04d/%02d/%02d %02d:%02d:%02d) ", t.tm_year + 1900,
                          t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    if (n < 0 || static_cast<size_t>(n) >= KATR_TIME_PIECE) {
        out[0] = 0;
        return 0;
    }
    return static_cast<size_t>(n);
}

const char* current_time_piece(size_t* length) {
    time_cache_s& c = t_time_cache;
    long long now = plat_time();
    if (now != c.second) {
        c.length = format_time_piece(now, c.text);
        c.second = now;
    }
    *length = c.length;
    return c.text;
}

void append_decimal(tr_stream_c& out, unsigned long long value) {
    char digits[mix_n::DECIMAL_DIGITS];
    const char* start = mix_n::format_decimal(value, digits);
    out.append_n(start, static_cast<size_t>(digits + sizeof digits - start));
}

void append_decimal(tr_stream_c& out, long long value) {
    if (value < 0) {
        out.append_n("-", 1);
        append_decimal(out, 0ULL - static_cast<unsigned long long>(value));
    } else {
        append_decimal(out, static_cast<unsigned long long>(value));
    }
}
