// The remote command protocol and the control functions behind it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "config/config_parser.h"
#include "katrace.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "support/tr_stream.h"

namespace {

typedef katr_remote_proc_c rp;

std::string str(const char* s) { return s ? s : "<null>"; }

std::string bad(const std::string& request) {
    return "Badly formatted string \"" + request + "\" has been passed to katrace procesor";
}

const char* const done = "O.K. Operation has been completed";
const char* const no_manager = "katrace module has not been properly set";

// A manager of its own, installed as the process's manager, whose log
// directory is the test's temporary directory.
class remote_test : public temp_dir_test {
protected:
    trace_manager_c* m = nullptr;
    rp proc;
    unsigned long long len_without_file = 0;

    void SetUp() override {
        temp_dir_test::SetUp();
        m = new trace_manager_c;
        ASSERT_TRUE(m->ok());
        g_katr_manager.store(m);
        // Before the log directory is set the writer has no file name.
        katr_get_log_filename(nullptr, len_without_file);
        unsigned long long len = 0;
        ASSERT_TRUE(katr_set_log_directory(nullptr, len, dir().c_str(), nullptr, false));
    }
    void TearDown() override {
        g_katr_manager.store(nullptr);
        delete m;
        temp_dir_test::TearDown();
    }
    std::string run(const char* request) { return str(proc.process_received_string(request)); }
};

}  // namespace

TEST(RemotePrepare, BuildsEveryRequest) {
    rp p;
    EXPECT_EQ(std::string(rp::key_string), "!$");
    EXPECT_EQ(std::string(rp::greeting), "KATR_GREETING");

    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_get_log_filename)), "!$6");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_config_content)), "!$8");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_print_threads)), "!$9");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_version)), "!$");
    EXPECT_EQ(p.prepare_string_to_send(rp::tc_reparse_file), nullptr);

    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_reparse_file, "my.jot")), "!$0 my.jot");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_reparse_file, "")), "!$0");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_parse_buffer, "Verbose On")), "!$1 Verbose On");
    EXPECT_EQ(p.prepare_string_to_send(rp::tc_parse_buffer, ""), nullptr);
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_set_log_directory, "C:/logs")), "!$5 C:/logs");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_version, "x")), "!$");
    EXPECT_EQ(p.prepare_string_to_send(rp::tc_print_threads, "x"), nullptr);

    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_print_log_rank, "Conn::send", "conn.cpp")),
              "!$7 Conn::send conn.cpp");
    EXPECT_EQ(p.prepare_string_to_send(rp::tc_print_log_rank, "Conn::send", ""), nullptr);
    EXPECT_EQ(p.prepare_string_to_send(rp::tc_parse_buffer, "a", "b"), nullptr);

    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_set_verbose, 1u)), "!$2 t");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_set_print_to_debug_vew, 0u)), "!$3 f");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_add_pid_to_log_fn, 7u)), "!$4 t");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_print_stack, 1234u)), "!$10 1234");
    // Unsupported: null, and the buffer keeps the bare command.
    EXPECT_EQ(p.prepare_string_to_send(rp::tc_config_content, 1u), nullptr);

    // Copies are deep: each object keeps and frees its own text.
    p.prepare_string_to_send(rp::tc_print_threads);
    rp copy(p);
    rp assigned;
    assigned = p;
    p.prepare_string_to_send(rp::tc_print_stack, 5u);
    EXPECT_EQ(str(copy.process_received_string("")), "Empty string has been passed to katrace procesor");
    rp& alias = assigned;
    assigned = alias;
    EXPECT_EQ(str(assigned.prepare_string_to_send(rp::tc_version)), "!$");
}

TEST(RemoteProcess, FixedRepliesWithoutManager) {
    trace_manager_c* saved = g_katr_manager.exchange(nullptr);
    rp p;
    EXPECT_EQ(str(p.process_received_string(nullptr)), "Empty string has been passed to katrace procesor");
    EXPECT_EQ(str(p.process_received_string("")), "Empty string has been passed to katrace procesor");
    EXPECT_EQ(str(p.process_received_string("hello")), bad("hello"));
    EXPECT_EQ(str(p.process_received_string("!$12")), bad("!$12"));
    EXPECT_EQ(str(p.process_received_string("!$11")), bad("!$11"));
    EXPECT_EQ(str(p.process_received_string("!$x")), bad("!$x"));
    EXPECT_EQ(str(p.process_received_string("!$4294967296")), bad("!$4294967296"));
    EXPECT_EQ(str(p.process_received_string("!$-1")), bad("!$-1"));
    // Line feeds of the request come back as CR LF.
    EXPECT_EQ(str(p.process_received_string("a\nb")), bad("a\r\nb"));
    EXPECT_EQ(str(p.process_received_string("!$")),
              "Version = " + std::to_string(KATR_VERSION_MAJOR) + "." + std::to_string(KATR_VERSION_MINOR) +
                  ", Build Number = 0");

    // Without a manager the control functions answer for themselves; the
    // output switches are not run at all.
    EXPECT_EQ(str(p.process_received_string("!$9")), no_manager);
    EXPECT_EQ(str(p.process_received_string("!$1 Verbose On")), no_manager);
    EXPECT_EQ(str(p.process_received_string("!$7 f x.cpp")), no_manager);
    EXPECT_EQ(str(p.process_received_string("!$2 t")), bad("!$2 t"));

    char out[64] = "x";
    unsigned long long len = sizeof out;
    EXPECT_FALSE(katr_parse_buffer(out, len, "Verbose On"));
    EXPECT_EQ(std::string(out), no_manager);
    EXPECT_EQ(len, 41u);
    len = 10;
    EXPECT_FALSE(katr_reparse_file(out, len, nullptr));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(len, 41u);
    len = 0;
    EXPECT_FALSE(katr_set_log_directory(nullptr, len, "/tmp", nullptr, true));
    EXPECT_EQ(len, 41u);
    len = sizeof out;
    katr_print_log_rank(out, len, "f", "x.cpp");
    EXPECT_EQ(std::string(out), no_manager);
    g_katr_manager.store(saved);
}

