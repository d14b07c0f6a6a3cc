// Output dispatch: one formatted line or one long text to the log file
// (through the manager, under its writer lock), then to standard output,
// the debugger output and the host callback.
#include "front/output.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "kor/api_call.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"

std::atomic<katr_callback_f> g_katr_callback{nullptr};

namespace {

const char* const TOO_LONG = "\r\nError!, Formatted string (%s) is too long!!!\r\n";

}  // namespace

size_t format_line(char* line, const char* format, va_list arguments) {
    line[0] = 0;
    int n = std::vsnprintf(line, KATR_LINE_BUFFER, format ? format : "", arguments);
    if (n < 0 || static_cast<size_t>(n) > KATR_LINE_BUFFER - 1) {
        // The error text names the format (cut so that it always fits).
        char quoted[KATR_FORMAT_QUOTE + 1];
        size_t q = 0;
        if (format)
            while (q < KATR_FORMAT_QUOTE && format[q]) {
                quoted[q] = format[q];
                ++q;
            }
        quoted[q] = 0;
        n = std::snprintf(line, KATR_LINE_BUFFER, TOO_LONG, quoted);
        return n < 0 ? 0 : static_cast<size_t>(n);
    }
    size_t len = static_cast<size_t>(n);
    if (len > 0 && line[len - 1] == '\n' && (len == 1 || line[len - 2] != '\r') &&
        len + 2 <= KATR_LINE_BUFFER) {
        line[len - 1] = '\r';
        line[len] = '\n';
        line[len + 1] = 0;
        ++len;
    }
    return len;
}

size_t format_line_nl(char* line, const char* format, va_list arguments) {
    if (!format) format = "";
    size_t flen = std::strlen(format);
    size_t percents = 0;
    while (percents < flen && format[flen - 1 - percents] == '%') ++percents;
    if (percents % 2) {
        // A format ending in a lone '%' would take the CR as its conversion:
        // format the joined text itself.
        char* joined = new (std::nothrow) char[flen + 3];
        if (!joined) return format_line(line, format, arguments);
        std::memcpy(joined, format, flen);
        std::memcpy(joined + flen, "\r\n", 3);
        size_t n = format_line(line, joined, arguments);
        delete[] joined;
        return n;
    }
    line[0] = 0;
    int n = std::vsnprintf(line, KATR_LINE_BUFFER, format, arguments);
    if (n < 0 || static_cast<size_t>(n) + 2 > KATR_LINE_BUFFER - 1) {
        char quoted[KATR_FORMAT_QUOTE + 1];
        size_t q = 0;
        for (; q < KATR_FORMAT_QUOTE && format[q]; ++q) quoted[q] = format[q];
        if (q < KATR_FORMAT_QUOTE) quoted[q++] = '\r';
        if (q < KATR_FORMAT_QUOTE) quoted[q++] = '\n';
        quoted[q] = 0;
        n = std::snprintf(line, KATR_LINE_BUFFER, TOO_LONG, quoted);
        return n < 0 ? 0 : static_cast<size_t>(n);
    }
    size_t len = static_cast<size_t>(n);
    line[len] = '\r';
    line[len + 1] = '\n';
    line[len + 2] = 0;
    return len + 2;
}

size_t format_callback_text(char* text, const char* format, va_list arguments) {
    text[0] = 0;
    int n = std::vsnprintf(text, KATR_CALLBACK_BUFFER, format ? format : "", arguments);
    if (n < 0) {
        text[0] = 0;
        return 0;
    }
    size_t len = static_cast<size_t>(n) < KATR_CALLBACK_BUFFER ? static_cast<size_t>(n) : KATR_CALLBACK_BUFFER - 1;
    text[len] = 0;
    char* cut = static_cast<char*>(std::memchr(text, '\r', len));
    if (!cut) cut = static_cast<char*>(std::memchr(text, '\n', len));
    if (cut) {
        *cut = 0;
        len = static_cast<size_t>(cut - text);
    }
    return len;
}

