// Nothing lost under load: threads trace through nested scopes, with lines
// of very different lengths, while the configuration reloads over and over
// and the log file rotates every few lines. Every kept file is then parsed:
// byte-order mark and file banner, whole lines and reload banners, a thread
// banner followed by that thread's line, each thread's lines exactly once
// and in the order it traced them, and no file past LogFileSize by more
// than its last line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "front/front_fixture.h"

namespace fs = std::filesystem;

namespace {

const int kThreads = 4, kLevels = 3;
const char kFile[] = "load_test.cpp";
const size_t kFileSize = 4096;  // the largest LogFileSize the test sets

// The outermost message of a scope carries 0 to 1499 more characters, so
// that some lines take a good part of a file and others little.
std::string payload(int thread, int seq, int level) {
    return level == 1 ? " " + std::string(static_cast<size_t>(thread * 7919 + seq * 104729) % 1500, 'x') : "";
}

// One trace site per thread and level, so that every line names its thread
// (enter and leave lines by the function, messages by their text).
struct site_s {
    unsigned mask = KATR_RANK_SITE_DEFAULT, generation = 0;
    char function[32] = {0};
};

void traced_scope(site_s* sites, int thread, int seq, int level) {
    static const unsigned ranks[] = {KATR_RANK_ERROR, KATR_RANK_WARNING, KATR_RANK_DEBUG};
    site_s& s = sites[level - 1];
    katr_entry_c e(s.function, kFile, &s.mask, &s.generation, 100 + level, true);
    e.print(KATR_RANK_LOG, 300, "hidden t%d s%d", thread, seq);  // rank not enabled: never written
    e.print_nl(ranks[level - 1], 200 + level, "msg t%d s%d d%d%s", thread, seq, level, payload(thread, seq, level).c_str());
    if (level < kLevels) traced_scope(sites, thread, seq, level + 1);
}

// The lines of one thread as they must appear behind the time piece.
std::vector<std::string> expected_lines(int thread, int iterations, site_s* sites) {
    static const char* const rank_names[] = {"error->", "warning->", ""};
    std::vector<std::string> lines;
    std::string indent[kLevels + 1];
    for (int l = 1; l <= kLevels; ++l) indent[l] = indent[l - 1] + " . ";
    for (int s = 0; s < iterations; ++s) {
        for (int l = 1; l <= kLevels; ++l) {
            lines.push_back(std::to_string(100 + l) + ":" + indent[l] + kFile + ":" + sites[l - 1].function +
                            ":enter->\r\n");
            lines.push_back(std::to_string(200 + l) + ":" + rank_names[l - 1] + indent[l] + "   msg t" +
                            std::to_string(thread) + " s" + std::to_string(s) + " d" + std::to_string(l) +
                            payload(thread, s, l) + "\r\n");
        }
        for (int l = kLevels; l >= 1; --l)
            lines.push_back(indent[l] + kFile + ":" + sites[l - 1].function + ":<-leave\r\n");
    }
    return lines;
}

// "(YYYY/MM/DD hh:mm:ss) " at pos.
bool is_time_piece(const std::string& s, size_t pos) {
    static const char form[] = "(dddd/dd/dd dd:dd:dd) ";
    for (size_t i = 0; form[i]; ++i) {
        char c = pos + i < s.size() ? s[pos + i] : '\0';
        if (form[i] == 'd' ? (c < '0' || c > '9') : c != form[i]) return false;
    }
    return true;
}

// The thread a line (behind its time piece) belongs to; -1 when none.
int thread_of(const std::string& text) {
    size_t p = text.find(":Load::t");
    if (p == std::string::npos && (p = text.find("   msg t")) == std::string::npos) return -1;
    p += 8;
    int t = p < text.size() && text[p] >= '0' && text[p] <= '9' ? std::atoi(text.c_str() + p) : -1;
    return t < kThreads ? t : -1;
}

// A manager of its own from the front-end fixture; the trace sites are the test's.
class LoadConcurrent : public front_test {
protected:
    site_s sites[kThreads][kLevels];
    std::string banners[kThreads];             // each thread's banner line
    std::string jot, reload_tail;              // reload_tail: what follows the time text of a reload banner
    std::vector<std::string> found[kThreads];  // each thread's lines, oldest file first
    unsigned reload_banners = 0;

    unsigned file_loads = 0, failed_reloads = 0, rotations = 0, rotated_kept = 0;
    std::string current;