TEST_F(remote_test, OutputSwitchesAndPidFlag) {
    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_set_verbose, 1u)), done);
    EXPECT_EQ(m->screen_ranks.load(), 0xFFFFFFFFu);
    EXPECT_EQ(m->config->screen_ranks, 0xFFFFFFFFu);
    EXPECT_EQ(run("!$2 true"), bad("!$2 true"));
    EXPECT_EQ(run("!$2"), bad("!$2"));
    EXPECT_EQ(m->screen_ranks.load(), 0xFFFFFFFFu);
    EXPECT_EQ(run("!$2\t f"), done);
    EXPECT_EQ(m->screen_ranks.load(), 0u);

    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_set_print_to_debug_vew, 0u)), done);
    EXPECT_EQ(m->debugger_ranks.load(), 0u);
    EXPECT_EQ(m->config->debugger_ranks, 0u);
    EXPECT_EQ(run("!$3 t"), done);
    EXPECT_EQ(m->debugger_ranks.load(), 0xFFFFFFFFu);

    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_add_pid_to_log_fn, 1u)),
              "OK. Log PID has been processed successfully");
    EXPECT_TRUE(m->config->add_pid_to_log_filename);
    EXPECT_TRUE(m->logger->add_pid);
    EXPECT_EQ(run("!$4 x"), bad("!$4 x"));
    EXPECT_EQ(run("!$4 f"), "OK. Log PID has been processed successfully");
    EXPECT_FALSE(m->config->add_pid_to_log_filename);
}

TEST_F(remote_test, ConfigurationCommands) {
    // Requests built by the processing object itself.
    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_get_log_filename)), m->logger->file_name.c_str());

    // A missing file: the loader's message, CR LF at its end, nothing changes.
    unsigned generation = m->generation.load();
    std::string missing = path("missing.jot");
    EXPECT_EQ(run(("!$0 " + missing).c_str()), "Unable to open katrace configuration file " + missing + "\r\n");
    EXPECT_EQ(m->generation.load(), generation);

    // Without a name the default file beside the executable is read.
    const std::string exe = mix_n::get_exe_name(nullptr);
    const std::string jot = std::string(mix_n::get_exe_dir(nullptr)) + "/" + exe.substr(0, exe.find('.')) + ".jot";
    write_file(jot, "LogDirectoryName " + dir() + "\nPrintLine on\n");
    const std::string reply = run("!$0");
    std::filesystem::remove(std::filesystem::u8path(jot));
    EXPECT_EQ(reply, "Parsing of config file has been succesfuly completed");
    EXPECT_TRUE(m->print_line.load());
    generation = m->generation.load();

    // A file read with blanks before its name opens the first log file.
    write_file(path("my.jot"), "LogDirectoryName " + dir() + "\nDefaultLoggingRank fatal error\n");
    EXPECT_EQ(run(("!$0  \t  " + path("my.jot")).c_str()), "Parsing of config file has been succesfuly completed");
    EXPECT_EQ(m->generation.load(), generation + 1);
    std::string log_name = run("!$6 ignored");
    EXPECT_EQ(log_name.rfind(dir() + "/", 0), 0u) << log_name;
    EXPECT_TRUE(std::filesystem::exists(log_name));

    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_parse_buffer, "AditionalRanks db net")),
              "Parsing of config buffer has been succesfuly completed");
    EXPECT_EQ(run("!$1"), bad("!$1"));
    EXPECT_EQ(run("!$1 NoSuchKeyword").find("Parsing of config buffer"), std::string::npos);

    // Rank names: fixed ranks first, then the additional ones; no separator
    // (or a missing file name part) runs nothing.
    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_print_log_rank, "Conn::send", "conn.cpp")), "fatal +error ");
    EXPECT_EQ(run("!$1 Function Conn::send fatal net"), "Parsing of config buffer has been succesfuly completed");
    EXPECT_EQ(run("!$7 Conn::send\tconn.cpp"), "fatal +net ");
    EXPECT_EQ(run("!$7 Conn::send"), bad("!$7 Conn::send"));
    EXPECT_EQ(run("!$1 Class Zero -fatal -error"), "Parsing of config buffer has been succesfuly completed");
    EXPECT_EQ(run("!$7 Zero::f z.cpp"), bad("!$7 Zero::f z.cpp"));

    // Directory: relative paths are refused, a full one is created.
    EXPECT_EQ(run("!$5 logs"), "Error! \"logs\" is not full path");
    std::string sub = path("sub/dir");
    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_set_log_directory, sub.c_str())),
              "OK. Log directory has been set successfully");
    EXPECT_TRUE(std::filesystem::is_directory(sub));
    EXPECT_EQ(run("!$6").rfind(sub + "/", 0), 0u);
}

