// The remote command protocol and the control functions behind it; the C
// interface (katrace_c.h) in process.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "config/config_parser.h"
#include "front/front_fixture.h"
#include "katrace_c.h"

namespace {

typedef katr_remote_proc_c rp;

std::string str(const char* s) { return s ? s : "<null>"; }

std::string bad(const std::string& request) {
    return "Badly formatted string \"" + request + "\" has been passed to katrace procesor";
}

const std::string done = "O.K. Operation has been completed", no_manager = "katrace module has not been properly set",
                  empty = "Empty string has been passed to katrace procesor",
                  file_ok = "Parsing of config file has been succesfuly completed",
                  buffer_ok = "Parsing of config buffer has been succesfuly completed",
                  pid_ok = "OK. Log PID has been processed successfully";

// The front end's fixture, its log directory set through the control function.
class remote_test : public front_test {
protected:
    rp proc;
    unsigned long long len_without_file = 0;

    void SetUp() override {
        front_test::SetUp();
        ASSERT_TRUE(m->ok());
        katr_get_log_filename(nullptr, len_without_file);  // before the log directory is set
        unsigned long long len = 0;
        ASSERT_TRUE(katr_set_log_directory(nullptr, len, dir().c_str(), nullptr, false));
    }
    std::string run(const char* request) { return str(proc.process_received_string(request)); }
};

}  // namespace

TEST(RemotePrepare, RefusesWrongArgumentsAndCopiesDeeply) {
    rp p;
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_reparse_file, "")), "!$0");
    EXPECT_EQ(str(p.prepare_string_to_send(rp::tc_version, "x")), "!$");
    for (const char* built : {p.prepare_string_to_send(rp::tc_reparse_file),
                              p.prepare_string_to_send(rp::tc_parse_buffer, ""),
                              p.prepare_string_to_send(rp::tc_print_threads, "x"),
                              p.prepare_string_to_send(rp::tc_print_log_rank, "Conn::send", ""),
                              p.prepare_string_to_send(rp::tc_parse_buffer, "a", "b"),
                              p.prepare_string_to_send(rp::tc_config_content, 1u)})
        EXPECT_EQ(built, nullptr);
    // Each copy keeps and frees its own text.
    p.prepare_string_to_send(rp::tc_print_threads);
    rp copy(p), assigned;
    assigned = p;
    p.prepare_string_to_send(rp::tc_print_stack, 5u);
    EXPECT_EQ(str(copy.process_received_string("")), empty);
    rp& alias = assigned;
    assigned = alias;
    EXPECT_EQ(str(assigned.prepare_string_to_send(rp::tc_version)), "!$");
}

TEST(RemoteProcess, FixedRepliesWithoutManager) {
    trace_manager_c* saved = g_katr_manager.exchange(nullptr);
    rp p;
    // Line feeds of a request come back as CR LF; without a manager the
    // control functions answer for themselves and output switches are not run.
    const std::pair<const char*, std::string> cases[] = {
        {"", empty}, {"hello", bad("hello")}, {"!$11", bad("!$11")}, {"!$x", bad("!$x")},
        {"!$4294967296", bad("!$4294967296")}, {"!$-1", bad("!$-1")}, {"a\nb", bad("a\r\nb")},
        {"!$", "Version = " + std::to_string(KATR_VERSION_MAJOR) + "." + std::to_string(KATR_VERSION_MINOR) + ", Build Number = 0"},
        {"!$9", no_manager}, {"!$1 Verbose On", no_manager}, {"!$7 f x.cpp", no_manager}, {"!$2 t", bad("!$2 t")},
    };
    for (const auto& c : cases) EXPECT_EQ(str(p.process_received_string(c.first)), c.second) << c.first;

    unsigned long long zero = 0;
    EXPECT_FALSE(katr_set_log_directory(nullptr, zero, "/tmp", nullptr, true));
    EXPECT_EQ(zero, no_manager.size() + 1);
    g_katr_manager.store(saved);
}

// Requests typed by hand: blanks and tabs between the parts, bad arguments,
// a loader message with CR LF at its end; a switch survives a buffer parse.
TEST_F(remote_test, RequestTexts) {
    write_file(path("my.jot"), "LogDirectoryName " + dir() + "\nDefaultLoggingRank fatal error\n");
    const std::string missing = path("missing.jot");
    const unsigned generation = m->generation.load();
    const std::pair<std::string, std::string> cases[] = {
        {"!$2 t", done}, {"!$2\t f", done}, {"!$2 true", bad("!$2 true")}, {"!$2", bad("!$2")},
        {"!$4 t", pid_ok}, {"!$4 x", bad("!$4 x")}, {"!$4 f", pid_ok},
        {"!$0 " + missing, "Unable to open katrace configuration file " + missing + "\r\n"},
        {"!$0  \t  " + path("my.jot"), file_ok}, {"!$3 t", done}, {"!$3 f", done},  // kept by the buffer parses below
        {"!$1", bad("!$1")}, {"!$1 AditionalRanks db net", buffer_ok}, {"!$1 Function Conn::send fatal net", buffer_ok},
        {"!$7 Conn::send\tconn.cpp", "fatal +net "}, {"!$7 Conn::send", bad("!$7 Conn::send")},
        {"!$1 Class Zero -fatal -error", buffer_ok}, {"!$7 Zero::f z.cpp", bad("!$7 Zero::f z.cpp")}, {"!$10 abc", bad("!$10 abc")},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.first.c_str()), c.second) << c.first;
    EXPECT_EQ(m->screen_ranks.load(), 0u);
    EXPECT_EQ(m->debugger_ranks.load(), 0u);
    EXPECT_FALSE(m->logger->add_pid);
    EXPECT_EQ(m->generation.load(), generation + 4);  // a missing file changes nothing
    EXPECT_EQ(run(("!$5 " + path("sub")).c_str()), "OK. Log directory has been set successfully");
    EXPECT_EQ(run("!$6 ignored").rfind(path("sub") + "/", 0), 0u);
    EXPECT_NE(run("!$1 NoSuchKeyword"), buffer_ok);
}

