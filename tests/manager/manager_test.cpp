// Trace manager: load notifications, thread records and rules, scope stacks,
// reports, reloads and their banners, and threads tracing through all of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "config/config_parser.h"
#include "katrace.h"
#include "kor/kor_thread.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "logfile/path_ops.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"

namespace {

unsigned registered(trace_manager_c& m) {
    m.threads->lock();
    const unsigned n = m.threads->num();
    m.threads->unlock();
    return n;
}
std::string threads_report(trace_manager_c& m) {
    tr_stream_c out;
    m.print_threads(out);
    return out.c_str();
}
std::string stack_report(trace_manager_c& m, unsigned long id) {
    tr_stream_c out;
    m.print_stack(out, id);
    return out.c_str();
}
bool contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }
std::string exe_stem() {
    const std::string n = mix_n::get_exe_name(nullptr);
    return n.substr(0, n.find('.'));
}

// Runs fn on a new thread with a support-library name; it detaches at its end as DllMain would.
template <class F>
void on_named_thread(trace_manager_c& m, const char* name, unsigned appl_id, F fn) {
    std::thread([&] { kor_thread_c::set_current_thread_info(name, appl_id), fn(), m.on_thread_detach(); }).join();
}

TEST(ManagerLifecycle, LoadNotificationsAndRecords) {
    ASSERT_EQ(nullptr, katr_manager());
    katr_on_thread_attach(), katr_on_thread_detach();  // without a manager everything is a no-op
    katr_remove_trace(plat_thread_id()), katr_reset_thread_trace_name("nobody"), katr_on_process_detach();

    katr_on_process_attach();
    trace_manager_c* m = katr_manager();
    ASSERT_NE(nullptr, m);
    katr_on_process_attach();  // a second attach keeps the first manager
    EXPECT_EQ(m, katr_manager());
    static const char host_name[] = "host-main";
    katr_reset_thread_trace_name(host_name);
    EXPECT_EQ(host_name, m->get_thread_record()->trace_name);
    // (Records made and freed by the thread notifications: the integration
    // test of thread records, through the library's own hooks.)
    EXPECT_EQ(1u, registered(*m));
    katr_remove_trace(plat_thread_id());
    EXPECT_EQ(0u, registered(*m));
    katr_on_process_detach();
    EXPECT_EQ(nullptr, katr_manager());

    // Records whose detach never came are freed with the manager (the leak checker watches).
    m = new trace_manager_c;
    for (int i = 0; i < 4; ++i)
        std::thread([m] {
            m->push(m->get_thread_record(), "a.cpp", "f");
            plat_tls_set(m->tls_index, nullptr);  // as if the exit went unnoticed
        }).join();
    EXPECT_EQ(5u, registered(*m));
    delete m;
}

