// The black box after a crash: box_crash_host fills its box from four
// threads and dies hard (killed, or a write through a null pointer). Every
// thread's newest events must be there in order, without a gap, with the
// right arguments; a torn record is skipped; katr_box writes its timeline.
// Earlier boxes are pruned to LogNumberOfFilesToKeep at the host's start.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "blackbox/box_decoder.h"
#include "blackbox/box_format.h"
#include "common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// box_crash_host's loop: WORKERS threads run ITERATIONS steps each; they
// meet at step HALF before the crash, which comes at least 10 steps later.
const int WORKERS = 4;
const long long ITERATIONS = 83333;
const long long HALF = ITERATIONS / 2;
const unsigned DEBUG_RANK = 0x80;  // the host's messages are of rank debug
// The bytes of its records: an enter or a leave, and a message with an int,
// a string of at most 8 bytes and an int.
const size_t SCOPE_BYTES = BOX_RECORD_HEAD;
const size_t MESSAGE_BYTES = BOX_RECORD_HEAD + 8 + 8 + 16 + 8;

// A box file's bytes, 8-byte aligned as the decoder wants them.
struct box_copy_s {
    std::vector<uint64_t> words;
    size_t size = 0;
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(words.data()); }
    uint64_t& word(size_t offset) { return words[offset / 8]; }
};

// What one worker's region held.
struct worker_s {
    unsigned region = 0;
    int id = -1;  // k of "w<k>"
    std::vector<box_event_s> events;
    long long newest_seq = -1;  // the sequence number of the newest step seen
    size_t bytes = 0;           // bytes of the records decoded
};

std::string describe(const box_event_s& e) {
    return std::to_string(e.kind) + " " + e.function + " depth " + std::to_string(e.depth) + ": " +
           box_format_message(e.format, e.args);
}

// Checks a region's events against the host's loop: Worker::run's scope
// (depth 1) around steps, each an enter, the message "step %d of %s: %d"
// with (seq, "w<k>", seq * 7 + k) and a leave (depth 2), the sequence
// without a gap and never going back in time. The first message places the
// ring's events in the thread's stream: position -1 is run's enter, 3 seq
// to 3 seq + 2 a step's three events, 3 ITERATIONS run's leave.
std::string check_worker(worker_s* w) {
    const std::vector<box_event_s>& ev = w->events;
    size_t m = 0;
    while (m < ev.size() && ev[m].kind != BOX_REC_MESSAGE) ++m;
    if (m == ev.size() || ev[m].args.size() != 3 || ev[m].args[1].text.size() != 2) return "no message of the host's loop";
    w->id = ev[m].args[1].text[1] - '0';
    const std::string name = "w" + std::to_string(w->id);
    const long long base = 3 * static_cast<int64_t>(ev[m].args[0].bits) + 1 - static_cast<long long>(m);
    for (size_t j = 0; j < ev.size(); ++j) {
        const box_event_s& e = ev[j];
        const long long at = base + static_cast<long long>(j);
        const std::string where = name + " event " + std::to_string(j) + " of " + std::to_string(ev.size()) + " (" + describe(e) + ")";
        if (j && e.ticks < ev[j - 1].ticks) return where + ": earlier than the event before";
        if (e.written) return where + ": marked as written to the log";
        if (at < 0 || at >= 3 * ITERATIONS) {
            const bool edge = (at == -1 && e.kind == BOX_REC_ENTER) || (at == 3 * ITERATIONS && e.kind == BOX_REC_LEAVE && j + 1 == ev.size());
            if (!edge || e.function != "crash::Worker::run" || e.depth != 1) return where + ": not Worker::run's enter or leave";
            w->bytes += SCOPE_BYTES;
            continue;
        }
        const uint8_t kind = at % 3 == 0 ? BOX_REC_ENTER : at % 3 == 1 ? BOX_REC_MESSAGE
                                                                       : BOX_REC_LEAVE;
        if (e.kind != kind || e.function != "crash::Worker::step" || e.file != "box_crash_host.cpp" || e.depth != 2)
            return where + ": expected kind " + std::to_string(kind) + " of Worker::step at depth 2";
        w->newest_seq = at / 3;
        if (kind != BOX_REC_MESSAGE) {
            w->bytes += SCOPE_BYTES;
            continue;
        }
        const long long seq = at / 3;
        const std::vector<box_value_s>& a = e.args;
        if (e.rank != DEBUG_RANK || e.format != "step %d of %s: %d" || a.size() != 3 || a[0].kind != BOX_ARG_INT ||
            static_cast<int64_t>(a[0].bits) != seq || a[1].kind != BOX_ARG_STRING || a[1].text != name || a[1].cut != 0 ||
            a[2].kind != BOX_ARG_INT || static_cast<int64_t>(a[2].bits) != seq * 7 + w->id)
            return where + ": expected step " + std::to_string(seq);
        w->bytes += MESSAGE_BYTES;
    }
    return "";
}

