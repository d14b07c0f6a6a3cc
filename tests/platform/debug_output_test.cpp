// Debugger output. On POSIX a test viewer (the platform's viewer end)
// receives what the library sends; on Windows the text goes to
// OutputDebugStringW and there is no viewer end.
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {
typedef std::basic_string<katr_wchar_t> wide_t;

wide_t wide(const std::u16string& s) { return wide_t(s.begin(), s.end()); }
}  // namespace

#ifdef _WIN32
TEST(PlatformDebugOutput, AlwaysActiveAndNoViewerEndOnWindows) {
    EXPECT_TRUE(plat_debug_output_active());
    plat_debug_output(wide(u"katrace platform test\r\n").c_str());
    plat_debug_output(nullptr);
    EXPECT_STREQ(plat_debug_endpoint(), "");
    EXPECT_TRUE(plat_debug_viewer_open(nullptr) == -1 && plat_debug_viewer_open("C:/katr_viewer.sock") == -1);
    char buf[4] = "abc";
    EXPECT_EQ(plat_debug_viewer_receive(0, buf, sizeof buf, 0), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(plat_debug_viewer_receive(0, nullptr, 0, 0), -1);
    plat_debug_viewer_close(-1);
}
#else
namespace {
// The viewer end of the debug output, bound at a path.
class test_viewer_c {
public:
    explicit test_viewer_c(const std::string& path) : viewer_(plat_debug_viewer_open(path.c_str())) {}
    ~test_viewer_c() { plat_debug_viewer_close(viewer_); }
    bool bound() const { return viewer_ != -1; }
    // The next datagram, or "<none>" when none came within timeout_ms.
    std::string receive(unsigned timeout_ms = 0) {
        std::vector<char> buf(65536);
        int n = plat_debug_viewer_receive(viewer_, buf.data(), buf.size(), timeout_ms);
        return n <= 0 ? "<none>" : std::string(buf.data(), static_cast<size_t>(n));
    }
private:
    intptr_t viewer_;
};

// A short socket path of its own: socket paths are limited to 107 bytes.
std::string socket_path(const char* tag) { return "/tmp/katr_dbg_" + std::to_string(plat_pid()) + "_" + tag + ".sock"; }
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
        plat_debug_output(wide_t(10000, katr_wchar_t('b')).c_str());
        EXPECT_EQ(viewer.receive(), "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
        EXPECT_EQ(viewer.receive(), std::string(10000, 'b'));
        EXPECT_EQ(viewer.receive(), "<none>");
    }
    plat_debug_output(wide(u"after").c_str());  // the viewer left: the next send notices
    EXPECT_FALSE(plat_debug_output_active());
    plat_set_debug_endpoint(nullptr);
    const std::string def = plat_debug_endpoint();
    EXPECT_TRUE(def.size() > 11 && (def.substr(def.size() - 11) == "/debug.sock" ||
                                    def.substr(def.size() - 19) == "/katrace-debug.sock")) << def;
    plat_set_debug_endpoint(("/tmp/" + std::string(200, 'p')).c_str());  // too long for a socket
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
                if (!plat_debug_output_active()) continue;
                plat_debug_output(text.c_str());
                sent++;
            }
        });
    }
    long received = 0;
    for (int round = 0; round < 4; ++round) {
        test_viewer_c viewer(ep);
        ASSERT_TRUE(viewer.bound());
        plat_set_debug_endpoint(ep.c_str());
        for (int i = 0; i < 200; ++i) {
            const std::string got = viewer.receive(1);
            EXPECT_TRUE(got == "<none>" || got == "concurrent line\r\n") << got;
            received += got != "<none>";
        }
    }   // each round's viewer leaves; senders notice on their next send
    stop = true;
    for (auto& t : senders) t.join();
    plat_set_debug_endpoint(nullptr);
    EXPECT_GT(received, 0);
    EXPECT_GE(sent.load(), received);
}

class PlatformDebugViewer : public temp_dir_test {};