// A thread first seen by a lookup is judged at once; one registered by
// attach at the next load (an empty text too), or when it is given a name
// or application id after its record exists (the order Windows' thread-
// attach notification makes); a trace name is judged as a name. (Late
// names in the thread report: the integration test of thread records.)
TEST(Registry, LookupAndThreadRules) {
    trace_manager_c m;
    tr_stream_c msgs, quiet;
    thread_trace_s* main_rec = m.get_thread_record();
    EXPECT_TRUE(m.parse_buffer("ThreadByName worker* off\nThreadByApplID 7 off\n", msgs)) << msgs.c_str();
    EXPECT_TRUE(main_rec->enabled.load());
    on_named_thread(m, "worker1", 5, [&] { EXPECT_FALSE(m.get_thread_record()->enabled.load()); });
    on_named_thread(m, "worker2", 0, [&] {
        m.on_thread_attach();
        thread_trace_s* r = m.get_thread_record();
        EXPECT_TRUE(r->enabled.load());
        EXPECT_FALSE(m.parse_buffer("", quiet));
        EXPECT_FALSE(r->enabled.load());
        EXPECT_EQ(0u, quiet.length);
    });
    on_named_thread(m, nullptr, 0, [&] {
        m.on_thread_attach();
        thread_trace_s* r = m.get_thread_record();
        EXPECT_TRUE(r->enabled.load());
        m.set_thread_info("worker-late", 42);
        EXPECT_FALSE(r->enabled.load());
        static const char traced_as[] = "renamed";
        m.reset_thread_trace_name(traced_as);
        EXPECT_TRUE(r->enabled.load());
        m.reset_thread_trace_name(nullptr);
        EXPECT_FALSE(r->enabled.load());
        m.set_thread_info(nullptr, 7);
        EXPECT_FALSE(r->enabled.load());
    });
    // With "on" only the named threads are enabled; names match without case.
    EXPECT_TRUE(m.parse_buffer("ThreadByName worker* on\n", msgs));
    EXPECT_FALSE(main_rec->enabled.load());
    on_named_thread(m, "Worker9", 0, [&] { EXPECT_TRUE(m.get_thread_record()->enabled.load()); });
    EXPECT_TRUE(m.parse_buffer("ThreadResume\n", msgs));
    EXPECT_TRUE(main_rec->enabled.load());
    EXPECT_EQ(1u, registered(m));
    EXPECT_TRUE(m.parse_buffer("ThreadResumeAll\nThreadByApplID 6 on\n", msgs)) << msgs.c_str();
    EXPECT_FALSE(main_rec->enabled.load());
    on_named_thread(m, "plain", 6, [&] { EXPECT_TRUE(m.get_thread_record()->enabled.load()); });
}

TEST(Registry, ScopeStackSlotsAndReports) {
    trace_manager_c m;
    thread_trace_s* r = m.get_thread_record();
    m.push(r, "a.cpp", "f");
    for (int i = 0; i < 10; ++i) m.push(r, "nested.cpp", "Nested::call");
    EXPECT_EQ(11, r->depth);
    EXPECT_STREQ("nested.cpp:Nested::call", r->slot_text(10));
    // Null names and names beyond the 4-digit header stay inside the block.
    // (Slots reused by shorter and longer texts: the concurrent stack test.)
    m.push(r, nullptr, nullptr);
    EXPECT_STREQ(":", r->slot_text(11));
    m.push(r, std::string(20000, 'h').c_str(), "f");
    EXPECT_EQ(0, std::memcmp(r->stack[12], "9999 ", 5));
    EXPECT_EQ(9999u - 5 - 1, std::strlen(r->slot_text(12)));
    for (int i = 0; i < 14; ++i) m.pop(r);  // one more than pushed
    EXPECT_EQ(0, r->depth);
    EXPECT_EQ(0, r->stack_count);

    const std::string me = std::to_string(r->sys_id), name = r->name;
    const std::string line = "+ ID=" + me + ", name=" + name + " : 0, depth=0";
    EXPECT_EQ("Single thread is found: " + line, threads_report(m));
    EXPECT_EQ("Found 1 threads:\r\n#1 " + line + "; No Stack Data is found", stack_report(m, 0));
    EXPECT_EQ("Error, Appropriate thread (id=99) is not found!", stack_report(m, 99));
    m.push(r, "main.cpp", "main"), m.push(r, "conn.cpp", "Conn::send");
    static const char renamed[] = "renamed";
    m.reset_thread_trace_name(renamed);
    EXPECT_EQ("+ ID=" + me + ", name=renamed : 0, depth=2; Stack Data:\r\n\t#1 main.cpp:main\r\n\t#2 conn.cpp:Conn::send",
              stack_report(m, r->sys_id));
    m.reset_thread_trace_name(nullptr);
    tr_stream_c msgs;
    EXPECT_TRUE(m.parse_buffer(("ThreadBySysID " + me + " off\n").c_str(), msgs)) << msgs.c_str();
    on_named_thread(m, "second", 3, [&] {
        m.on_thread_attach();
        const std::string other = std::to_string(m.get_thread_record()->sys_id);
        EXPECT_EQ("Found 2 threads:\r\n#1 - ID=" + me + ", name=" + name + " : 0, depth=2\r\n#2 + ID=" + other +
                      ", name=second : 3, depth=0",
                  threads_report(m));
    });
    m.remove_trace(r->sys_id);
    EXPECT_EQ("Error, No threads data is found!", threads_report(m));
}

