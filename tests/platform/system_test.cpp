// Thread-local slots (the exit hook) and the executable image and path.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#ifndef _WIN32
namespace {
unsigned g_exit_slot;
std::atomic<int> g_exit_calls{0};
std::atomic<void*> g_exit_value{nullptr}, g_exit_lookup{nullptr};
}  // namespace

// Windows reports thread exit through DllMain instead of the hook.
TEST(PlatformTls, ExitHookSeesTheValueOnTheExitingThread) {
    g_exit_calls = 0;  // the hook records its argument and the slot's value as it sees it
    ASSERT_TRUE(plat_tls_alloc(&g_exit_slot, [](void* value) {
        g_exit_calls++;
        g_exit_value = value;
        g_exit_lookup = plat_tls_get(g_exit_slot);
    }));
    int marker = 0;
    std::thread([&] { plat_tls_set(g_exit_slot, &marker); }).join();
    std::thread([] {}).join();  // a thread that never set the slot
    EXPECT_EQ(g_exit_calls.load(), 1);
    EXPECT_EQ(g_exit_value.load(), &marker);
    EXPECT_EQ(g_exit_lookup.load(), &marker);
    plat_tls_free(g_exit_slot);
}
#endif

TEST(PlatformSystem, ExecutableImageAndPath) {
    const unsigned char* image = plat_exe_image();
    ASSERT_NE(image, nullptr);
#ifdef _WIN32
    EXPECT_EQ(memcmp(image, "MZ", 2), 0);
#else
    EXPECT_EQ(memcmp(image, "\177ELF", 4), 0);  // no PE image: the console test answers false
#endif
    char path[4196], small[8] = "xxxxxxx";
    ASSERT_TRUE(plat_exe_path(path, sizeof path));
    EXPECT_NE(std::string(path).find("test_platform"), std::string::npos) << path;
    EXPECT_FALSE(plat_exe_path(small, sizeof small));
    EXPECT_EQ(small[0], '\0');
}