TEST_F(remote_test, ReplyConvention) {
    EXPECT_EQ(len_without_file, 28u);
    // Too small: an empty text, the size needed, and the change still made.
    char out[16] = "untouched";
    unsigned long long len = 10;
    katr_add_PID_to_log_fn(out, len, true);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(len, 44u);
    EXPECT_TRUE(m->config->add_pid_to_log_filename);
    char exact[44];  // exactly the size needed fits
    len = sizeof exact;
    katr_add_PID_to_log_fn(exact, len, false);
    EXPECT_EQ(exact, pid_ok);
    EXPECT_FALSE(m->config->add_pid_to_log_filename);
    out[0] = 'u';  // a size of 0 leaves the buffer alone
    len = 0;
    katr_print_threads(out, len);
    EXPECT_EQ(out[0], 'u');
    EXPECT_GT(len, 1u);

    char big[256];
    auto sized = [&]() -> unsigned long long& { return len = sizeof big; };  // a fresh size
    EXPECT_FALSE(katr_reparse_file(big, sized(), path("none.jot").c_str()));
    EXPECT_FALSE(katr_parse_buffer(big, sized(), ""));
    EXPECT_EQ(big, buffer_ok);
    EXPECT_FALSE(katr_set_log_directory(big, sized(), nullptr, nullptr, false));
    EXPECT_EQ(std::string(big), "Error! No LogDirName string has been provided");
    // A site without names gets the default rank (rank texts: the report and rank filter tests).
    katr_print_log_rank(big, sized(), nullptr, nullptr);
    EXPECT_EQ(std::string(big), "fatal +error +warning ");
}

// The lines of its scopes and messages are what the entry object prints for
// the same calls; bad arguments are refused without a crash.
namespace {

using c_interface_test = front_test;

void vprint_nl(katr_c_scope* s, unsigned rank, int line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    katr_c_vprint_nl(s, rank, line, format, arguments);
    va_end(arguments);
}

void vprint_named_nl(katr_c_scope* s, const char* rank_name, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    katr_c_vprint_user_defined_nl(s, rank_name, format, arguments);
    va_end(arguments);
}

const char* const config = "PrintLine on\nPrintFile on\nPrintFunction on\nKeepStack on\nDoIndentation on\nAditionalRanks db\n"
                           "DefaultLoggingRank trace error db";

}  // namespace

TEST_F(c_interface_test, ScopesPrintWhatTheEntryObjectPrints) {
    load(config);
    unsigned c_mask = KATR_RANK_SITE_DEFAULT, c_gen = 0;
    katr_c_scope s;
    katr_c_scope_begin(&s, "Conn::send", ".\\conn.c", &c_mask, &c_gen, 3, 1);
    vprint_nl(&s, KATR_RANK_ERROR, 7, "n=%d", 5);
    KATR_C_PRINT_NL(s, KATR_RANK_DEBUG, "hidden");
    vprint_named_nl(&s, "db", "x=%s", "y");
    katr_c_print_user_defined(&s, "nodb", "hidden");
    katr_c_print_long_string(&s, KATR_RANK_ERROR, 9, "long\r\n", 6);
    katr_c_print_user_defined_long_string(&s, "db", "named long\r\n", 12);
    EXPECT_TRUE(katr_c_is_set(&s, KATR_RANK_TRACE) && katr_c_is_set_user_defined(&s, "db") &&
                !katr_c_is_set(&s, KATR_RANK_DEBUG));
    katr_c_scope_end(&s);
    katr_c_scope_end(&s);  // a second end does nothing
    EXPECT_EQ(depth(), 0);
    EXPECT_EQ(since_load(), banner() + "3: . conn.c:Conn::send:enter->\r\n7:error-> .    n=5\r\ndb-> .    x=y\r\n9:error-> .    long\r\n"
                                       "db-> .    named long\r\n . conn.c:Conn::send:<-leave\r\n");
}

TEST_F(c_interface_test, BadArgumentsAreRefusedWithoutACrash) {
    load("DefaultLoggingRank all");
    katr_c_print(nullptr, KATR_RANK_ERROR, 1, "x");
    katr_c_print_long_string(nullptr, KATR_RANK_ERROR, 1, "x", 1);
    EXPECT_EQ(katr_c_is_set(nullptr, KATR_RANK_ALL), 0);
    katr_c_scope_end(nullptr);
    // Null site variables: the library's stand-ins.
    katr_c_scope s;
    katr_c_scope_begin(&s, nullptr, nullptr, nullptr, nullptr, 1, 0);
    katr_c_print_nl(&s, KATR_RANK_ERROR, 1, "%s", "stand-in site");
    katr_c_scope_end(&s);
    EXPECT_NE(since_load().find("stand-in site\r\n"), std::string::npos);

    testing::internal::CaptureStderr();
    katr_c_scope_begin(nullptr, "f", "a.c", nullptr, nullptr, 1, 1);
    katr_c_get_log_filename(nullptr, nullptr);
    EXPECT_EQ(katr_c_reparse_file(nullptr, nullptr, "x.jot"), 0);
    katr_c_command("!$6", nullptr, nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("katr_c_scope_begin called with a null scope"), std::string::npos) << err;
    EXPECT_NE(err.find("katr_c_reparse_file called with a null length pointer"), std::string::npos) << err;
    EXPECT_NE(err.find("katr_c_command called with a null length pointer"), std::string::npos) << err;
}