class ReloadTest : public temp_dir_test {};

// A file is installed even with a bad line and starts a new log file behind a
// banner, shown on standard output as the new settings say. (A missing file
// changing nothing: the remote request tests; text parses writing no banner:
// the load test.)
TEST_F(ReloadTest, FileLoadsAndBanners) {
    trace_manager_c m;
    tr_stream_c msgs, msgs2;
    const std::string cfg = path("host.jot"), logs = path("logs"), arg_dir = path("arg");
    write_file(cfg, "LogDirectoryName " + logs + "\nKeepStack on\nVerbose on\nClenAll\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(m.reparse_file(cfg.c_str(), arg_dir.c_str(), msgs2));
    const std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(msgs2.c_str(), "Incomplete result. 1 error is found")) << msgs2.c_str();
    EXPECT_EQ(1u, m.generation.load());
    EXPECT_TRUE(m.keep_stack.load());
    EXPECT_TRUE(path_exists(arg_dir.c_str()));
    const std::string log = logs + "/" + exe_stem() + ".log";  // the configuration's directory wins
    EXPECT_EQ(log, m.logger->file_name.c_str());
    const std::string banner = " JOT Trace config file \"" + cfg + "\" is tobe reparsed, Log directory is " + arg_dir +
                               ":\n(tls_index=",
                      listing = ")\n# Config filename \"" + cfg + "\"";
    const std::string content = read_file(log);
    EXPECT_TRUE(contains(content, banner)) << content;
    EXPECT_TRUE(contains(content, listing)) << content;
    EXPECT_TRUE(contains(shown, banner)) << shown;

    // None on standard output once the new settings drop Verbose.
    write_file(cfg, "LogDirectoryName " + logs + "\n");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(m.reparse_file(cfg.c_str(), nullptr, msgs)) << msgs.c_str();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(content, read_file(log + ".1"));
    EXPECT_EQ(2u, m.generation.load());
}

using ManagerConcurrent = temp_dir_test;

// A move the log writer could not make because another writer holds the
// file is tried again a pause apart without the writer lock: threads keep
// writing meanwhile, every line lands once and in its thread's order, and
// the file moves once it is free. Each load takes the other directory and
// scans it, meeting the held file there.
TEST_F(ManagerConcurrent, HeldFileRetriedWhileThreadsWrite) {
    const std::string dirs[2] = {path("logs0"), path("logs1")}, stem = exe_stem();
    std::string cfgs[2];
    plat_file_t held[2];
    for (int d = 0; d < 2; ++d) {
        ASSERT_TRUE(create_directories(dirs[d].c_str()));
        write_file(dirs[d] + "/" + stem + "_7.log", "other\r\n");
        held[d] = plat_file_open_append((dirs[d] + "/" + stem + "_7.log").c_str());
        ASSERT_NE(held[d], PLAT_NO_FILE);
        cfgs[d] = path("host" + std::to_string(d) + ".jot");
        write_file(cfgs[d], "LogDirectoryName " + dirs[d] + "\nLogFileSize 2000\nLogNumberOfFilesToKeep 1000\n");
    }
    trace_manager_c m;
    tr_stream_c msgs;
    EXPECT_TRUE(m.reparse_file(cfgs[0].c_str(), nullptr, msgs)) << msgs.c_str();
    const unsigned per_thread = 400;
    std::vector<std::thread> ts;
    for (unsigned t = 0; t < 3; ++t) {
        ts.emplace_back([&m, t] {
            char text[40];
            for (unsigned i = 0; i < per_thread; ++i) {
                const int n = std::snprintf(text, sizeof text, "%u %05u ............\r\n", t, i);
                m.write_text(nullptr, 0, text, static_cast<unsigned>(n));
            }
        });
    }
    for (int n = 1; n <= 4; ++n) EXPECT_TRUE(m.reparse_file(cfgs[n % 2].c_str(), nullptr, msgs)) << msgs.c_str();
    for (auto& t : ts) t.join();
    for (int d = 0; d < 2; ++d) plat_file_close(held[d]);
    for (int d : {1, 0}) EXPECT_TRUE(m.reparse_file(cfgs[d].c_str(), nullptr, msgs)) << msgs.c_str();
    for (int d = 0; d < 2; ++d) EXPECT_FALSE(path_exists((dirs[d] + "/" + stem + "_7.log").c_str())) << d;

    // The log files of both directories by number (one count for both), the current one last.
    std::vector<std::pair<unsigned long long, std::string>> files;
    for (int d = 0; d < 2; ++d) {
        const std::string base = dirs[d] + "/" + stem + ".log";
        if (path_exists(base.c_str())) files.emplace_back(~0ull, base);
        for (unsigned long long n = 1; n < 1000; ++n)
            if (path_exists((base + "." + std::to_string(n)).c_str())) files.emplace_back(n, base + "." + std::to_string(n));
    }
    std::sort(files.begin(), files.end());
    unsigned next[3] = {0, 0, 0};
    for (const auto& f : files) {
        const std::string content = read_file(f.second);
        for (size_t from = 0, at = content.find('\n'); at != std::string::npos; from = at + 1, at = content.find('\n', from)) {
            const std::string line = content.substr(from, at - from);
            if (line.size() != 21 || line[0] < '0' || line[0] > '2' || line[1] != ' ') continue;
            unsigned& expected = next[line[0] - '0'];
            EXPECT_EQ(std::stoul(line.substr(2, 5)), expected) << f.second;
            expected = static_cast<unsigned>(std::stoul(line.substr(2, 5))) + 1;
        }
    }
    for (unsigned t = 0; t < 3; ++t) EXPECT_EQ(next[t], per_thread) << t;
}