TEST_F(PlatformDebugViewer, ReceivesAndOwnsItsEndpoint) {
    const std::string ep = path("v.sock");
    const intptr_t v = plat_debug_viewer_open(ep.c_str());
    ASSERT_NE(v, -1);
    EXPECT_EQ(plat_path_access(ep.c_str()), 1);
    EXPECT_EQ(plat_debug_viewer_open(ep.c_str()), -1);   // a live viewer keeps its endpoint
    plat_set_debug_endpoint(ep.c_str());
    plat_debug_output(wide(u"0123456789").c_str());
    plat_debug_output(wide(u"next").c_str());
    char buf[8] = "xxxxxxx";
    EXPECT_EQ(plat_debug_viewer_receive(v, buf, sizeof buf, 0), 7);
    EXPECT_STREQ(buf, "0123456");                        // cut; the rest is gone
    EXPECT_EQ(plat_debug_viewer_receive(v, buf, sizeof buf, 0), 4);
    EXPECT_STREQ(buf, "next");
    EXPECT_EQ(plat_debug_viewer_receive(v, buf, sizeof buf, 20), 0);  // timeout
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(plat_debug_viewer_receive(v, nullptr, 8, 0), -1);
    EXPECT_EQ(plat_debug_viewer_receive(v, buf, 0, 0), -1);
    EXPECT_EQ(plat_debug_viewer_receive(-1, buf, sizeof buf, 0), -1);
    plat_debug_viewer_close(v);
    plat_debug_viewer_close(-1);
    EXPECT_EQ(plat_path_access(ep.c_str()), 0);

    // A viewer's socket file that outlived it (here moved away from under
    // it, so that closing does not remove it) is taken over.
    const intptr_t gone = plat_debug_viewer_open(ep.c_str());
    ASSERT_NE(gone, -1);
    const std::string stale = path("stale.sock");
    ASSERT_TRUE(plat_move_file(ep.c_str(), stale.c_str()));
    plat_debug_viewer_close(gone);
    ASSERT_EQ(plat_path_access(stale.c_str()), 1);
    const intptr_t again = plat_debug_viewer_open(stale.c_str());
    EXPECT_NE(again, -1);
    plat_debug_viewer_close(again);
    write_file(path("plain"), "keep");  // other files and unusable paths are refused
    EXPECT_EQ(plat_debug_viewer_open(path("plain").c_str()), -1);
    EXPECT_EQ(read_file(path("plain")), "keep");
    EXPECT_EQ(plat_debug_viewer_open(path(std::string(200, 'p')).c_str()), -1);
    EXPECT_EQ(plat_debug_viewer_open(""), -1);
    plat_set_debug_endpoint(nullptr);
}

// The default endpoint lies in a directory the viewer makes private, as the
// senders require before they send there.
TEST(PlatformDebugViewerDefault, SendersReachAViewerAtTheDefaultEndpoint) {
    plat_set_debug_endpoint(nullptr);
    if (plat_debug_output_active()) GTEST_SKIP() << "another viewer listens at the default endpoint";
    const intptr_t v = plat_debug_viewer_open(nullptr);
    if (v == -1) {
        plat_set_debug_endpoint(nullptr);
        if (plat_debug_output_active()) GTEST_SKIP() << "another viewer started meanwhile";
    }
    ASSERT_NE(v, -1);
    const std::string ep = plat_debug_endpoint();
    namespace fs = std::filesystem;
    const fs::perms p = fs::status(fs::path(ep).parent_path()).permissions();
    EXPECT_EQ(p & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
    plat_set_debug_endpoint(nullptr);   // probe again at once
    EXPECT_TRUE(plat_debug_output_active());
    plat_debug_output(wide(u"to the default endpoint").c_str());
    char buf[64];
    EXPECT_EQ(plat_debug_viewer_receive(v, buf, sizeof buf, 1000), 23);
    EXPECT_STREQ(buf, "to the default endpoint");
    plat_debug_viewer_close(v);
    EXPECT_EQ(plat_path_access(ep.c_str()), 0);
    plat_set_debug_endpoint(nullptr);
}

#endif
