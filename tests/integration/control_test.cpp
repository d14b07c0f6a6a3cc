// The control endpoint end to end: a host that opened it (control_host)
// runs in the background and katrctl, a separate process, steers it; bad
// clients talk to it through the platform layer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "common/temp_dir.h"
#include "platform/platform.h"

#if !defined(_WIN32)
#  include <sys/fsuid.h>
#  include <sys/socket.h>
#  include <sys/un.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The executable suffix and the line end katrctl writes.
#if defined(_WIN32)
const std::string EXE = ".exe";
const std::string NL = "\r\n";
#else
const std::string EXE = "";
const std::string NL = "\n";
#endif

class ControlTest : public temp_dir_test {
protected:
    void SetUp() override {
        temp_dir_test::SetUp();
#if !defined(_WIN32)
        // The endpoints of this test only, away from other hosts of the user.
        setenv("XDG_RUNTIME_DIR", dir().c_str(), 1);
#endif
    }
    void TearDown() override {
        if (started_) end_host();
        temp_dir_test::TearDown();
    }
    // Lets the host end and waits for it (Windows keeps open files).
    void end_host() {
        write_file(path("stop"), "");
        write_file(path("exit"), "");
        char name[256];
        for (int i = 0; i < 50 && pid_ && plat_process_name(pid_, name, sizeof name); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        started_ = false;
    }
    // Starts the host in the background and returns its pid (0 on failure).
    unsigned long start_host() {
        write_file(path("host.jot"), "LogDirectoryName " + dir() + "/log/\nKeepStack on\nPrintToDebugVew Off\n"
                                                                   "DefaultLoggingRank fatal error warning\n");
#if defined(_WIN32)
        const std::string cmd = "start \"\" /b control_host.exe \"" + path("host.jot") + "\" \"" + dir() + "\"";
#else
        const std::string cmd = "./control_host \"" + path("host.jot") + "\" \"" + dir() + "\" 2> \"" + path("err.txt") + "\" &";
#endif
        if (std::system(cmd.c_str()) != 0) return 0;
        started_ = true;
        pid_ = wait_for("pid") ? std::stoul(read_file(path("pid"))) : 0;
        return pid_;
    }
    bool wait_for(const std::string& name) {
        for (int i = 0; i < 600 && !fs::exists(fs::u8path(path(name))); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return fs::exists(fs::u8path(path(name)));
    }
    // Runs katrctl with args; its exit code, standard output in out_.
    int ctl(const std::string& args) {
        const std::string cmd = program("katrctl") + " " + args + " > \"" + path("out.txt") + "\" 2>&1";
        const int rc = std::system(cmd.c_str());
        out_ = read_file(path("out.txt"));
#if defined(_WIN32)
        return rc;
#else
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
    }
    std::string log() { return read_file(dir() + "/log/control_host.log"); }

    std::string out_;
    bool started_ = false;
    unsigned long pid_ = 0;
};

// A framed request: the 4-byte little-endian length, then the text.
std::string frame(const std::string& text) {
    const size_t n = text.size();
    return std::string{char(n), char(n >> 8), char(n >> 16), char(n >> 24)} + text;
}

// Sends raw bytes on a fresh connection and reports whether the host closed
// it without a reply byte.
bool closed_unanswered(unsigned long pid, const std::string& bytes) {
    const intptr_t c = plat_control_connect(pid, 5000);
    if (c == PLAT_NO_ENDPOINT) return false;
    bool sent = bytes.empty() || plat_conn_send(c, bytes.data(), bytes.size(), 5000);
    char b;
    const int n = plat_conn_receive(c, &b, 1, 10000);
    plat_conn_close(c);
    return sent && n < 0;
}

}  // namespace

TEST_F(ControlTest, ConcurrentTracingSteeredFromOutside) {
    const unsigned long pid = start_host();
    ASSERT_NE(pid, 0u) << read_file(path("err.txt"));
    const std::string id = std::to_string(pid);

    ASSERT_EQ(ctl("list"), 0) << out_;
    EXPECT_NE(out_.find(id + " control_host" + EXE + NL), std::string::npos) << out_;

    ASSERT_EQ(ctl(id + " threads"), 0) << out_;
    EXPECT_NE(out_.find("worker-1"), std::string::npos) << out_;
    EXPECT_NE(out_.find("worker-2"), std::string::npos) << out_;
    // CR LF became the platform's line end.
    EXPECT_EQ(count(out_, "\r"), NL.size() == 1 ? 0 : count(out_, "\n")) << out_;
    EXPECT_GE(count(out_, NL), 3u);

    ASSERT_EQ(ctl(id + " stack"), 0);
    EXPECT_NE(out_.find("demo::Worker::run"), std::string::npos) << out_;

    // Debug lines appear in the log only after the class rule arrives.
    EXPECT_EQ(log().find("debug line"), std::string::npos);
    ASSERT_EQ(ctl(id + " parse \"Class demo::Worker +debug\""), 0);
    for (int i = 0; i < 200 && log().find("debug line") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(log().find("debug line"), std::string::npos);

    ASSERT_EQ(ctl(id + " rank demo::Worker::run control_host.cpp"), 0);
    EXPECT_EQ(out_, "fatal +error +warning +debug " + NL);
    write_file(path("rule.txt"), "Function demo::Worker::run +note\n");
    ASSERT_EQ(ctl(id + " parse - < \"" + path("rule.txt") + "\""), 0);  // the text from standard input
    ASSERT_EQ(ctl(id + " rank demo::Worker::run control_host.cpp"), 0);
    EXPECT_NE(out_.find("+note"), std::string::npos) << out_;
    ASSERT_EQ(ctl(id + " config"), 0);  // (the report's text: the configuration report tests)
    EXPECT_NE(out_.find("demo::Worker"), std::string::npos) << out_;

    // Bad clients are closed unanswered and the host lives on: garbage, a
    // 4 GiB length, a request cut short. A silent client does not keep the
    // others waiting beyond the receive timeout.
    EXPECT_TRUE(closed_unanswered(pid, "garbage that is no frame"));
    EXPECT_TRUE(closed_unanswered(pid, std::string(4, '\xFF') + "x"));
    EXPECT_TRUE(closed_unanswered(pid, frame("!$9").substr(0, 5)));
    const intptr_t silent = plat_control_connect(pid, 5000);
    ASSERT_NE(silent, PLAT_NO_ENDPOINT);
    EXPECT_EQ(ctl(id + " version"), 0);
    plat_conn_close(silent);
    // Several requests on one connection.
    const intptr_t c = plat_control_connect(pid, 5000);
    ASSERT_NE(c, PLAT_NO_ENDPOINT);
    const std::string two = frame("!$") + frame("!$6");
    ASSERT_TRUE(plat_conn_send(c, two.data(), two.size(), 5000));
    std::string got;
    char buf[4096];
    int n;
    while (got.find("control_host.log") == std::string::npos && (n = plat_conn_receive(c, buf, sizeof buf, 10000)) > 0)
        got.append(buf, static_cast<size_t>(n));
    plat_conn_close(c);
    EXPECT_EQ(got.compare(4, 10, "Version = "), 0) << got;
    EXPECT_NE(got.find("control_host.log"), std::string::npos) << got;

    // Usage errors and an unknown process.
    EXPECT_EQ(ctl("--help"), 0);
    EXPECT_EQ(out_.find("usage: katrctl list"), 0u) << out_;
    EXPECT_EQ(ctl(id + " verbose maybe"), 2);
    EXPECT_EQ(ctl("2147483000 version"), 1);

    // katr_control_stop closes the endpoint while the host lives on.
    write_file(path("stop"), "");
    ASSERT_TRUE(wait_for("stopped"));
    EXPECT_EQ(ctl(id + " version"), 1) << out_;
    EXPECT_EQ(ctl("list"), 0);
    EXPECT_EQ(out_.find(id + " "), std::string::npos) << out_;
#if !defined(_WIN32)
    EXPECT_FALSE(fs::exists(dir() + "/katrace/" + id + ".sock"));
    end_host();  // nothing on its standard error (sanitizer reports included)
    EXPECT_EQ(read_file(path("err.txt")), "");
#endif
}

#if !defined(_WIN32)
sockaddr_un unix_address(const std::string& file) {
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", file.c_str());
    return addr;
}

// Another user cannot reach the endpoint (its directory is the user's alone)
// and, should it reach the socket, is closed unanswered (SO_PEERCRED).
TEST_F(ControlTest, AnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const unsigned long pid = start_host();
    ASSERT_NE(pid, 0u) << read_file(path("err.txt"));
    const std::string sock = dir() + "/katrace/" + std::to_string(pid) + ".sock";
    chmod(dir().c_str(), 0755);  // the temporary directory itself, for the child

    // A plain other user: katrctl fails at the private directory.
    pid_t child = fork();
    if (child == 0) {
        if (!freopen("/dev/null", "w", stderr) || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        execl("./katrctl", "katrctl", std::to_string(pid).c_str(), "version", static_cast<char*>(nullptr));
        _exit(4);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;

    // Effective uid 65534 while file access still runs as root (fsuid 0):
    // the socket is reached, and the host must refuse by the peer's uid.
    child = fork();
    if (child == 0) {
        if (setresuid(65534, 65534, 0) != 0) _exit(3);
        setfsuid(0);
        const int s = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr = unix_address(sock);
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(5);
        const std::string req = frame("!$");
        if (send(s, req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size())) _exit(0);  // already closed
        char b;
        _exit(recv(s, &b, 1, 0) <= 0 ? 0 : 6);
    }
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ctl(std::to_string(pid) + " version"), 0) << out_;  // the owner still gets answers
}

// A socket file left by a process that ended is skipped and removed by
// list, and a directory open to others is refused by the host.
TEST_F(ControlTest, StaleSocketsAndOpenDirectory) {
    fs::create_directories(dir() + "/katrace");
    chmod((dir() + "/katrace").c_str(), 0700);
    const std::string stale = dir() + "/katrace/2147483000.sock";
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = unix_address(stale);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(s);
    EXPECT_EQ(ctl("list"), 0);
    EXPECT_EQ(out_, "");
    EXPECT_FALSE(fs::exists(stale));

    chmod((dir() + "/katrace").c_str(), 0755);
    write_file(path("host.jot"), "LogDirectoryName " + dir() + "/log/\n");
    const std::string cmd = "./control_host \"" + path("host.jot") + "\" \"" + dir() + "\" 2> \"" + path("err.txt") + "\"";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    EXPECT_NE(read_file(path("err.txt")).find("open to other users"), std::string::npos) << read_file(path("err.txt"));
}
#endif