// Two large buffer parses at once, and a report meanwhile: a thread writing
// lines and asking for rank masks keeps finishing calls while the parses
// run (they hold the writer lock only to swap their result in), and neither
// parse loses the other's rules.
TEST_F(ManagerConcurrent, TracingGoesOnWhileLargeParsesRun) {
    trace_manager_c m;
    const unsigned start = m.generation.load();
    const auto rules = [](const char* format) {
        std::string text;
        char line[64];
        for (int i = 0; i < 25000; ++i) std::snprintf(line, sizeof line, format, i), text += line;
        return text;
    };
    const std::string files = rules("File f%d.cpp +debug\n"), classes = rules("Class K%d -error\n");
    std::atomic<int> parsing{2};
    std::atomic<unsigned> finished_during{0};
    std::thread tracer([&] {
        static const char line[] = "tick\r\n";
        while (parsing.load() > 0) {
            m.write_text("", 0, line, sizeof line - 1);
            m.get_rank_mask("Other::run", "other.cpp", nullptr);
            if (parsing.load() > 0) ++finished_during;
        }
    });
    bool parsed[2] = {false, false};
    std::thread a([&] { tr_stream_c msgs; parsed[0] = m.parse_buffer(files.c_str(), msgs); --parsing; });
    std::thread b([&] { tr_stream_c msgs; parsed[1] = m.parse_buffer(classes.c_str(), msgs); --parsing; });
    tr_stream_c report;
    m.config_content(report);
    a.join(), b.join(), tracer.join();
    EXPECT_TRUE(parsed[0]);
    EXPECT_TRUE(parsed[1]);
    EXPECT_EQ(start + 2, m.generation.load());
    EXPECT_EQ(KATR_RANK_DEBUG | KATR_RANK_SITE_DEFAULT, m.get_rank_mask("free", "f24999.cpp", nullptr));
    EXPECT_EQ(KATR_RANK_FATAL | KATR_RANK_WARNING, m.get_rank_mask("K0::run", "other.cpp", nullptr));
    EXPECT_TRUE(contains(report.c_str(), "# Config filename \"None\"")) << report.c_str();
    // Blocked for a whole parse, the thread would finish at most one call per parse.
    EXPECT_GT(finished_during.load(), 2u);
}