    void SetUp() override {
        front_test::SetUp();
        for (int t = 0; t < kThreads; ++t)
            for (int l = 0; l < kLevels; ++l)
                std::snprintf(sites[t][l].function, sizeof sites[t][l].function, "Load::t%d_level%d", t, l + 1);
    }

    // Runs the tracing threads and the reloading thread, which makes `rounds`
    // rounds of a text parse and a file load spread over the tracers' run:
    // round k waits until the tracers have done k/rounds of their work, and
    // no tracer runs more than a round ahead of it.
    void run(int iterations, unsigned rounds) {
        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        std::atomic<unsigned> progress{0}, rounds_done{0};
        auto pause = [] { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
        std::vector<std::thread> pool;
        for (int t = 0; t < kThreads; ++t)
            pool.emplace_back([&, t] {
                katr_set_thread_info(("load-" + std::to_string(t)).c_str(), static_cast<unsigned long>(t) + 1);
                thread_trace_s* rec = m->get_thread_record();
                banners[t] = "== Thread " + std::to_string(rec->sys_id) + " (" + rec->display_name() + ") ==\r\n";
                ++ready;
                while (!go.load()) std::this_thread::yield();
                for (int s = 0; s < iterations; ++s) {
                    while (rounds_done.load() + 1 < static_cast<unsigned>(s) * rounds / iterations) pause();
                    traced_scope(sites[t], t, s, 1);
                    ++progress;
                }
            });
        std::thread reloader([&] {
            // None of the texts touches the ranks of the test's sites or the prefix switches.
            static const char* const texts[] = {
                "LogFileSize 3000\nClass Other +log\n", "LogFileSize 4096\nThreadByName spare off\n",
                "ThreadResume\nFunction Other::* +note\n", "AditionalRanks extra\nFile io_*.cpp +var\n"};
            for (unsigned k = 0; k < rounds; ++k) {
                while (progress.load() < k * kThreads * iterations / rounds) pause();
                tr_stream_c msgs;
                failed_reloads += !m->parse_buffer(texts[k % 4], msgs);
                failed_reloads += !m->reparse_file(jot.c_str(), nullptr, msgs);
                ++file_loads;
                ++rounds_done;
            }
        });
        while (ready.load() < kThreads) std::this_thread::yield();
        go = true;
        for (auto& t : pool) t.join();
        reloader.join();
        rotations = m->logger->file_number;
        rotated_kept = m->logger->rotated_files.num();
        current = m->logger->file_name.c_str();
    }

    // Reads the kept files, oldest first, into found; the rotated numbers
    // must be exactly first..last. Returns the first problem, "" when none.
    std::string scan(unsigned first, unsigned last) {
        std::map<unsigned, std::string> rotated;
        const std::string base = fs::u8path(current).filename().u8string();
        for (const auto& entry : fs::directory_iterator(fs::u8path(dir() + "/log"))) {
            std::string name = entry.path().filename().u8string();
            if (name.size() > base.size() + 1 && name.compare(0, base.size() + 1, base + ".") == 0 &&
                name.find_first_not_of("0123456789", base.size() + 1) == std::string::npos)
                rotated[static_cast<unsigned>(std::stoul(name.substr(base.size() + 1)))] = name;
            else if (name != base)
                return "stray file " + name;
        }
        if (rotated.size() != last + 1 - first ||
            (!rotated.empty() && (rotated.begin()->first != first || rotated.rbegin()->first != last)))
            return std::to_string(rotated.size()) + " rotated files, expected " + std::to_string(first) + ".." +
                   std::to_string(last);
        // The file rotated to number n was opened with banner number n - 1;
        // the current one carries the number of the latest rotation.
        std::string error;
        for (const auto& f : rotated)
            if (!(error = parse_file(dir() + "/log/" + f.second, f.first - 1)).empty()) return error;
        return parse_file(current, last);
    }

    std::string parse_file(const std::string& file, unsigned number) {
        const std::string s = read_file(file);
        auto fail = [&](size_t pos, const std::string& why) {
            return fs::u8path(file).filename().u8string() + " at " + std::to_string(pos) + ": " + why + ": \"" +
                   s.substr(std::min(pos, s.size()), 100) + "\"";
        };
        // Byte-order mark, then "<time> JOT Log File #<n>, Version = a.b.c.d" CR LF.
        if (s.compare(0, 3, "\xEF\xBB\xBF") != 0) return fail(0, "no byte-order mark");
        char head[96];
        std::snprintf(head, sizeof head, " JOT Log File #%u, Version = %d.%d.%d.%d\r\n", number, KATR_VERSION_MAJOR,
                      KATR_VERSION_MINOR, KATR_VERSION_RELEASE, KATR_VERSION_BUILD);
        size_t h = s.find(head);
        if (h == std::string::npos || h <= 3 || s.find_first_of("\r\n", 3) < h) return fail(3, "bad file banner");
        if (s.find("\xEF\xBB\xBF", 3) != std::string::npos) return fail(s.find("\xEF\xBB\xBF", 3), "second open");
        int banner_of = -1;  // the thread whose banner line came last
        size_t last = 3;     // where the last write began (a thread banner goes with its line)
        for (size_t pos = h + std::strlen(head); pos < s.size();) {
            if (banner_of < 0) last = pos;
            if (is_time_piece(s, pos)) {
                size_t end = s.find("\r\n", pos);
                if (end == std::string::npos) return fail(pos, "unterminated line");
                std::string text = s.substr(pos + 22, end + 2 - pos - 22);
                int t = thread_of(text);
                if (t < 0) return fail(pos, "line of no thread");
                if (banner_of >= 0 && banner_of != t) return fail(pos, "line after another thread's banner");
                banner_of = -1;
                found[t].push_back(text);
                pos = end + 2;
            } else if (banner_of >= 0) {
                return fail(pos, "thread banner without its line");
            } else if (s.compare(pos, 10, "== Thread ") == 0) {
                for (int t = 0; t < kThreads && banner_of < 0; ++t)
                    if (s.compare(pos, banners[t].size(), banners[t]) == 0) banner_of = t;
                if (banner_of < 0) return fail(pos, "unknown thread banner");
                pos += banners[banner_of].size();
            } else {  // a reload banner: the time text, then the fixed rest
                size_t mid = s.find(reload_tail.substr(0, 24), pos);
                if (mid == std::string::npos || mid == pos || s.find_first_of("\r\n", pos) < mid ||
                    s.compare(mid, reload_tail.size(), reload_tail) != 0)
                    return fail(pos, "not a trace line, thread banner or reload banner");
                ++reload_banners;
                pos = mid + reload_tail.size();
            }
        }
        if (banner_of >= 0) return fail(s.size(), "thread banner at the end of the file");
        // The byte-order mark is not counted; the write that reached the size may pass it.
        return last > kFileSize + 3 ? fail(last, "the file passed its size before this write") : "";
    }

    // Loads, runs and checks: every line of every thread is found once, in
    // the order it traced them. The rules of every kind leave the test's
    // sites at trace, error, warning and debug.
    void check(int iterations, unsigned rounds) {
        jot = path("load.jot");
        write_file(jot, "# load test\nLogDirectoryName " + dir() + "/log/\nLogFileSize 4096\nLogNumberOfFilesToKeep 1000000\n"
                        "DefaultLoggingRank trace error warning debug\nPrintTime on\nPrintLine on\nPrintFile on\n"
                        "PrintFunction on\nKeepStack on\nDoIndentation on\nPrintToDebugVew Off\nAditionalRanks net dbase\n"
                        "ModuleContent netmod net_*.cpp socket.cpp\nModuleRank netmod +net -debug\nFile legacy.cpp error\n"
                        "Class Other +log\nFunction Other::send* -warning\nThreadByName idle* off\n");
        tr_stream_c msgs, report;
        ASSERT_TRUE(m->reparse_file(jot.c_str(), nullptr, msgs)) << msgs.c_str();
        ASSERT_EQ(std::string(), msgs.c_str());
        m->config_content(report);
        reload_tail = " JOT Trace config file \"" + jot + "\" is tobe reparsed:\n(tls_index=" +
                      std::to_string(static_cast<int>(m->tls_index)) + ")" + report.c_str() + "\n";
        run(iterations, rounds);
        EXPECT_EQ(0u, failed_reloads);
        ASSERT_GE(rotations, file_loads + 1);  // size rotations happened as well
        EXPECT_EQ(rotations, rotated_kept);
        ASSERT_EQ("", scan(1, rotations));
        EXPECT_EQ(reload_banners, file_loads + 1);  // the first load's and every reload's, once each
        for (int t = 0; t < kThreads; ++t)
            EXPECT_EQ(found[t], expected_lines(t, iterations, sites[t])) << "thread " << t;
    }
};

TEST_F(LoadConcurrent, EveryLineOnceAcrossRotationsAndReloads) { check(1000, 60); }

}  // namespace