TEST_F(remote_test, ReportsArriveWholeWithCrLf) {
    // The configuration report is far longer than the first 128-byte area.
    tr_stream_c expected;
    m->config_content(expected);
    ASSERT_GT(expected.length, 127u);
    expected.to_crlf();
    std::string report = run(proc.prepare_string_to_send(rp::tc_config_content));
    EXPECT_EQ(report, expected.c_str());
    for (size_t i = 0; i < report.size(); ++i)
        if (report[i] == '\n') {
            ASSERT_TRUE(i > 0 && report[i - 1] == '\r') << i;
        }

    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_print_threads)).rfind("Single thread is found: + ID=", 0), 0u);
    EXPECT_EQ(run("!$10").rfind("Found 1 threads:\r\n#1 + ID=", 0), 0u);
    EXPECT_EQ(run(proc.prepare_string_to_send(rp::tc_print_stack, 99u)),
              "Error, Appropriate thread (id=99) is not found!");
    EXPECT_EQ(run("!$10 abc"), bad("!$10 abc"));
}

TEST_F(remote_test, ReplyConvention) {
    EXPECT_EQ(len_without_file, 28u);
    unsigned long long len = 0;

    // Too small: an empty text, the size needed, and the change still made.
    char out[16] = "untouched";
    len = 10;
    katr_add_PID_to_log_fn(out, len, true);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(len, 44u);
    EXPECT_TRUE(m->config->add_pid_to_log_filename);
    // Exactly the size needed fits.
    std::vector<char> exact(44, 'x');
    len = exact.size();
    katr_add_PID_to_log_fn(exact.data(), len, false);
    EXPECT_EQ(std::string(exact.data()), "OK. Log PID has been processed successfully");
    EXPECT_FALSE(m->config->add_pid_to_log_filename);
    // A size of 0 leaves the buffer alone.
    out[0] = 'u';
    len = 0;
    katr_print_threads(out, len);
    EXPECT_EQ(out[0], 'u');
    EXPECT_GT(len, 1u);

    char big[256];
    len = sizeof big;
    EXPECT_FALSE(katr_reparse_file(big, len, path("none.jot").c_str()));
    len = sizeof big;
    EXPECT_FALSE(katr_parse_buffer(big, len, ""));
    EXPECT_EQ(std::string(big), "Parsing of config buffer has been succesfuly completed");
    len = sizeof big;
    EXPECT_FALSE(katr_set_log_directory(big, len, nullptr, nullptr, false));
    EXPECT_EQ(std::string(big), "Error! No LogDirName string has been provided");

    // A rank of 0 gives the empty text.
    ASSERT_TRUE(katr_parse_buffer(nullptr, len, "Function Quiet::f -fatal -error -warning"));
    len = sizeof big;
    katr_print_log_rank(big, len, "Quiet::f", nullptr);
    EXPECT_EQ(big[0], 0);
    EXPECT_EQ(len, 1u);
    len = sizeof big;
    katr_print_log_rank(big, len, nullptr, nullptr);
    EXPECT_EQ(std::string(big), "fatal +error +warning ");
    ASSERT_TRUE(katr_parse_buffer(nullptr, len, "Function Dev::f devel usr2 lrg_snc"));
    len = sizeof big;
    katr_print_log_rank(big, len, "Dev::f", "x.cpp");
    EXPECT_EQ(std::string(big), "development +user2 +snc ");
}

// Separate objects on separate threads, each command taking the manager's
// locks through its control function.
class RemoteConcurrent : public remote_test {};

TEST_F(RemoteConcurrent, ObjectsOnThreads) {
    // Reports walk the additional ranks and the thread rules: both present.
    unsigned long long len = 0;
    katr_parse_buffer(nullptr, len, "AditionalRanks db net\nThreadByName nobody off\nFunction A::f +net");
    const char* requests[] = {"!$9", "!$8", "!$2 t", "!$8", "!$7 A::f a.cpp", "!$10", "!$6",
                              "!$7 B::f b.cpp", "!$1 AditionalRanks +x", "!$8"};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&requests, t] {
            rp p;
            for (int i = 0; i < 60; ++i) {
                const char* reply = p.process_received_string(requests[(i + t * 3) % 10]);
                EXPECT_TRUE(reply && *reply);
            }
        });
    for (auto& th : threads) th.join();
}
