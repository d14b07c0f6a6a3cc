// The recorder and the decoder together: what is recorded decodes with its
// arguments, rings wrap keeping the newest records, regions are shared out
// and reused, damaged boxes never decode wrong, and a reader may run on the
// live mapping while threads record. (What trace sites record, decoded as
// text: the front end's black-box tests.) Recorded messages print exactly
// as printf prints the same call, and formats that do not fit their
// arguments never print memory they name.
#include "blackbox/box_decoder.h"
#include "blackbox/box_format.h"
#include "blackbox/box_recorder.h"
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

box_arg_s arg_int(int64_t v) {
    box_arg_s a;
    a.kind = BOX_ARG_INT;
    a.i = v;
    return a;
}
box_arg_s arg_str(const char* s) {
    box_arg_s a;
    a.kind = BOX_ARG_STRING;
    a.s = s;
    return a;
}

// The events of a box's bytes, copied to an aligned buffer as a reader of
// the file has them.
std::vector<box_event_s> decode(const std::string& bytes, std::vector<std::string>* problems = nullptr) {
    std::vector<uint64_t> copy(bytes.size() / 8 + 1);
    memcpy(copy.data(), bytes.data(), bytes.size());
    box_decoder_c d;
    std::vector<box_event_s> events;
    if (d.open(reinterpret_cast<const unsigned char*>(copy.data()), bytes.size())) d.read_all(&events);
    if (problems) *problems = d.problems();
    return events;
}

// A box with one thread's writer; both go at the end of the test.
class BoxRecorder : public temp_dir_test {
protected:
    box_recorder_s* r = nullptr;
    box_writer_s* w = nullptr;
    bool open_box(unsigned regions = 0, unsigned long long thread = 1, const char* name = nullptr) {
        r = box_open(path("host_1.kbox").c_str(), BOX_MIN_SIZE, regions, "host");
        w = r ? box_thread_attach(r, thread, name) : nullptr;
        return w != nullptr;
    }
    void TearDown() override { box_thread_detach(r, w), box_close(r), temp_dir_test::TearDown(); }
    std::string bytes() const {
        size_t size = 0;
        const unsigned char* b = box_bytes(r, &size);
        return std::string(reinterpret_cast<const char*>(b), size);
    }
};

}  // namespace

