// Trace manager: lifecycle, settings, thread registry, scope stacks, rank
// queries and the thread reports.
#include "manager/manager_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config_parser.h"
#include "kor/kor_thread.h"
#include "logfile/logger.h"
#include "platform/platform.h"

namespace {

std::string id_text(unsigned long id) { return std::to_string(id); }

TEST(ManagerLifecycle, DefaultsAfterConstruction) {
    trace_manager_c m;
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(0u, m.generation.load());
    EXPECT_EQ(0u, m.last_thread_id);
    EXPECT_EQ(0u, m.screen_ranks.load());
    EXPECT_EQ(0xFFFFFFFFu, m.debugger_ranks.load());
    EXPECT_TRUE(m.print_function.load());
    EXPECT_TRUE(m.print_time.load());
    EXPECT_FALSE(m.print_file.load() || m.print_line.load() || m.keep_stack.load() || m.do_indentation.load());
    EXPECT_EQ(14u, m.config->default_rank);
    EXPECT_TRUE(m.has_tls);
    // The constructing thread is registered and reachable through its slot.
    EXPECT_EQ(1u, registered(m));
    thread_trace_s* mine = m.get_thread_record();
    ASSERT_NE(nullptr, mine);
    EXPECT_EQ(mine, plat_tls_get(m.tls_index));
    EXPECT_EQ(plat_thread_id(), mine->sys_id);
    EXPECT_TRUE(mine->enabled.load());
}

TEST(ManagerLifecycle, SettingsSwitches) {
    trace_manager_c m;
    m.set_verbose(true);
    EXPECT_EQ(0xFFFFFFFFu, m.screen_ranks.load());
    EXPECT_EQ(0xFFFFFFFFu, m.config->screen_ranks);
    m.set_verbose(false);
    EXPECT_EQ(0u, m.screen_ranks.load());
    EXPECT_EQ(0u, m.config->screen_ranks);
    m.set_print_to_debug_vew(false);
    EXPECT_EQ(0u, m.debugger_ranks.load());
    EXPECT_EQ(0u, m.config->debugger_ranks);
    m.set_print_to_debug_vew(true);
    EXPECT_EQ(0xFFFFFFFFu, m.debugger_ranks.load());

    EXPECT_TRUE(m.set_last_thread(42));
    EXPECT_FALSE(m.set_last_thread(42));
    EXPECT_EQ(42u, m.last_thread_id);
    EXPECT_TRUE(m.set_last_thread(7));
    EXPECT_EQ(7u, m.last_thread_id);
}

TEST(ManagerLifecycle, LoadNotificationsAndExports) {
    ASSERT_EQ(nullptr, katr_manager());
    // Without a manager everything is a no-op.
    katr_on_thread_attach();
    katr_on_thread_detach();
    katr_remove_trace(plat_thread_id());
    katr_reset_thread_trace_name("nobody");
    katr_on_process_detach();

    katr_on_process_attach();
    trace_manager_c* m = katr_manager();
    ASSERT_NE(nullptr, m);
    katr_on_process_attach();  // a second attach keeps the first manager
    EXPECT_EQ(m, katr_manager());

    static const char host_name[] = "host-main";
    katr_reset_thread_trace_name(host_name);
    EXPECT_EQ(host_name, m->get_thread_record()->trace_name);
    katr_reset_thread_trace_name(nullptr);
    EXPECT_EQ(nullptr, m->get_thread_record()->trace_name);

    std::thread t([] {
        katr_on_thread_attach();
        EXPECT_EQ(2u, registered(*katr_manager()));
        katr_on_thread_detach();
    });
    t.join();
    EXPECT_EQ(1u, registered(*m));
    katr_remove_trace(plat_thread_id());
    EXPECT_EQ(0u, registered(*m));

    katr_on_process_detach();
    EXPECT_EQ(nullptr, katr_manager());
}

TEST(ManagerLifecycle, DestructionReleasesRecordsWithoutDetach) {
    // Threads whose detach never came: their records are freed by the
    // manager's destruction (the leak checker watches).
    trace_manager_c* m = new trace_manager_c;
    std::vector<std::thread> ts;
    for (int i = 0; i < 4; ++i)
        ts.emplace_back([m] {
            thread_trace_s* r = m->get_thread_record();
            m->push(r, "a.cpp", "f");
            plat_tls_set(m->tls_index, nullptr);  // as if the exit went unnoticed
        });
    for (auto& t : ts) t.join();
    EXPECT_EQ(5u, registered(*m));
    delete m;
}

#if !defined(_WIN32)
TEST(RegistryPosix, ExitHookReleasesRecords) {
    trace_manager_c m;
    std::vector<std::thread> ts;
    for (int i = 0; i < 3; ++i) ts.emplace_back([&m] { m.push(m.get_thread_record(), "x.cpp", "g"); });
    for (auto& t : ts) t.join();
    EXPECT_EQ(1u, registered(m));
}
#endif

#if !defined(_WIN32)
// The construction banner reaches a debug-output viewer (and nothing else:
// no log file is open yet).
TEST(ManagerBanner, ConstructionBannerGoesToTheDebuggerOutput) {
    const std::string ep = "/tmp/katr_mgr_" + std::to_string(plat_pid()) + ".sock";
    const intptr_t viewer = plat_debug_viewer_open(ep.c_str());
    ASSERT_NE(-1, viewer);
    plat_set_debug_endpoint(ep.c_str());
    auto receive = [viewer] {
        std::vector<char> buf(65536);
        int n = plat_debug_viewer_receive(viewer, buf.data(), buf.size(), 0);
        return n <= 0 ? std::string("<none>") : std::string(buf.data(), static_cast<size_t>(n));
    };
    {
        trace_manager_c m;
        EXPECT_EQ("JOT Trace is initialised:(tls_index=" + std::to_string(m.tls_index) + ")", receive());
        const std::string report = receive();
        EXPECT_EQ(0u, report.find("\n# Config filename \"None\"")) << report;
        EXPECT_EQ('\n', report.back());
        EXPECT_EQ("<none>", receive());
        EXPECT_FALSE(m.logger->opened);
    }
    plat_set_debug_endpoint(nullptr);
    plat_debug_viewer_close(viewer);
}
#endif

TEST(Registry, LookupAndThreadRules) {
    trace_manager_c m;
    tr_stream_c msgs;
    thread_trace_s* main_rec = m.get_thread_record();
    EXPECT_EQ(main_rec, m.get_thread_record());

    // With "off", worker* is disabled; a thread first seen by a lookup is
    // judged at once, one registered by attach only at the next load.
    EXPECT_TRUE(m.parse_buffer("ThreadByName worker* off\n", msgs)) << msgs.c_str();
    EXPECT_TRUE(main_rec->enabled.load());
    std::thread([&m] {
        kor_thread_c::set_current_thread_info("worker1", 5);
        thread_trace_s* r = m.get_thread_record();
        EXPECT_EQ(5u, r->appl_id);
        EXPECT_STREQ("worker1", r->name);
        EXPECT_FALSE(r->enabled.load());
        m.on_thread_detach();
    }).join();
    std::thread([&m] {
        kor_thread_c::set_current_thread_info("worker2", 0);
        m.on_thread_attach();
        thread_trace_s* r = m.get_thread_record();
        EXPECT_TRUE(r->enabled.load());
        tr_stream_c msgs2;
        EXPECT_FALSE(m.parse_buffer("", msgs2));  // empty text: false, but rules re-applied
        EXPECT_FALSE(r->enabled.load());
        EXPECT_EQ(std::string(""), msgs2.c_str());
        m.on_thread_detach();
    }).join();
    EXPECT_EQ(2u, m.generation.load());

    // With "on" only the named threads are enabled.
    EXPECT_TRUE(m.parse_buffer("ThreadByName worker* on\n", msgs));
    EXPECT_FALSE(main_rec->enabled.load());
    std::thread([&m] {
        kor_thread_c::set_current_thread_info("Worker9", 0);  // names match without case
        EXPECT_TRUE(m.get_thread_record()->enabled.load());
        m.on_thread_detach();
    }).join();
    EXPECT_TRUE(m.parse_buffer("ThreadResume\n", msgs));
    EXPECT_TRUE(main_rec->enabled.load());
    EXPECT_EQ(1u, registered(m));

    // Names are matched against the trace name when one is set; rules by
    // application id compare application ids.
    static const char traced_as[] = "worker-main";
    m.reset_thread_trace_name(traced_as);
    EXPECT_TRUE(m.parse_buffer("ThreadByName worker-m* off\n", msgs)) << msgs.c_str();
    EXPECT_FALSE(main_rec->enabled.load());
    m.reset_thread_trace_name(nullptr);
    EXPECT_TRUE(m.parse_buffer("ThreadResume\nThreadByApplID 6 on\n", msgs)) << msgs.c_str();
    EXPECT_FALSE(main_rec->enabled.load());
    std::thread([&m] {
        kor_thread_c::set_current_thread_info("plain", 6);
        EXPECT_TRUE(m.get_thread_record()->enabled.load());
        m.on_thread_detach();
    }).join();
}

TEST(Registry, ScopeStackSlots) {
    trace_manager_c m;
    thread_trace_s* r = m.get_thread_record();
    m.pop(r);  // depth 0: nothing
    EXPECT_EQ(0, r->depth);

    m.push(r, "a.cpp", "f");
    ASSERT_EQ(10, r->stack_capacity);
    ASSERT_EQ(1, r->stack_count);
    EXPECT_EQ(0, std::memcmp(r->stack[0], "  26 a.cpp:f", 13));  // 5 + 1 + 20 bytes
    for (int i = 0; i < 10; ++i) m.push(r, "nested.cpp", "Nested::call");
    EXPECT_EQ(11, r->depth);
    EXPECT_EQ(11, r->stack_count);
    EXPECT_EQ(20, r->stack_capacity);
    EXPECT_STREQ("a.cpp:f", r->slot_text(0));
    EXPECT_STREQ("nested.cpp:Nested::call", r->slot_text(10));

    // Leaving and re-entering at one depth reuses the slot while the text fits.
    char* slot = r->stack[10];
    m.pop(r);
    m.push(r, "b.cpp", "short");
    EXPECT_EQ(slot, r->stack[10]);
    EXPECT_STREQ("b.cpp:short", r->slot_text(10));
    EXPECT_EQ(0, std::memcmp(slot, "  42 ", 5));  // keeps its original size
    m.pop(r);
    std::string longer(40, 'L');
    m.push(r, "b.cpp", longer.c_str());
    EXPECT_EQ(std::string("b.cpp:") + longer, r->slot_text(10));
    EXPECT_EQ(0, std::memcmp(r->stack[10], "  65 ", 5));

    // Null names and names beyond the 4-digit header stay inside the block.
    std::string huge(20000, 'h');
    m.push(r, nullptr, nullptr);
    EXPECT_STREQ(":", r->slot_text(11));
    m.push(r, huge.c_str(), "f");
    EXPECT_EQ(0, std::memcmp(r->stack[12], "9999 ", 5));
    EXPECT_EQ(9999u - 5 - 1, std::strlen(r->slot_text(12)));

    while (r->depth) m.pop(r);
    EXPECT_EQ(0, r->stack_count);
    m.pop(r);
    EXPECT_EQ(0, r->stack_count);
    EXPECT_EQ(0, r->depth);
}

TEST(Registry, RemovedThreadKeepsWorkingRecord) {
    trace_manager_c m;
    std::atomic<int> step{0};
    unsigned long worker_id = 0;
    thread_trace_s* worker_rec = nullptr;
    std::thread t([&] {
        worker_rec = m.get_thread_record();
        worker_id = plat_thread_id();
        step = 1;
        while (step.load() != 2) std::this_thread::yield();
        // Removed from the registry, still tracing: the record stays usable.
        EXPECT_EQ(worker_rec, m.get_thread_record());
        m.push(worker_rec, "late.cpp", "after_removal");
        m.pop(worker_rec);
        m.reset_thread_trace_name("late");
    });
    while (step.load() != 1) std::this_thread::yield();
    EXPECT_EQ(2u, registered(m));
    m.remove_trace(worker_id + 1000000);  // no such thread
    EXPECT_EQ(2u, registered(m));
    m.remove_trace(worker_id);
    EXPECT_EQ(1u, registered(m));
    EXPECT_EQ(std::string::npos, threads_report(m).find("ID=" + id_text(worker_id)));
    step = 2;
    t.join();  // its exit hook (or the manager's destruction) frees the record
}

TEST(Reports, ThreadAndStackReports) {
    trace_manager_c m;
    thread_trace_s* r = m.get_thread_record();
    const std::string me = id_text(r->sys_id);
    const std::string name = r->name;
    const std::string line = "+ ID=" + me + ", name=" + name + " : 0, depth=0";

    EXPECT_EQ("Single thread is found: " + line, threads_report(m));
    EXPECT_EQ("Found 1 threads:\r\n#1 " + line + "; No Stack Data is found", stack_report(m, 0));
    EXPECT_EQ("Error, Appropriate thread (id=99) is not found!", stack_report(m, 99));

    m.push(r, "main.cpp", "main");
    m.push(r, "conn.cpp", "Conn::send");
    static const char renamed[] = "renamed";
    m.reset_thread_trace_name(renamed);
    EXPECT_EQ("+ ID=" + me + ", name=renamed : 0, depth=2; Stack Data:\r\n\t#1 main.cpp:main\r\n\t#2 conn.cpp:Conn::send",
              stack_report(m, r->sys_id));
    m.reset_thread_trace_name(nullptr);

    tr_stream_c msgs;
    const std::string rule = "ThreadBySysID " + me + " off\n";
    EXPECT_TRUE(m.parse_buffer(rule.c_str(), msgs)) << msgs.c_str();
    std::string other;
    std::thread([&] {
        kor_thread_c::set_current_thread_info("second", 3);
        m.on_thread_attach();
        other = id_text(m.get_thread_record()->sys_id);
        EXPECT_EQ("Found 2 threads:\r\n#1 - ID=" + me + ", name=" + name + " : 0, depth=2\r\n#2 + ID=" + other +
                      ", name=second : 3, depth=0",
                  threads_report(m));
        m.on_thread_detach();
    }).join();

    m.remove_trace(r->sys_id);
    EXPECT_EQ("Error, No threads data is found!", threads_report(m));
    EXPECT_EQ("Error, No threads data is found!", stack_report(m, 0));
}

TEST(RankQueries, MaskGenerationAndNames) {
    trace_manager_c m;
    unsigned gen = 77;
    EXPECT_EQ(14u, m.get_rank_mask("Conn::send", "conn.cpp", &gen));
    EXPECT_EQ(0u, gen);
    EXPECT_EQ(14u, m.get_rank_mask(nullptr, nullptr, nullptr));

    tr_stream_c msgs;
    EXPECT_TRUE(m.parse_buffer("AditionalRanks dbase net\nFunction Conn::send debug\n", msgs)) << msgs.c_str();
    EXPECT_EQ(0x80u, m.get_rank_mask("Conn::send", "conn.cpp", &gen));
    EXPECT_EQ(1u, gen);
    EXPECT_EQ(0x4000u, m.get_user_rank_bit("dbase"));
    EXPECT_EQ(0x8000u, m.get_user_rank_bit("net"));
    EXPECT_EQ(0u, m.get_user_rank_bit("Net"));
    EXPECT_EQ(0u, m.get_user_rank_bit(nullptr));
    EXPECT_STREQ("development", m.get_rank_name(0x100));
    EXPECT_STREQ("error", m.get_rank_name(0x4));
    EXPECT_STREQ("All", m.get_rank_name(0xFFFFFFFF));
    EXPECT_STREQ("UNKNOWN", m.get_rank_name(0x6));
}

}  // namespace