bool image_is_console(const unsigned char* image, size_t size) {
    if (!image || size < 0x40) return false;
    if (image[0] != 'M' || image[1] != 'Z') return false;
    unsigned long long nt = static_cast<unsigned long long>(image[0x3C]) |
                            static_cast<unsigned long long>(image[0x3D]) << 8 |
                            static_cast<unsigned long long>(image[0x3E]) << 16 |
                            static_cast<unsigned long long>(image[0x3F]) << 24;
    if (nt + 0x5E > size) return false;
    const unsigned char* h = image + nt;
    if (h[0] != 'P' || h[1] != 'E' || h[2] != 0 || h[3] != 0) return false;
    unsigned subsystem = static_cast<unsigned>(h[0x5C]) | static_cast<unsigned>(h[0x5D]) << 8;
    return subsystem == 3;
}

bool is_console_application() {
    // The headers of a mapped image lie in its first page.
    static std::atomic<int> cached{-1};
    int v = cached.load(std::memory_order_relaxed);
    if (v < 0) {
        v = image_is_console(plat_exe_image(), 4096) ? 1 : 0;
        cached.store(v, std::memory_order_relaxed);
    }
    return v == 1;
}

void write_line(trace_manager_c* manager, unsigned rank, const char* prefix, size_t prefix_length,
                size_t banner_length, unsigned thread_id, const char* format, bool new_line,
                va_list arguments) {
    char line[KATR_LINE_BUFFER];
    size_t n = new_line ? format_line_nl(line, format, arguments) : format_line(line, format, arguments);
    if (!prefix) prefix_length = 0;
    if (banner_length > prefix_length) banner_length = prefix_length;
    // Nothing below may run again on this thread from a signal handler or
    // a debugger-output hook.
    busy_region_c busy;
    manager->write_line(&prefix, &prefix_length, banner_length, thread_id, line, n);
    if (manager->screen_ranks.load(std::memory_order_relaxed) & rank) {
        if (prefix_length)
            std::fprintf(stdout, "%s%s", prefix, line);
        else
            std::fprintf(stdout, "%s", line);
    }
    if ((manager->debugger_ranks.load(std::memory_order_relaxed) & rank) && plat_debug_output_active()) {
        plat_debug_output(prefix, prefix_length);
        plat_debug_output(line, n);
    }
}

void write_long_string(trace_manager_c* manager, unsigned rank, const char* prefix,
                       unsigned long long prefix_length, const char* text,
                       unsigned long long text_length) {
    if (!prefix) prefix_length = 0;
    if (!text) text_length = 0;
    busy_region_c busy;
    manager->write_text(prefix, prefix_length, text, text_length);
    if (manager->screen_ranks.load(std::memory_order_relaxed) & rank) {
        // The text up to its first NUL byte, never past its length.
        const void* nul = text ? std::memchr(text, 0, static_cast<size_t>(text_length)) : nullptr;
        size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : static_cast<size_t>(text_length);
        if (prefix) std::fputs(prefix, stdout);
        if (n) std::fwrite(text, 1, n, stdout);
    }
    if ((manager->debugger_ranks.load(std::memory_order_relaxed) & rank) && plat_debug_output_active()) {
        if (prefix) plat_debug_output(prefix, static_cast<size_t>(prefix_length));
        if (text) plat_debug_output(text, static_cast<size_t>(text_length));
    }
}

namespace {

// The ranks whose messages reach the host callback.
const unsigned CALLBACK_RANKS = KATR_RANK_FATAL | KATR_RANK_ERROR | KATR_RANK_WARNING;

// Set while the calling thread runs the host callback: a line the callback
// traces itself goes to the other outputs but not to the callback again.
thread_local bool t_in_callback = false;

}  // namespace

void run_callback(unsigned rank, const char* format, va_list arguments) {
    if (!g_katr_callback.load(std::memory_order_relaxed) || !(rank & CALLBACK_RANKS) || t_in_callback ||
        is_console_application())
        return;
    char text[KATR_CALLBACK_BUFFER];
    format_callback_text(text, format, arguments);
    // The pointer may have been removed meanwhile: read it again.
    if (katr_callback_f callback = g_katr_callback.load(std::memory_order_acquire)) {
        struct in_callback_s {
            in_callback_s() { t_in_callback = true; }
            ~in_callback_s() { t_in_callback = false; }
        } inside;
        callback(text, static_cast<unsigned long>(rank));
    }
}