// Every argument kind, strings of every length a word's tail can take and
// more arguments than one word of kind bytes holds; a site's texts are
// written once; the host's own ranks are named as its configuration names
// them, a bit beyond the names (or in a box that names none) shows the bit.
TEST_F(BoxRecorder, EventsDecodeWithTheirSitesArgumentsAndRanks) {
    ASSERT_TRUE(open_box(0, 4242, "worker"));
    box_site_id(r, "Conn::open", "conn.cpp", 10, nullptr);  // a scope's site: its texts are written here
    const uint32_t msg = box_site_id(r, "Conn::open", "conn.cpp", 12, "%d %s %s %s %g %p %u");
    EXPECT_EQ(box_site_id(r, "Conn::open", "conn.cpp", 10, nullptr) - msg, box_string_span(sizeof(box_site_s), false));
    const std::string long_text(300, 'L');
    box_arg_s args[7] = {arg_int(-5), arg_str("short"), arg_str(long_text.c_str()), arg_str(nullptr)};
    args[4].kind = BOX_ARG_DOUBLE, args[4].d = 2.5;
    args[5].kind = BOX_ARG_POINTER, args[5].p = &args;
    args[6].kind = BOX_ARG_UINT, args[6].u = ~0ull;
    const uint64_t before = plat_wall_ns();
    box_record_message(w, msg, 0x08, 1, args, 7);
    const uint32_t strings = box_site_id(r, "f", "f.cpp", 1, "%s %s %s %s %s %s %s %s %s %s %s");
    const std::string text = "0123456789ABCDEFG";
    std::string parts[11];
    box_arg_s tails[11];
    for (unsigned i = 0; i < 11; ++i) parts[i] = text.substr(0, i == 10 ? 17 : i), tails[i] = arg_str(parts[i].c_str());
    box_record_message(w, strings, 0x08, 0, tails, 11);
    const box_arg_s one = arg_int(1);
    for (unsigned rank : {1u << 15, 1u << 16, 0x20u}) box_record_message(w, strings, rank, 0, &one, 1);
    std::vector<box_event_s> events = decode(bytes());
    ASSERT_EQ(events.size(), 5u);
    const box_event_s& m = events[0];
    EXPECT_EQ(m.function + " " + m.file + ":" + std::to_string(m.line), "Conn::open conn.cpp:12");
    EXPECT_EQ(m.rank, 0x08u);
    EXPECT_EQ(m.depth, 1u);
    EXPECT_EQ(m.thread_id, 4242u);
    EXPECT_NEAR(static_cast<double>(m.wall_ns), static_cast<double>(before), 1e8);
    ASSERT_EQ(m.args.size(), 7u);
    EXPECT_EQ(static_cast<int64_t>(m.args[0].bits), -5);
    EXPECT_EQ(m.args[1].text, "short");
    EXPECT_EQ(m.args[2].text, long_text.substr(0, BOX_MAX_STRING));
    EXPECT_EQ(m.args[2].cut, 300u - BOX_MAX_STRING);
    EXPECT_EQ(m.args[3].kind, BOX_ARG_NULL_STRING);
    double d;
    memcpy(&d, &m.args[4].bits, 8);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(m.args[5].bits, reinterpret_cast<uintptr_t>(&args));
    EXPECT_EQ(m.args[6].bits, ~0ull);
    ASSERT_EQ(events[1].args.size(), 11u);
    for (unsigned i = 0; i < 11; ++i) {
        EXPECT_EQ(events[1].args[i].kind, BOX_ARG_STRING) << i;
        EXPECT_EQ(events[1].args[i].text, parts[i]) << i;
    }
    EXPECT_EQ(box_rank_name(events[2]), "0x8000");
    box_name_ranks(r, "audit billing");
    events = decode(bytes());
    EXPECT_EQ(box_rank_name(events[2]) + " " + box_rank_name(events[3]) + " " + box_rank_name(events[4]), "billing 0x10000 note");
}

// Regions go to the first threads; a region freed by a thread that ended is
// reused, and its old records are not taken for the new owner's.
TEST_F(BoxRecorder, RegionsAreSharedOutAndReused) {
    ASSERT_TRUE(open_box(4, 100, "t"));
    const uint32_t site = box_site_id(r, "f", "f.cpp", 1, nullptr);
    box_writer_s* others[4];
    for (unsigned i = 0; i < 4; ++i) others[i] = box_thread_attach(r, 101 + i, "t");
    EXPECT_EQ(others[3], nullptr);
    box_record_scope(w, BOX_REC_ENTER, site, 0);
    for (unsigned i = 0; i < 3; ++i) box_record_scope(others[i], BOX_REC_ENTER, site, 0);
    box_thread_detach(r, others[0]);
    others[0] = box_thread_attach(r, 200, "late");
    ASSERT_NE(others[0], nullptr);
    box_record_scope(others[0], BOX_REC_LEAVE, site, 0);
    const std::string b = bytes();
    std::vector<uint64_t> copy(b.size() / 8);
    memcpy(copy.data(), b.data(), b.size());
    box_decoder_c d;
    ASSERT_TRUE(d.open(reinterpret_cast<const unsigned char*>(copy.data()), b.size()));
    std::vector<box_event_s> events;
    d.read_region(1, &events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, BOX_REC_LEAVE);
    EXPECT_EQ(d.thread_of(1).thread_id, 200u);
    EXPECT_EQ(d.thread_of(1).name, "late");
    EXPECT_EQ(reinterpret_cast<const box_header_s*>(copy.data())->threads_refused, 1u);
    for (box_writer_s* x : others) box_thread_detach(r, x);
    EXPECT_EQ(box_open(path("small").c_str(), BOX_MIN_SIZE - 1, 0, nullptr), nullptr);
    EXPECT_EQ(box_open(path("crowded").c_str(), BOX_MIN_SIZE, 4096, nullptr), nullptr);
}

