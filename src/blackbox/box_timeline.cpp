// The Chrome Trace Event Format timeline of a box's events.
#include "blackbox/box_timeline.h"

#include <cstdio>
#include <map>

#include "blackbox/box_format.h"

namespace {

void append_json_text(std::string* out, const std::string& text) {
    *out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            *out += esc;
        } else {
            *out += static_cast<char>(c);
        }
    }
    *out += '"';
}

struct track_s {
    std::vector<std::string> open;  // functions of the scopes open, innermost last
    double last_us;
    std::string name;
};

}  // namespace

std::string box_timeline_json(const std::vector<box_event_s>& events, const std::vector<std::string>& names, unsigned long pid) {
    std::string out = "{\"displayTimeUnit\":\"ns\",\"traceEvents\":[";
    const std::string pid_text = std::to_string(pid);
    bool first = true;
    auto event = [&](const char* ph, const std::string& name, uint64_t tid, double us, const std::string& extra) {
        out += first ? "\n" : ",\n";
        first = false;
        char ts[48];
        std::snprintf(ts, sizeof ts, "%.3f", us);
        out += "{\"ph\":\"" + std::string(ph) + "\",\"pid\":" + pid_text + ",\"tid\":" + std::to_string(tid) + ",\"ts\":" + ts + ",\"name\":";
        append_json_text(&out, name);
        out += extra + "}";
    };
    std::map<uint64_t, track_s> tracks;
    const uint64_t origin = events.empty() ? 0 : events.front().wall_ns;
    for (const box_event_s& e : events) {
        const double us = static_cast<double>(e.wall_ns - origin) / 1000.0;
        track_s& t = tracks[e.thread_id];
        t.last_us = us;
        if (e.region < names.size() && !names[e.region].empty()) t.name = names[e.region];
        if (e.kind == BOX_REC_ENTER) {
            t.open.push_back(e.function);
            event("B", e.function, e.thread_id, us, "");
        } else if (e.kind == BOX_REC_LEAVE) {
            if (t.open.empty()) continue;  // its enter was overwritten
            event("E", t.open.back(), e.thread_id, us, "");
            t.open.pop_back();
        } else {
            std::string extra = ",\"s\":\"t\",\"args\":{\"rank\":";
            append_json_text(&extra, box_rank_name(e));
            extra += ",\"function\":";
            append_json_text(&extra, e.function);
            extra += "}";
            event("i", box_format_message(e.format, e.args), e.thread_id, us, extra);
        }
    }
    for (auto& [tid, t] : tracks) {
        while (!t.open.empty()) {
            event("E", t.open.back(), tid, t.last_us, "");
            t.open.pop_back();
        }
        std::string extra = ",\"args\":{\"name\":";
        append_json_text(&extra, t.name.empty() ? "thread " + std::to_string(tid) : t.name + " (" + std::to_string(tid) + ")");
        extra += "}";
        event("M", "thread_name", tid, 0, extra);
    }
    out += "\n]}\n";
    return out;
}