// The newest record of region i that the decoder's walk reaches: its
// position and commit word; false when there is none.
bool newest_record(box_copy_s& box, unsigned i, uint64_t* position, uint64_t* commit) {
    const box_header_s* h = reinterpret_cast<const box_header_s*>(box.bytes());
    const size_t base = h->regions_offset + i * h->region_size, ring = base + BOX_REGION_HEADER_SIZE;
    const uint64_t ring_size = box.word(base + 16);
    bool found = false;
    for (uint64_t pos = box.word(base + 24), steps = 0; steps < ring_size / 8; ++steps) {
        const uint64_t off = pos % ring_size, c = box.word(ring + off);
        if (!box_commit_at(c, pos) || box_commit_length(c) < 8 || off + box_commit_length(c) > ring_size) break;
        if (box_commit_kind(c) == BOX_REC_PAD) {
            pos += ring_size - off;
            continue;
        }
        *position = pos, *commit = c, found = true;
        pos += box_commit_length(c);
    }
    return found;
}

std::vector<box_event_s> decode_region(box_copy_s& box, unsigned i, std::vector<std::string>* problems) {
    box_decoder_c d;
    std::vector<box_event_s> events;
    if (d.open(box.bytes(), box.size)) d.read_region(i, &events);
    *problems = d.problems();
    return events;
}

class BoxCrashTest : public temp_dir_test {
protected:
    int run_host(const std::string& mode, const std::string& keep = "") {
        const std::string cmd = program("box_crash_host") + " " + mode + " \"" + dir() + "\" " + keep + " > \"" + path("host.txt") + "\" 2>&1";
        return std::system(cmd.c_str());
    }
    // Names of the .kbox files in the log directory, sorted.
    std::vector<std::string> boxes() {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(fs::u8path(dir() + "/log"), ec))
            if (e.path().extension() == ".kbox") names.push_back(e.path().filename().u8string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A box file read whole; false unless it has the host's size.
    bool read_box(const std::string& file, box_copy_s* box) {
        const std::string bytes = read_file(file);
        box->size = bytes.size();
        box->words.assign(bytes.size() / 8 + 1, 0);
        std::memcpy(box->words.data(), bytes.data(), bytes.size());
        return bytes.size() == 8u << 20;
    }
    // Decodes the workers' regions and checks each one's events.
    void read_workers(box_copy_s& box, std::vector<worker_s>* workers) {
        box_decoder_c d;
        ASSERT_TRUE(d.open(box.bytes(), box.size));
        for (unsigned i = 0; i < d.region_count(); ++i) {
            worker_s w;
            w.region = i;
            d.read_region(i, &w.events);
            if (w.events.empty()) continue;
            ASSERT_EQ(check_worker(&w), "");
            EXPECT_EQ(d.thread_of(i).name, "worker-" + std::to_string(w.id));
            workers->push_back(std::move(w));
        }
        EXPECT_EQ(d.problems(), std::vector<std::string>());
        ASSERT_EQ(workers->size(), static_cast<size_t>(WORKERS));
        // The ring was full: it holds its size's worth of the newest records,
        // less what a crash may have cut, the pad at its end and the part of
        // the oldest record overwritten.
        const uint64_t ring = reinterpret_cast<const box_header_s*>(box.bytes())->region_size - BOX_REGION_HEADER_SIZE;
        for (const worker_s& w : *workers) EXPECT_GE(w.bytes + 3 * MESSAGE_BYTES, ring) << "w" << w.id;
    }

    void check_crash(const std::string& mode, int crashed) {
        const int rc = run_host(mode);
        EXPECT_TRUE(rc != 0 && rc != 2 && rc != 3) << rc << " " << read_file(path("host.txt"));
        box_copy_s box;
        ASSERT_EQ(boxes().size(), 1u);
        const std::string file = dir() + "/log/" + boxes()[0];
        ASSERT_TRUE(read_box(file, &box));
        std::vector<worker_s> workers;
        read_workers(box, &workers);
        if (HasFatalFailure()) return;
        for (const worker_s& w : workers) {
            // Every worker was half way (the killed host: 10 steps further).
            EXPECT_GE(w.newest_seq, HALF + (crashed < 0 ? 9 : -1)) << "w" << w.id;
            if (w.id != crashed) continue;
            EXPECT_EQ(w.events.back().kind, BOX_REC_MESSAGE) << "it crashed after the message, inside Worker::step";
            EXPECT_EQ(w.newest_seq, HALF + 10);
        }

        // The newest record committed but its head not stored yet is read;
        // cut before its commit word (an earlier lap's word still there) it
        // is skipped, and the records before it are whole.
        for (const worker_s& w : workers) {
            const box_header_s* h = reinterpret_cast<const box_header_s*>(box.bytes());
            const size_t base = h->regions_offset + w.region * h->region_size;
            const uint64_t ring_size = box.word(base + 16), head = box.word(base + 32);
            uint64_t position = 0, commit = 0;
            ASSERT_TRUE(newest_record(box, w.region, &position, &commit));
            std::vector<std::string> problems;
            box.word(base + 32) = position;
            EXPECT_EQ(decode_region(box, w.region, &problems).size(), w.events.size());
            box.word(base + BOX_REGION_HEADER_SIZE + position % ring_size) =
                box_record_commit(box_commit_length(commit), static_cast<box_record_kind_e>(box_commit_kind(commit)),
                                  box_commit_args(commit), position - ring_size);
            const std::vector<box_event_s> cut = decode_region(box, w.region, &problems);
            ASSERT_EQ(cut.size(), w.events.size() - 1);
            EXPECT_EQ(cut.back().ticks, w.events[w.events.size() - 2].ticks);
            EXPECT_EQ(problems, std::vector<std::string>());
            box.word(base + BOX_REGION_HEADER_SIZE + position % ring_size) = commit;
            box.word(base + 32) = head;
        }

        // katr_box reads the crashed box (its options are tested on a sample
        // box beside the tool) and writes its timeline.
        const std::string cmd = program("katr_box") + " --timeline \"" + path("timeline.json") + "\" \"" + file + "\" > \"" +
                                path("box_out.txt") + "\" 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(path("box_out.txt"));
        // The timeline's structure is checked by the script where Python
        // runs (the Linux build; the test command checks the Windows tool's
        // timelines beside it): it parses, every begin has its end on its
        // thread, times never go back, every thread is named.
#if defined(KATR_PYTHON)
        const std::string script = std::string(KATR_PYTHON) + " \"" + KATR_TOOLS_DIR + "/check_timeline.py\" \"" + path("timeline.json") +
                                   "\" crash::Worker::step \"worker-0 (\" > \"" + path("py.txt") + "\" 2>&1";
        EXPECT_EQ(std::system(script.c_str()), 0) << read_file(path("py.txt"));
#endif
    }
};

}  // namespace