// Records of varied lengths lap the ring several times: the newest survive,
// in order, whole. Then bytes changed at random, files cut short and other
// files: the decoder reads only inside the bytes, never hands out a record
// that was not written, and says what it found wrong.
TEST_F(BoxRecorder, RingKeepsTheNewestAndDamagedBoxesNeverDecodeWrong) {
    ASSERT_TRUE(open_box(8, 7, "t"));
    const uint32_t site = box_site_id(r, "f", "f.cpp", 1, "%d %s");
    const std::string texts[3] = {"a", std::string(40, 'b'), std::string(255, 'c')};
    const int total = 3000;
    for (int i = 0; i < total; ++i) {
        box_arg_s args[2] = {arg_int(i), arg_str(texts[i % 3].c_str())};
        box_record_message(w, site, 0x08, 0, args, 2);
    }
    const std::string good = bytes();
    std::vector<std::string> problems;
    const std::vector<box_event_s> events = decode(good, &problems);
    EXPECT_EQ(problems, std::vector<std::string>{});
    ASSERT_GT(events.size(), 50u);
    ASSERT_LT(events.size(), size_t(total));
    for (size_t k = 0; k < events.size(); ++k) {
        const int expect = total - static_cast<int>(events.size()) + static_cast<int>(k);
        ASSERT_EQ(static_cast<int64_t>(events[k].args[0].bits), expect);
        ASSERT_EQ(events[k].args[1].text, texts[expect % 3]);
    }
    std::mt19937 rng(1);
    const size_t used = BOX_HEADER_SIZE + (good.size() - BOX_HEADER_SIZE) / 8;  // header, strings and the first region
    for (int round = 0; round < 200; ++round) {
        std::string bad = good;
        for (int k = 0; k < 8; ++k) bad[rng() % used] = static_cast<char>(rng());
        for (const box_event_s& e : decode(bad)) {
            ASSERT_EQ(e.function, "f");
            ASSERT_EQ(e.args.size(), 2u);
        }
    }
    EXPECT_LT(decode(good.substr(0, good.size() / 2), &problems).size(), size_t(total));
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems[0].find("truncated"), std::string::npos);
    EXPECT_TRUE(decode("KATRBOX", &problems).empty());
    EXPECT_NE(problems[0].find("not a black box"), std::string::npos);
    EXPECT_TRUE(decode(std::string(8192, '\0')).empty());
}

// Two threads record while a third decodes the live mapping again and
// again: every record it returns is whole and in its thread's order (with
// gaps where the writer overwrote records while they were read).
using BoxConcurrent = BoxRecorder;
TEST_F(BoxConcurrent, ReaderOnTheLiveMapping) {
    ASSERT_TRUE(open_box(8));
    const uint32_t site = box_site_id(r, "f", "f.cpp", 1, "%d %s");
    std::atomic<int> running{2};
    auto writer = [&](unsigned long long id) {
        box_writer_s* tw = box_thread_attach(r, id, nullptr);
        const std::string text = "thread " + std::to_string(id);
        for (int i = 0; i < 30000; ++i) {
            box_arg_s args[2] = {arg_int(i), arg_str(text.c_str())};
            box_record_message(tw, site, 0x08, 0, args, 2);
        }
        box_thread_detach(r, tw);
        running.fetch_sub(1);
    };
    std::thread a(writer, 2), b(writer, 3);
    size_t size = 0;
    const unsigned char* live = box_bytes(r, &size);
    int reads = 0;
    do {
        box_decoder_c d;
        ASSERT_TRUE(d.open(live, size));
        for (unsigned region = 0; region < d.region_count(); ++region) {
            std::vector<box_event_s> events;
            d.read_region(region, &events);
            for (size_t k = 0; k < events.size(); ++k) {
                ASSERT_EQ(events[k].args.size(), 2u);
                ASSERT_EQ(events[k].args[1].text, "thread " + std::to_string(events[k].thread_id));
                if (k > 0) {
                    ASSERT_GT(events[k].args[0].bits, events[k - 1].args[0].bits);  // records the writer overtook are left out
                }
            }
        }
        EXPECT_EQ(d.problems(), std::vector<std::string>{});
        ++reads;
    } while (running.load() > 0);
    a.join();
    b.join();
    EXPECT_GT(reads, 0);
}

