// Debugger output. On POSIX a test viewer (the platform's viewer end)
// receives what the library sends; on Windows the text goes to
// OutputDebugStringW and there is no viewer end.
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {
// Sends a whole text.
void emit(const std::string& text) { plat_debug_output(text.data(), text.size()); }
}  // namespace

#ifdef _WIN32
TEST(PlatformDebugOutput, AlwaysActiveAndNoViewerEndOnWindows) {
    EXPECT_TRUE(plat_debug_output_active());
    emit("katrace platform test\r\n");
    plat_debug_output(nullptr, 4);
    EXPECT_STREQ(plat_debug_endpoint(), "");
    EXPECT_EQ(plat_debug_viewer_open(nullptr), -1);
    char buf[4] = "abc";
    EXPECT_EQ(plat_debug_viewer_receive(0, buf, sizeof buf, 0), -1);
    EXPECT_STREQ(buf, "");
}
#else
namespace {
// The next datagram of a viewer, or "<none>" when none came within timeout_ms.
std::string receive(intptr_t viewer, unsigned timeout_ms = 0) {
    std::vector<char> buf(65536);
    int n = plat_debug_viewer_receive(viewer, buf.data(), buf.size(), timeout_ms);
    return n <= 0 ? "<none>" : std::string(buf.data(), static_cast<size_t>(n));
}

class PlatformDebugViewer : public temp_dir_test {};
}  // namespace

TEST_F(PlatformDebugViewer, ReceivesWhatIsSentAndTakesOverAStaleSocket) {
    const std::string ep = path("v.sock");
    plat_set_debug_endpoint(ep.c_str());
    EXPECT_FALSE(plat_debug_output_active());  // nobody listens
    const intptr_t v = plat_debug_viewer_open(ep.c_str());
    ASSERT_NE(v, -1);
    EXPECT_EQ(plat_debug_viewer_open(ep.c_str()), -1);  // a live viewer keeps its endpoint
    plat_set_debug_endpoint(ep.c_str());                // probe again at once
    EXPECT_TRUE(plat_debug_output_active());
    emit("caf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
    plat_debug_output(nullptr, 4);
    emit(std::string(10000, 'b'));
    emit(std::string("cut\0here", 8));  // up to the first NUL
    EXPECT_EQ(receive(v), "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
    EXPECT_EQ(receive(v), std::string(10000, 'b'));
    EXPECT_EQ(receive(v), "cut");
    EXPECT_EQ(receive(v, 20), "<none>");

    // A socket file that outlived its viewer (moved away so that closing does
    // not remove it) is taken over.
    const std::string stale = path("stale.sock");
    std::filesystem::rename(ep, stale);
    plat_debug_viewer_close(v);
    const intptr_t again = plat_debug_viewer_open(stale.c_str());
    EXPECT_NE(again, -1);
    plat_debug_viewer_close(again);
    EXPECT_EQ(plat_path_access(stale.c_str()), 0);
    EXPECT_EQ(plat_debug_viewer_open(path(std::string(200, 'p')).c_str()), -1);  // too long for a socket
    plat_set_debug_endpoint(("/tmp/" + std::string(200, 'p')).c_str());
    EXPECT_FALSE(plat_debug_output_active());
    plat_set_debug_endpoint(nullptr);
}

#endif
