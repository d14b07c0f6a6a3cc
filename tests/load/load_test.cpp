// Nothing lost under load: threads trace through nested scopes while another
// thread reloads the configuration over and over (file loads and text parses)
// and the log file rotates every few lines. Afterwards every kept file is read
// and parsed line by line: each file starts with the byte-order mark and its
// banner, every line is whole, every reload banner is whole, and each
// thread's lines appear exactly once and in the order it traced them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "front/line.h"
#include "katrace.h"
#include "kor/rw_lock.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "support/tr_stream.h"

namespace fs = std::filesystem;

namespace {

const int kThreads = 4;
const int kLevels = 3;
const char kFile[] = "load_test.cpp";

// One trace site per thread and level, so that every line names its thread
// (enter and leave lines by the function, messages by their text).
struct site_s {
    unsigned mask = 0x0Eu;
    unsigned generation = 0;
    char function[32] = {0};
};

unsigned rank_of(int level) {
    return level == 1 ? KATR_RANK_ERROR : level == 2 ? KATR_RANK_WARNING : KATR_RANK_DEBUG;
}

void traced_scope(site_s* sites, int thread, int seq, int level) {
    site_s& s = sites[level - 1];
    katr_entry_c e(s.function, kFile, &s.mask, &s.generation, 100 + level, true);
    e.print(KATR_RANK_LOG, 300, "hidden t%d s%d", thread, seq);  // rank not enabled: never written
    e.print_nl(rank_of(level), 200 + level, "msg t%d s%d d%d", thread, seq, level);
    if (level < kLevels) traced_scope(sites, thread, seq, level + 1);
}

// The lines of one thread as they must appear behind the time piece.
std::vector<std::string> expected_lines(int thread, int iterations, site_s* sites) {
    static const char* const rank_names[] = {"error->", "warning->", ""};
    std::vector<std::string> lines;
    std::string indent[kLevels + 1];
    for (int l = 1; l <= kLevels; ++l) indent[l] = indent[l - 1] + " . ";
    char msg[64];
    for (int s = 0; s < iterations; ++s) {
        for (int l = 1; l <= kLevels; ++l) {
            lines.push_back(std::to_string(100 + l) + ":" + indent[l] + kFile + ":" + sites[l - 1].function +
                            ":enter->\r\n");
            std::snprintf(msg, sizeof msg, "msg t%d s%d d%d\r\n", thread, s, l);
            lines.push_back(std::to_string(200 + l) + ":" + rank_names[l - 1] + indent[l] + "   " + msg);
        }
        for (int l = kLevels; l >= 1; --l)
            lines.push_back(indent[l] + kFile + ":" + sites[l - 1].function + ":<-leave\r\n");
    }
    return lines;
}

bool all_digits(const std::string& s, size_t from, size_t to) {
    if (from >= to || to > s.size()) return false;
    for (size_t i = from; i < to; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// "(YYYY/MM/DD hh:mm:ss) " at pos.
bool is_time_piece(const std::string& s, size_t pos) {
    static const char form[] = "(dddd/dd/dd dd:dd:dd) ";
    if (pos + sizeof form - 1 > s.size()) return false;
    for (size_t i = 0; i + 1 < sizeof form; ++i) {
        char c = s[pos + i];
        if (form[i] == 'd' ? (c < '0' || c > '9') : c != form[i]) return false;
    }
    return true;
}

// The thread a line (behind its time piece) belongs to; -1 when none.
int thread_of(const std::string& text) {
    size_t p = text.find(":Load::t");
    if (p != std::string::npos) p += 8;
    else if ((p = text.find("   msg t")) != std::string::npos) p += 8;
    else return -1;
    int t = 0;
    size_t q = p;
    while (q < text.size() && text[q] >= '0' && text[q] <= '9') t = t * 10 + (text[q++] - '0');
    return q > p && t < kThreads ? t : -1;
}

std::string snippet(const std::string& s, size_t pos) {
    std::string out = s.substr(pos, 120);
    std::string shown;
    for (char c : out) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return shown;
}

// What the scan of the log directory found.
struct scan_s {
    std::vector<std::vector<std::string>> lines = std::vector<std::vector<std::string>>(kThreads);
    unsigned reload_banners = 0;
    std::string error;  // the first problem, empty when none
};

class LoadConcurrent : public temp_dir_test {
protected:
    trace_manager_c* m = nullptr;
    site_s sites[kThreads][kLevels];
    std::string banners[kThreads];  // each thread's banner line
    std::string jot;
    std::string reload_tail;        // what follows the time text of a reload banner

    struct result_s {
        unsigned file_loads = 0, text_parses = 0, failed_reloads = 0;
        unsigned rotations = 0, rotated_kept = 0;
        std::string current;  // path of the current log file
    };

    void SetUp() override {
        temp_dir_test::SetUp();
        m = new trace_manager_c;
        g_katr_manager.store(m);
        for (int t = 0; t < kThreads; ++t)
            for (int l = 0; l < kLevels; ++l)
                std::snprintf(sites[t][l].function, sizeof sites[t][l].function, "Load::t%d_level%d", t, l + 1);
    }
    void TearDown() override {
        g_katr_manager.store(nullptr);
        publish_generation(nullptr);
        delete m;
        temp_dir_test::TearDown();
    }

    // Loads the configuration file: a log file of LogFileSize bytes, keep
    // rotated files, every prefix piece on, rules of every kind that leave
    // the test's sites at trace, error, warning and debug.
    void load(unsigned keep) {
        jot = path("load.jot");
        write_file(jot, "# load test\nLogDirectoryName " + dir() + "/log/\nLogFileSize 4096\n"
                        "LogNumberOfFilesToKeep " + std::to_string(keep) + "\n"
                        "DefaultLoggingRank trace error warning debug\n"
                        "PrintTime on\nPrintLine on\nPrintFile on\nPrintFunction on\n"
                        "KeepStack on\nDoIndentation on\nPrintToDebugVew Off\n"
                        "AditionalRanks net dbase\nModuleContent netmod net_*.cpp socket.cpp\n"
                        "ModuleRank netmod +net -debug\nFile legacy.cpp error\n"
                        "Class Other +log\nFunction Other::send* -warning\nThreadByName idle* off\n");
        tr_stream_c msgs;
        ASSERT_TRUE(m->reparse_file(jot.c_str(), nullptr, msgs)) << msgs.c_str();
        ASSERT_EQ(std::string(), msgs.c_str());
        tr_stream_c report;
        m->config_content(report);
        reload_tail = " JOT Trace config file \"" + jot + "\" is tobe reparsed:\n(tls_index=" +
                      std::to_string(static_cast<int>(m->tls_index)) + ")" + report.c_str() + "\n";
    }

    // Runs the tracing threads (iterations each) and the reloading thread,
    // which makes `rounds` rounds of a text parse and a file load spread over
    // the tracers' run: round k waits until the tracers have done k/rounds
    // of their work, and no tracer runs more than a round ahead of it.
    result_s run(int iterations, unsigned rounds) {
        result_s r;
        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        std::atomic<unsigned> progress{0}, rounds_done{0};
        auto pause = [] { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
        std::vector<std::thread> pool;
        for (int t = 0; t < kThreads; ++t)
            pool.emplace_back([&, t] {
                std::string name = "load-" + std::to_string(t);
                katr_set_thread_info(name.c_str(), static_cast<unsigned long>(t) + 1);
                thread_trace_s* rec = m->get_thread_record();
                banners[t] = "== Thread " + std::to_string(rec->sys_id) + " (" + rec->display_name() + ") ==\r\n";
                ++ready;
                while (!go.load()) std::this_thread::yield();
                for (int s = 0; s < iterations; ++s) {
                    const unsigned due = static_cast<unsigned>(s) * rounds / static_cast<unsigned>(iterations);
                    while (rounds_done.load() + 1 < due) pause();
                    traced_scope(sites[t], t, s, 1);
                    ++progress;
                }
            });
        std::thread reloader([&] {
            // Text parses change the file size limit and rules; none touches
            // the ranks of the test's sites or the prefix switches.
            static const char* const texts[] = {
                "LogFileSize 3000\nClass Other +log\n", "LogFileSize 4096\nThreadByName spare off\n",
                "ThreadResume\nFunction Other::* +note\n", "AditionalRanks extra\nFile io_*.cpp +var\n"};
            const unsigned total = static_cast<unsigned>(kThreads * iterations);
            for (unsigned k = 0; k < rounds; ++k) {
                while (progress.load() < k * total / rounds) pause();
                tr_stream_c msgs;
                if (!m->parse_buffer(texts[k % 4], msgs)) ++r.failed_reloads;
                ++r.text_parses;
                if (!m->reparse_file(jot.c_str(), nullptr, msgs)) ++r.failed_reloads;
                ++r.file_loads;
                ++rounds_done;
            }
        });
        while (ready.load() < kThreads) std::this_thread::yield();
        go = true;
        for (auto& t : pool) t.join();
        reloader.join();

        multi_reader_lock_c hold(*m->lock);
        r.rotations = m->logger->file_number;
        r.rotated_kept = m->logger->rotated_files.num();
        r.current = m->logger->file_name.c_str();
        return r;
    }

    // Reads the kept files, oldest first; rotated numbers must be exactly
    // first..last. Checks each file's start and parses all of its lines.
    scan_s scan(const std::string& current, unsigned first, unsigned last) {
        scan_s out;
        std::map<unsigned, std::string> rotated;
        bool have_current = false;
        const std::string base = fs::u8path(current).filename().u8string();
        for (const auto& entry : fs::directory_iterator(fs::u8path(dir() + "/log"))) {
            std::string name = entry.path().filename().u8string();
            if (name == base) {
                have_current = true;
            } else if (name.compare(0, base.size() + 1, base + ".") == 0 &&
                       all_digits(name, base.size() + 1, name.size())) {
                rotated[static_cast<unsigned>(std::stoul(name.substr(base.size() + 1)))] = name;
            } else {
                out.error = "stray file " + name;
                return out;
            }
        }
        if (!have_current) {
            out.error = "no current file " + base;
            return out;
        }
        std::string numbers;
        for (const auto& f : rotated) numbers += " " + std::to_string(f.first);
        if (rotated.size() != last + 1 - first || (!rotated.empty() && (rotated.begin()->first != first ||
                                                                        rotated.rbegin()->first != last))) {
            out.error = "rotated files" + numbers + ", expected " + std::to_string(first) + ".." + std::to_string(last);
            return out;
        }
        // The file rotated to number n was opened with banner number n - 1;
        // the current one carries the number of the latest rotation.
        for (const auto& f : rotated)
            if (!parse_file(dir() + "/log/" + f.second, f.first - 1, out)) return out;
        parse_file(current, last, out);
        return out;
    }

    bool parse_file(const std::string& file, unsigned number, scan_s& out) {
        const std::string s = read_file(file);
        auto fail = [&](size_t pos, const std::string& why) {
            out.error = fs::u8path(file).filename().u8string() + " at " + std::to_string(pos) + ": " + why +
                        ": \"" + snippet(s, pos) + "\"";
            return false;
        };
        // Byte-order mark, then "<time> JOT Log File #<n>, Version = a.b.c.d" CR LF.
        if (s.compare(0, 3, "\xEF\xBB\xBF") != 0) return fail(0, "no byte-order mark");
        const std::string head = " JOT Log File #" + std::to_string(number) + ", Version = " +
                                 std::to_string(KATR_VERSION_MAJOR) + "." + std::to_string(KATR_VERSION_MINOR) +
                                 "." + std::to_string(KATR_VERSION_RELEASE) + "." +
                                 std::to_string(KATR_VERSION_BUILD) + "\r\n";
        size_t h = s.find(head);
        if (h == std::string::npos || h <= 3 || s.find_first_of("\r\n", 3) < h) return fail(3, "bad file banner");
        if (s.find("\xEF\xBB\xBF", 3) != std::string::npos) return fail(s.find("\xEF\xBB\xBF", 3), "second open");

        int banner_of = -1;  // the thread whose banner line came last
        for (size_t pos = h + head.size(); pos < s.size();) {
            if (is_time_piece(s, pos)) {
                size_t end = s.find("\r\n", pos);
                if (end == std::string::npos) return fail(pos, "unterminated line");
                std::string text = s.substr(pos + 22, end + 2 - pos - 22);
                int t = thread_of(text);
                if (t < 0) return fail(pos, "line of no thread");
                if (banner_of >= 0 && banner_of != t) return fail(pos, "line after another thread's banner");
                banner_of = -1;
                out.lines[t].push_back(text);
                pos = end + 2;
                continue;
            }
            if (banner_of >= 0) return fail(pos, "thread banner without its line");
            if (s.compare(pos, 10, "== Thread ") == 0) {
                for (int t = 0; t < kThreads && banner_of < 0; ++t)
                    if (s.compare(pos, banners[t].size(), banners[t]) == 0) banner_of = t;
                if (banner_of < 0) return fail(pos, "unknown thread banner");
                pos += banners[banner_of].size();
                continue;
            }
            // A reload banner: the time text, then the fixed rest.
            size_t mid = s.find(reload_tail.substr(0, 24), pos);
            size_t eol = s.find_first_of("\r\n", pos);
            if (mid == std::string::npos || mid == pos || eol < mid || s.compare(mid, reload_tail.size(), reload_tail) != 0)
                return fail(pos, "not a trace line, thread banner or reload banner");
            ++out.reload_banners;
            pos = mid + reload_tail.size();
        }
        if (banner_of >= 0) return fail(s.size(), "thread banner at the end of the file");
        return true;
    }

    // Compares what a thread wrote with what was found: all of it, or (when
    // older files were deleted) the newest part of it.
    static std::string compare(int thread, const std::vector<std::string>& want,
                               const std::vector<std::string>& found, bool whole) {
        const std::string who = "thread " + std::to_string(thread);
        const size_t skip = !whole && found.size() <= want.size() ? want.size() - found.size() : 0;
        for (size_t i = 0; i < found.size() && skip + i < want.size(); ++i)
            if (found[i] != want[skip + i])
                return who + " line " + std::to_string(skip + i) + ": found \"" + snippet(found[i], 0) +
                       "\", traced \"" + snippet(want[skip + i], 0) + "\"";
        if (found.size() > want.size() || (whole && found.size() != want.size()))
            return who + ": " + std::to_string(found.size()) + " lines found, " + std::to_string(want.size()) +
                   " traced";
        return "";
    }
};

TEST_F(LoadConcurrent, EveryLineOnceAcrossRotationsAndReloads) {
    const int iterations = 1000;
    load(1000000);
    if (HasFatalFailure()) return;
    result_s r = run(iterations, 60);
    EXPECT_EQ(0u, r.failed_reloads);
    ASSERT_GT(r.rotations, r.file_loads);  // size rotations happened as well
    EXPECT_EQ(r.rotations, r.rotated_kept);

    scan_s found = scan(r.current, 1, r.rotations);
    ASSERT_EQ("", found.error);
    // The banners of the first load and of every reload, once each.
    EXPECT_EQ(r.file_loads + 1, found.reload_banners);
    size_t lines = 0;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ("", compare(t, expected_lines(t, iterations, sites[t]), found.lines[t], true));
        lines += found.lines[t].size();
    }
    std::printf("[   load   ] %d threads, %zu trace lines (%zu messages), %u reloads (%u file loads, "
                "%u text parses), %u rotations, %u files\n",
                kThreads, lines, static_cast<size_t>(kThreads) * iterations * kLevels,
                r.file_loads + r.text_parses, r.file_loads, r.text_parses, r.rotations, r.rotations + 1);
}

TEST_F(LoadConcurrent, RetentionKeepsTheConfiguredNumber) {
    const int iterations = 200;
    const unsigned keep = 3;
    load(keep);
    if (HasFatalFailure()) return;
    result_s r = run(iterations, 20);
    EXPECT_EQ(0u, r.failed_reloads);
    ASSERT_GE(r.rotations, 2 * keep);
    EXPECT_EQ(keep, r.rotated_kept);

    // Exactly the newest rotated files remain, and they hold the newest
    // lines of every thread, in order and whole.
    scan_s found = scan(r.current, r.rotations - keep + 1, r.rotations);
    ASSERT_EQ("", found.error);
    EXPECT_LE(found.reload_banners, r.file_loads + 1);
    size_t lines = 0;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ("", compare(t, expected_lines(t, iterations, sites[t]), found.lines[t], false));
        lines += found.lines[t].size();
    }
    std::printf("[   load   ] keep %u: %u rotations, %zu of %zu trace lines in the kept files, %u reloads\n", keep,
                r.rotations, lines, static_cast<size_t>(kThreads) * iterations * (3 * kLevels),
                r.file_loads + r.text_parses);
}

}  // namespace