// Owners push and pop (reusing, outgrowing and replacing slots) while
// another thread reads their stacks: every reported entry is a whole text
// one of them pushed, never a torn or freed one.
TEST_F(ManagerConcurrent, StackReportsWhileOwnersPushAndPop) {
    trace_manager_c m;
    const std::string long_name(300, 'L');
    const std::string texts[] = {"a.cpp:A::f", "b.cpp:" + long_name, "c.cpp:g"};
    std::atomic<bool> stop{false};
    std::vector<std::thread> owners;
    for (int t = 0; t < 2; ++t)
        owners.emplace_back([&] {
            thread_trace_s* r = m.get_thread_record();
            for (int i = 0; !stop.load(); ++i) {
                const int depth = 1 + i % 13;  // crosses the 10-slot step
                for (int d = 0; d < depth; ++d) {
                    const std::string& text = texts[(i + d) % 3];
                    const size_t colon = text.find(':');
                    m.push(r, text.substr(0, colon).c_str(), text.c_str() + colon + 1);
                }
                for (int d = 0; d < depth; ++d) m.pop(r);
            }
            m.on_thread_detach();
        });
    std::string bad;
    for (int round = 0; round < 3000 && bad.empty(); ++round) {
        const std::string report = stack_report(m, 0);
        for (size_t pos = report.find("\t#"); pos != std::string::npos && bad.empty(); pos = report.find("\t#", pos + 1)) {
            const size_t start = report.find(' ', pos) + 1, end = report.find_first_of("\r;", start);
            const std::string entry = report.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (std::find(std::begin(texts), std::end(texts), entry) == std::end(texts)) bad = entry;
        }
    }
    stop = true;
    for (auto& t : owners) t.join();
    EXPECT_EQ("", bad);
}

#if !defined(_WIN32)
// What a trace site does with its two shared variables (the front's refresh).
unsigned site_mask(trace_manager_c& m, unsigned* mask_cache, unsigned* gen_cache, const char* fn, const char* file) {
    if (__atomic_load_n(gen_cache, __ATOMIC_RELAXED) < m.generation.load(std::memory_order_relaxed))
        __atomic_store_n(mask_cache, m.get_rank_mask(fn, file, gen_cache), __ATOMIC_RELAXED);
    return __atomic_load_n(mask_cache, __ATOMIC_RELAXED);
}

// Traces through the global manager until stop, as host threads do.
void trace_through_global(std::atomic<bool>& stop) {
    static unsigned mask_cache = KATR_RANK_SITE_DEFAULT, gen_cache = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        trace_manager_c* m = katr_manager();
        if (!m) continue;
        thread_trace_s* r = m->get_thread_record();
        m->push(r, "exit.cpp", "tracer");
        site_mask(*m, &mask_cache, &gen_cache, "tracer", "exit.cpp");
        tr_stream_c out;
        m->print_threads(out);
        m->pop(r);
    }
}

// The process ends (exit() runs the library's unload) while threads trace:
// run as a child process, which must end with status 0.
TEST(ManagerExitConcurrent, ProcessExitWhileThreadsTrace) {
    if (std::getenv("KATR_MANAGER_EXIT_CHILD")) {
        katr_on_process_attach();
        std::atexit(katr_on_process_detach);  // what the library's destructor does
        static std::atomic<bool> never{false};
        for (int i = 0; i < 4; ++i) std::thread([] { trace_through_global(never); }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::exit(0);
    }
    char exe[4096];
    ASSERT_TRUE(plat_exe_path(exe, sizeof exe));
    const std::string cmd = std::string("KATR_MANAGER_EXIT_CHILD=1 '") + exe +
                            "' --gtest_filter=ManagerExitConcurrent.ProcessExitWhileThreadsTrace >/dev/null 2>&1";
    for (int run = 0; run < 5; ++run) EXPECT_EQ(0, std::system(cmd.c_str())) << "run " << run;
}
#endif

}  // namespace
