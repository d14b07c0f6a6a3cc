// Concurrency of the trace manager: threads that start, trace and exit while
// another thread reloads the configuration, re-judges every thread, removes
// records and writes reports; and the end of the process while threads trace.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "kor/kor_thread.h"
#include "manager/manager_test.h"
#include "platform/platform.h"

namespace {

class ManagerConcurrent : public temp_dir_test {};

// What a trace site does with its two shared variables (the front's refresh).
unsigned site_mask(trace_manager_c& m, unsigned* mask_cache, unsigned* gen_cache, const char* fn,
                   const char* file) {
    if (__atomic_load_n(gen_cache, __ATOMIC_RELAXED) < m.generation.load(std::memory_order_relaxed))
        __atomic_store_n(mask_cache, m.get_rank_mask(fn, file, gen_cache), __ATOMIC_RELAXED);
    return __atomic_load_n(mask_cache, __ATOMIC_RELAXED);
}

// One short-lived traced thread: lookups, nested scopes, rank queries.
void traced_thread_body(trace_manager_c& m, unsigned index, std::atomic<unsigned long>& last_id) {
    static unsigned mask_cache = 0x0E, gen_cache = 0;
    static const char* const names[] = {"worker-a", "worker-b", "io-1", "io-2"};
    kor_thread_c::set_current_thread_info(names[index % 4], index);
    last_id.store(plat_thread_id());
    thread_trace_s* r = m.get_thread_record();
    for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(r, m.get_thread_record());
        for (int d = 0; d < 12; ++d) m.push(r, "worker.cpp", d % 2 ? "Worker::step" : "Worker::run");
        (void)r->enabled.load(std::memory_order_relaxed);
        site_mask(m, &mask_cache, &gen_cache, "Worker::run", "worker.cpp");
        m.get_user_rank_bit("net");
        m.get_rank_name(0x4);
        m.set_last_thread(r->sys_id);
        if (round == 10) m.reset_thread_trace_name("renamed-worker");
        EXPECT_EQ(12, r->stack_count);
        for (int d = 0; d < 12; ++d) m.pop(r);
        EXPECT_EQ(0, r->depth);
    }
}

TEST_F(ManagerConcurrent, ThreadsTraceWhileConfigurationChanges) {
    trace_manager_c m;
    const std::string cfg = path("cfg.jot");
    write_file(cfg, "LogDirectoryName " + path("logs") + "\nLogNumberOfFilesToKeep 2\nKeepStack on\n"
                    "AditionalRanks dbase net\nThreadByName io* off\nFunction Worker::* +debug\n");
    std::atomic<bool> done{false};
    std::atomic<unsigned long> last_id{0};

    // Spawners keep starting short-lived threads; half of them detach
    // explicitly (as DllMain would), the others leave it to the exit hook.
    std::vector<std::thread> spawners;
    for (unsigned s = 0; s < 3; ++s)
        spawners.emplace_back([&, s] {
            for (unsigned i = 0; i < 12; ++i) {
                const unsigned index = s * 100 + i;
                std::thread t([&, index] {
                    m.on_thread_attach();
                    traced_thread_body(m, index, last_id);
#if !defined(_WIN32)
                    if (index % 2)
                        return;
#endif
                    m.on_thread_detach();
                });
                t.join();
            }
        });

    // Rank evaluations over many sites.
    std::thread evaluator([&] {
        char fn[32];
        while (!done.load()) {
            for (int i = 0; i < 50; ++i) {
                std::snprintf(fn, sizeof fn, "Site%d::call", i);
                m.get_rank_mask(fn, "site.cpp", nullptr);
            }
        }
    });

    // Configuration changes, all-records passes, removals and reports.
    std::thread control([&] {
        unsigned n = 0;
        while (!done.load()) {
            tr_stream_c msgs, out;
            switch (n++ % 6) {
            case 0: m.reparse_file(cfg.c_str(), nullptr, msgs); break;
            case 1: m.parse_buffer(n % 4 ? "ThreadByName worker-a off\n" : "ThreadResume\nKeepStack on\n", msgs); break;
            case 2: m.print_threads(out); break;
            case 3: m.print_stack(out, 0); m.print_stack(out, last_id.load()); break;
            case 4: m.remove_trace(last_id.load()); m.config_content(out); break;
            case 5: m.set_print_to_debug_vew(n % 2); break;
            }
        }
    });

    for (auto& t : spawners) t.join();
    done = true;
    evaluator.join();
    control.join();
    EXPECT_LE(registered(m), 1u);  // only the constructing thread (unless it was removed)
}

#if !defined(_WIN32)
// Loops until stop over the global manager, as host threads do.
void trace_through_global(std::atomic<bool>& stop) {
    static unsigned mask_cache = 0x0E, gen_cache = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        trace_manager_c* m = katr_manager();
        if (!m) continue;
        thread_trace_s* r = m->get_thread_record();
        m->push(r, "exit.cpp", "tracer");
        site_mask(*m, &mask_cache, &gen_cache, "tracer", "exit.cpp");
        tr_stream_c msgs;
        m->print_threads(msgs);
        m->pop(r);
    }
}

TEST_F(ManagerConcurrent, ProcessDetachWhileThreadsTrace) {
    ASSERT_EQ(nullptr, katr_manager());
    katr_on_process_attach();
    std::atomic<bool> stop{false};
    std::vector<std::thread> ts;
    for (int i = 0; i < 4; ++i) ts.emplace_back([&] { trace_through_global(stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    katr_on_process_detach();  // threads may be inside the manager right now
    EXPECT_EQ(nullptr, katr_manager());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
    for (auto& t : ts) t.join();
}

// The process ends (exit() runs the library's unload) while threads trace.
// Runs itself as a child process, which must end with status 0.
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
