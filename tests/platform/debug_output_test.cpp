// Debugger output. On POSIX a test viewer binds its own socket and receives
// what the library sends; on Windows the text goes to OutputDebugStringW.
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

typedef std::basic_string<katr_wchar_t> wide_t;

wide_t wide(const std::u16string& s) {
    return wide_t(s.begin(), s.end());
}

}  // namespace

#ifdef _WIN32

TEST(PlatformDebugOutput, AlwaysActiveOnWindows) {
    EXPECT_TRUE(plat_debug_output_active());
    plat_debug_output(wide(u"katrace platform test\r\n").c_str());
    plat_debug_output(nullptr);
    EXPECT_STREQ(plat_debug_endpoint(), "");
}

#else

namespace {

// A datagram socket bound at a path: the viewer end of the debug output.
class test_viewer_c {
public:
    explicit test_viewer_c(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        unlink(path.c_str());
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~test_viewer_c() {
        close(fd_);
        unlink(path_.c_str());
    }
    bool bound() const { return bound_; }
    // The next datagram, or "<none>" when none is waiting.
    std::string receive() {
        char buf[65536];
        ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        return n < 0 ? "<none>" : std::string(buf, static_cast<size_t>(n));
    }

private:
    std::string path_;
    int fd_;
    bool bound_;
};

// A short socket path of its own: socket paths are limited to 107 bytes.
std::string socket_path(const char* tag) {
    return "/tmp/katr_dbg_" + std::to_string(getpid()) + "_" + tag + ".sock";
}

}  // namespace

TEST(PlatformDebugOutput, ViewerReceivesTextsWhileItListens) {
    const std::string ep = socket_path("recv");
    plat_set_debug_endpoint(ep.c_str());
    EXPECT_STREQ(plat_debug_endpoint(), ep.c_str());
    EXPECT_FALSE(plat_debug_output_active());   // nobody listens
    plat_debug_output(wide(u"lost").c_str());
    {
        test_viewer_c viewer(ep);
        ASSERT_TRUE(viewer.bound());
        plat_set_debug_endpoint(ep.c_str());    // probe again at once
        EXPECT_TRUE(plat_debug_output_active());
        plat_debug_output(wide(u"caf\u00e9 \U0001F600\r\n").c_str());
        plat_debug_output(wide(u"").c_str());   // nothing to send
        plat_debug_output(nullptr);
        wide_t big(10000, katr_wchar_t('b'));
        plat_debug_output(big.c_str());
        EXPECT_EQ(viewer.receive(), "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
        EXPECT_EQ(viewer.receive(), std::string(10000, 'b'));
        EXPECT_EQ(viewer.receive(), "<none>");
    }
    // The viewer left: the next send notices, and the test stays cheap.
    plat_debug_output(wide(u"after").c_str());
    EXPECT_FALSE(plat_debug_output_active());

    plat_set_debug_endpoint(nullptr);
    const std::string def = plat_debug_endpoint();
    EXPECT_TRUE(def.size() > 11 && (def.substr(def.size() - 11) == "/debug.sock" ||
                                    def.substr(def.size() - 19) == "/katrace-debug.sock")) << def;
    const std::string too_long(200, 'p');
    plat_set_debug_endpoint(("/tmp/" + too_long).c_str());
    EXPECT_FALSE(plat_debug_output_active());
    plat_set_debug_endpoint(nullptr);
}

TEST(PlatformConcurrent, DebugOutputWhileTheViewerComesAndGoes) {
    const std::string ep = socket_path("conc");
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::vector<std::thread> senders;
    const wide_t text = wide(u"concurrent line\r\n");
    for (int i = 0; i < 6; ++i) {
        senders.emplace_back([&] {
            while (!stop.load()) {
                if (plat_debug_output_active()) {
                    plat_debug_output(text.c_str());
                    sent++;
                }
            }
        });
    }
    long received = 0;
    for (int round = 0; round < 4; ++round) {
        test_viewer_c viewer(ep);
        ASSERT_TRUE(viewer.bound());
        plat_set_debug_endpoint(ep.c_str());
        for (int i = 0; i < 200; ++i) {
            std::string got = viewer.receive();
            if (got == "<none>") {
                plat_sleep_ms(1);
                continue;
            }
            EXPECT_EQ(got, "concurrent line\r\n");
            ++received;
        }
    }   // each round's viewer leaves; senders notice on their next send
    stop = true;
    for (auto& t : senders) t.join();
    plat_set_debug_endpoint(nullptr);
    EXPECT_GT(received, 0);
    EXPECT_GE(sent.load(), received);
}

#endif