TEST_F(BoxCrashTest, KilledHostLosesNoRecordedEvent) { check_crash("kill", -1); }

// Linux: SIGSEGV ends the process (under the sanitizers their report does).
// Windows: the access violation is unhandled and, with the error dialog
// off, ends the process with its exception code.
TEST_F(BoxCrashTest, NullPointerWriteLosesNoRecordedEvent) { check_crash("segv", 1); }

// Five boxes of earlier runs, an hour apart: with LogNumberOfFilesToKeep 2
// the two newest stay beside the host's own; a box of another executable
// and a name that is no box are not touched. The host's box, whose threads
// all ended, holds their last steps and Worker::run's leave.
TEST_F(BoxCrashTest, HostStartPrunesEarlierBoxes) {
    fs::create_directories(fs::u8path(dir() + "/log"));
    const auto now = fs::file_time_type::clock::now();
    for (int i = 1; i <= 5; ++i) {
        const std::string name = dir() + "/log/box_crash_host_900000000" + std::to_string(i) + ".kbox";
        write_file(name, "old");
        fs::last_write_time(fs::u8path(name), now - std::chrono::hours(10 - i));
    }
    for (const char* other : {"/log/other_1.kbox", "/log/box_crash_host_1.kbox.old"}) {
        write_file(dir() + other, "x");
        fs::last_write_time(fs::u8path(dir() + other), now - std::chrono::hours(20));
    }
    ASSERT_EQ(run_host("exit", "2"), 0) << read_file(path("host.txt"));
    std::vector<std::string> kept, own;
    for (const std::string& name : boxes())
        (name == "box_crash_host_9000000004.kbox" || name == "box_crash_host_9000000005.kbox" || name == "other_1.kbox" ? kept : own)
            .push_back(name);
    EXPECT_EQ(kept.size(), 3u);
    ASSERT_EQ(own.size(), 1u) << testing::PrintToString(own);
    EXPECT_TRUE(fs::exists(fs::u8path(dir() + "/log/box_crash_host_1.kbox.old")));

    box_copy_s box;
    ASSERT_TRUE(read_box(dir() + "/log/" + own[0], &box));
    std::vector<worker_s> workers;
    read_workers(box, &workers);
    for (const worker_s& w : workers) {
        EXPECT_EQ(w.newest_seq, ITERATIONS - 1);
        EXPECT_EQ(w.events.back().function, "crash::Worker::run");
    }
}
