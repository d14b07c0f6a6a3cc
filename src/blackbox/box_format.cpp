// printf formatting of recorded messages, and the reader's event lines.
#include "blackbox/box_format.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "config/rank_tables.h"
#include "platform/platform.h"

namespace {

const long MAX_WIDTH = 4096;

// One conversion printed into out with snprintf; spec is the conversion
// text with its numbers already substituted for '*', built by the parser
// below with the length that matches T: a format made here, not a
// recorded one, so the check of literal formats does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <class T>
void print_one(std::string* out, const std::string& spec, T value) {
    char small[256];
    const int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out->append(small, static_cast<size_t>(n));
        return;
    }
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    out->append(big.data(), static_cast<size_t>(n));
}
#pragma GCC diagnostic pop

bool integral(const box_value_s* v) { return v && (v->kind == BOX_ARG_INT || v->kind == BOX_ARG_UINT || v->kind == BOX_ARG_POINTER); }

}  // namespace

std::string box_format_message(const std::string& format, const std::vector<box_value_s>& args) {
    std::string out;
    size_t next = 0;
    auto take = [&]() -> const box_value_s* { return next < args.size() ? &args[next++] : nullptr; };
    const char* p = format.c_str();
    const char* end = p + format.size();
    while (p < end) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const char* start = p++;
        if (p < end && *p == '%') {
            out += '%';
            ++p;
            continue;
        }
        std::string spec = "%";
        while (p < end && std::strchr("-+ #0'", *p)) spec += *p++;
        bool bad = false;
        // Width and precision: digits, or '*' taking an int argument.
        for (int part = 0; part < 2; ++part) {
            if (part == 1) {
                if (p >= end || *p != '.') break;
                spec += *p++;
            }
            if (p < end && *p == '*') {
                ++p;
                const box_value_s* v = take();
                long n = integral(v) ? static_cast<long>(static_cast<int>(v->bits)) : (bad = true, 0);
                if (n < -MAX_WIDTH) n = -MAX_WIDTH;
                if (n > MAX_WIDTH) n = MAX_WIDTH;
                if (part == 1 && n < 0) spec.pop_back();  // a negative precision is none
                else spec += std::to_string(n);
            } else {
                long n = 0;
                bool digits = false;
                while (p < end && *p >= '0' && *p <= '9') {
                    if (n <= MAX_WIDTH) n = n * 10 + (*p - '0');
                    ++p, digits = true;
                }
                if (digits) spec += std::to_string(n > MAX_WIDTH ? MAX_WIDTH : n);
            }
        }
        std::string length;
        while (p < end && std::strchr("hljztLqI", *p)) {
            if (*p == 'I' && end - p >= 3 && (std::strncmp(p, "I64", 3) == 0 || std::strncmp(p, "I32", 3) == 0)) {
                length += p[1] == '6' ? "ll" : "";
                p += 3;
                continue;
            }
            if (*p == 'I') break;
            length += *p++;
        }
        if (p >= end) {
            out.append(start, static_cast<size_t>(end - start));
            break;
        }
        const char conv = *p++;
        if (bad) {
            out += "<?>";
            continue;
        }
        const box_value_s* v = nullptr;
        if (std::strchr("diouxXcCeEfFgGaAspSn", conv)) {
            v = take();
            if (!v) {
                out += "<missing>";
                continue;
            }
        }
        switch (conv) {
        case 'd':
        case 'i': {
            if (!integral(v)) break;
            long long x = static_cast<long long>(v->bits);
            if (length == "hh") x = static_cast<signed char>(x);
            else if (length == "h") x = static_cast<short>(x);
            else if (length.empty()) x = static_cast<int>(x);
            print_one(&out, spec + "ll" + conv, x);
            continue;
        }
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
            if (!integral(v)) break;
            unsigned long long x = v->bits;
            if (length == "hh") x = static_cast<unsigned char>(x);
            else if (length == "h") x = static_cast<unsigned short>(x);
            else if (length.empty()) x = static_cast<unsigned>(x);
            print_one(&out, spec + "ll" + conv, x);
            continue;
        }
        case 'c':
            if (!integral(v) || !length.empty()) break;
            print_one(&out, spec + conv, static_cast<int>(static_cast<unsigned char>(v->bits)));
            continue;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            if (v->kind != BOX_ARG_DOUBLE) break;
            double d;
            std::memcpy(&d, &v->bits, sizeof d);
            print_one(&out, spec + conv, d);
            continue;
        }
        case 's':
        case 'S':  // wide strings are recorded as 7-bit text
            if (v->kind == BOX_ARG_NULL_STRING) {
                print_one(&out, spec + 's', "(null)");
                continue;
            }
            if (v->kind != BOX_ARG_STRING) break;
            print_one(&out, spec + 's', v->text.c_str());
            if (v->cut) out += "[+" + std::to_string(v->cut) + " bytes]";
            continue;
        case 'p':
            if (!integral(v)) break;
            print_one(&out, spec + 'p', reinterpret_cast<const void*>(static_cast<uintptr_t>(v->bits)));
            continue;
        case 'n': continue;  // writes nothing: a count written through a pointer is never carried out
        default:
            // Not a conversion printf knows: its text as it stands.
            out.append(start, static_cast<size_t>(p - start));
            continue;
        }
        out += "<?>";
    }
    return out;
}

std::string box_rank_name(const box_event_s& e) {
    if (e.kind != BOX_REC_MESSAGE) return "trace";
    if (!e.rank_name.empty()) return e.rank_name;
    const char* name = find_rank_name(e.rank);
    if (name && *name && std::strcmp(name, "UNKNOWN") != 0) return name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", e.rank);
    return hex;
}

namespace {

// Local wall-clock time with microseconds, with or without the date.
std::string when(const box_event_s& e, bool date) {
    char text[64];
    struct tm tm;
    const long long seconds = static_cast<long long>(e.wall_ns / 1000000000u);
    const unsigned us = static_cast<unsigned>(e.wall_ns % 1000000000u / 1000u);
    if (!plat_localtime(seconds, &tm))
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(e.wall_ns));
    else if (date)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06u", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                      tm.tm_min, tm.tm_sec, us);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06u", tm.tm_hour, tm.tm_min, tm.tm_sec, us);
    return text;
}

// Rank, depth, function and the event's text.
std::string event_text(const box_event_s& e) {
    std::string line = box_rank_name(e) + (e.kind == BOX_REC_LEAVE ? "<-" : "->");
    for (unsigned d = e.depth; d > 0; --d) line += " . ";
    line += e.function + ":";
    if (e.kind == BOX_REC_ENTER) line += "enter->";
    else if (e.kind == BOX_REC_LEAVE) line += "<-leave";
    else line += box_format_message(e.format, e.args);
    return line;
}

}  // namespace

std::string box_event_line(const box_event_s& e, const std::string& thread_name) {
    std::string line = when(e, true);
    line += " [" + std::to_string(e.thread_id);
    if (!thread_name.empty()) line += " " + thread_name;
    return line + "] " + event_text(e);
}

std::string box_context_line(const box_event_s& e) { return when(e, false) + " " + event_text(e); }
