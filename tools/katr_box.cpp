// katr_box: prints the events of a black box (a .kbox file), of every
// thread merged in time order, one line each. Reads a box whose host is
// still running as well as one left by a host that crashed. Exit status 0
// when the box decoded whole, 1 when it is damaged, truncated or no box
// (after printing what could be decoded), 2 for bad arguments.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blackbox/box_decoder.h"
#include "blackbox/box_format.h"
#include "blackbox/box_timeline.h"
#include "platform/platform.h"
#include "tool_args.h"

namespace {

int usage(FILE* out) {
    std::fputs("usage: katr_box [--last N] [--thread ID] [--timeline OUT.json] FILE.kbox\n"
               "Prints the events of a katrace black box in time order, one line each:\n"
               "time, [thread id and name], rank, function and message.\n"
               "  --last N     only the newest N events\n"
               "  --thread ID  only the events of the thread with system id ID\n"
               "  --timeline OUT.json\n"
               "               also write the events chosen as a timeline (Chrome Trace\n"
               "               Event Format, for Perfetto's UI or chrome://tracing)\n",
               out);
    return out == stdout ? 0 : 2;
}

}  // namespace

int run(const std::vector<std::string>& args) {
    const int argc = static_cast<int>(args.size());
    const char* file = nullptr;
    const char* timeline = nullptr;
    unsigned long long last = 0, thread = 0;
    bool has_last = false, has_thread = false;
    for (int i = 0; i < argc; ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") return usage(stdout);
        if (a == "--timeline") {
            if (i + 1 >= argc) {
                std::fputs("katr_box: --timeline needs a file name\n", stderr);
                return usage(stderr);
            }
            timeline = args[++i].c_str();
        } else if (a == "--last" || a == "--thread") {
            unsigned long long n = 0;
            if (i + 1 >= argc || !tool_number(args[i + 1], ~0ull, &n)) {
                std::fprintf(stderr, "katr_box: %s needs a number\n", a.c_str());
                return usage(stderr);
            }
            ++i;
            if (a == "--last") last = n, has_last = true;
            else thread = n, has_thread = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "katr_box: unknown option %s\n", a.c_str());
            return usage(stderr);
        } else if (file) {
            std::fputs("katr_box: more than one file\n", stderr);
            return usage(stderr);
        } else {
            file = args[i].c_str();
        }
    }
    if (!file) return usage(stderr);

    plat_mapping_s m;
    if (!plat_read_live_file(file, &m)) {
        std::fprintf(stderr, "katr_box: %s: cannot be read (system error %lu)\n", file, plat_last_error());
        return 1;
    }
    // A heap copy (8-byte aligned) of the file, or on Windows a view.
    box_decoder_c d;
    std::vector<box_event_s> events;
    const bool opened = d.open(reinterpret_cast<const unsigned char*>(m.data), m.size);
    if (opened) d.read_all(&events);
    std::vector<std::string> names(d.region_count());
    for (unsigned i = 0; i < d.region_count(); ++i) names[i] = d.thread_of(i).name;
    std::stable_sort(events.begin(), events.end(), [](const box_event_s& a, const box_event_s& b) { return a.ticks < b.ticks; });
    if (has_thread)
        events.erase(std::remove_if(events.begin(), events.end(), [&](const box_event_s& e) { return e.thread_id != thread; }), events.end());
    size_t from = has_last && last < events.size() ? events.size() - static_cast<size_t>(last) : 0;
    for (size_t i = from; i < events.size(); ++i) std::printf("%s\n", box_event_line(events[i], names[events[i].region]).c_str());
    std::fflush(stdout);
    plat_unmap_file(&m);
    bool written = true;
    if (timeline) {
        const std::vector<box_event_s> chosen(events.begin() + static_cast<std::ptrdiff_t>(from), events.end());
        const std::string json = box_timeline_json(chosen, names, d.pid());
        FILE* out = std::fopen(timeline, "wb");
        written = out && std::fwrite(json.data(), 1, json.size(), out) == json.size();
        if (out && std::fclose(out) != 0) written = false;
        if (!written) std::fprintf(stderr, "katr_box: %s: cannot be written\n", timeline);
    }
    for (const std::string& p : d.problems()) std::fprintf(stderr, "katr_box: %s: %s\n", file, p.c_str());
    return d.problems().empty() && written ? 0 : 1;
}

KATR_TOOL_MAIN(run)