namespace {

box_value_s v_int(long long x) { return box_value_s{BOX_ARG_INT, static_cast<uint64_t>(x), "", 0}; }
box_value_s v_uint(unsigned long long x) { return box_value_s{BOX_ARG_UINT, x, "", 0}; }
box_value_s v_double(double d) {
    box_value_s v{BOX_ARG_DOUBLE, 0, "", 0};
    std::memcpy(&v.bits, &d, 8);
    return v;
}
box_value_s v_str(const char* s, uint32_t cut = 0) { return box_value_s{BOX_ARG_STRING, 0, s, cut}; }

template <class... A>
std::string printf_text(const char* format, A... a) {
    char buf[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buf, sizeof buf, format, a...);
#pragma GCC diagnostic pop
    return buf;
}

}  // namespace

TEST(BoxFormat, MatchesPrintf) {
    EXPECT_EQ(box_format_message("%d items from %s, %5.2f%% done", {v_int(3), v_str("disk"), v_double(42.5)}),
              printf_text("%d items from %s, %5.2f%% done", 3, "disk", 42.5));
    EXPECT_EQ(box_format_message("[%-6d|%+05i|%x|%#o|%hhu|%hd|%lu|%llX]", {v_int(-7), v_int(42), v_uint(255), v_uint(8), v_uint(300), v_int(70000), v_uint(~0ul), v_uint(~0ull)}),
              printf_text("[%-6d|%+05i|%x|%#o|%hhu|%hd|%lu|%llX]", -7, 42, 255u, 8u, static_cast<unsigned char>(300), static_cast<short>(70000), ~0ul, ~0ull));
    EXPECT_EQ(box_format_message("%*d|%-*.*s|%.3e|%g|%c", {v_int(5), v_int(12), v_int(8), v_int(3), v_str("abcdef"), v_double(1234.5), v_double(0.0001), v_int('z')}),
              printf_text("%*d|%-*.*s|%.3e|%g|%c", 5, 12, 8, 3, "abcdef", 1234.5, 0.0001, 'z'));
    EXPECT_EQ(box_format_message("%p", {v_uint(0x1234)}), printf_text("%p", reinterpret_cast<void*>(0x1234)));
    EXPECT_EQ(box_format_message("%s", {box_value_s{BOX_ARG_NULL_STRING, 0, "", 0}}), "(null)");
    EXPECT_EQ(box_format_message("100%% plain", {}), "100% plain");
}

TEST(BoxFormat, MisfitsAreMarkedNotPrinted) {
    EXPECT_EQ(box_format_message("%s and %d", {v_int(5)}), "<?> and <missing>");
    EXPECT_EQ(box_format_message("%d%n|", {v_int(1), v_uint(0xdead)}), "1|");  // %n writes nothing
    EXPECT_EQ(box_format_message("%s", {v_str("abc", 44)}), "abc[+44 bytes]");
    EXPECT_EQ(box_format_message("%999999999d|", {v_int(1)}).size(), 4096u + 1);
    EXPECT_EQ(box_format_message("%y %", {}), "%y %");
}
