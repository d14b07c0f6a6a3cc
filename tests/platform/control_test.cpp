// The control endpoint's transport within one process: the listener, a
// client, receive timeouts, a closing peer, the endpoint's name kept from a
// second listener, and (Windows) the pipe's security descriptor. Debugger
// output: on POSIX a test viewer (the platform's viewer end) receives what
// the library sends; on Windows the text goes to OutputDebugStringW and
// there is no viewer end.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"

#ifdef _WIN32
#  include <windows.h>
#  include <aclapi.h>
#endif

namespace {

class PlatformControl : public temp_dir_test {
protected:
    void SetUp() override {
        temp_dir_test::SetUp();
#ifndef _WIN32
        setenv("XDG_RUNTIME_DIR", dir().c_str(), 1);
#endif
    }
};

// A connection accepted on the listener while another thread connects.
intptr_t accept_one(intptr_t listener, intptr_t* client) {
    std::thread t([&] { *client = plat_control_connect(plat_pid(), 5000); });
    intptr_t conn = PLAT_NO_ENDPOINT;
    for (int i = 0; i < 50 && conn == PLAT_NO_ENDPOINT; ++i) conn = plat_control_accept(listener, 100);
    t.join();
    return conn;
}

}  // namespace

TEST_F(PlatformControl, ExchangeTimeoutsAndClose) {
    char why[512];
    const intptr_t listener = plat_control_listen(why, sizeof why);
    ASSERT_NE(listener, PLAT_NO_ENDPOINT) << why;
    // The name stays with its live listener.
    EXPECT_EQ(plat_control_listen(why, sizeof why), PLAT_NO_ENDPOINT);
    EXPECT_NE(std::string(why).find("katrace"), std::string::npos) << why;
#ifndef _WIN32
    // The second listener's probe of the live socket connected and left.
    const intptr_t probe = plat_control_accept(listener, 1000);
    char none;
    EXPECT_EQ(plat_conn_receive(probe, &none, 1, 1000), -1);
    plat_conn_close(probe);
#endif
    EXPECT_EQ(plat_control_accept(listener, 50), PLAT_NO_ENDPOINT);  // nobody came

    intptr_t client = PLAT_NO_ENDPOINT;
    const intptr_t conn = accept_one(listener, &client);
    ASSERT_NE(conn, PLAT_NO_ENDPOINT);
    ASSERT_NE(client, PLAT_NO_ENDPOINT);
    char buf[16] = {};
    const unsigned long long before = plat_clock_ms();
    EXPECT_EQ(plat_conn_receive(conn, buf, sizeof buf, 200), 0);  // silence: a timeout, not an end
    EXPECT_GE(plat_clock_ms() - before, 150u);
    EXPECT_TRUE(plat_conn_send(client, "ping", 4, 1000));
    EXPECT_EQ(plat_conn_receive(conn, buf, sizeof buf, 1000), 4);
    EXPECT_EQ(std::string(buf, 4), "ping");
    plat_conn_close(client);
    EXPECT_EQ(plat_conn_receive(conn, buf, sizeof buf, 1000), -1);  // the peer closed
    EXPECT_FALSE(plat_conn_send(conn, "late", 4, 200));             // and no signal for it
    plat_conn_close(conn);
    plat_control_close(listener, true);
    EXPECT_EQ(plat_control_connect(plat_pid(), 200), PLAT_NO_ENDPOINT);
}

#ifdef _WIN32
// The pipe's DACL holds one entry: access allowed for the current user.
// (Wine runs every process as one user, so a refused other user cannot be
// shown there; the descriptor itself can.)
TEST_F(PlatformControl, PipeIsOpenToTheCurrentUserOnly) {
    char why[512];
    const intptr_t listener = plat_control_listen(why, sizeof why);
    ASSERT_NE(listener, PLAT_NO_ENDPOINT) << why;
    const std::wstring name = L"\\\\.\\pipe\\katrace-" + std::to_wstring(plat_pid());
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd), ERROR_SUCCESS);
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, &ace));
    EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    unsigned char user[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    EXPECT_TRUE(EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
    CloseHandle(token);
    LocalFree(sd);
    CloseHandle(h);
    plat_control_close(listener, true);
}
#endif

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
