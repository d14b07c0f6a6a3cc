// Thread-local slots, last error, process heap, identity, time, executable.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#ifndef _WIN32
namespace {

unsigned g_exit_slot;
std::atomic<int> g_exit_calls{0};
std::atomic<void*> g_exit_value{nullptr};
std::atomic<void*> g_exit_lookup{nullptr};

// Records what the exit hook saw: its argument and the slot's value.
void on_thread_exit(void* value) {
    g_exit_calls++;
    g_exit_value = value;
    g_exit_lookup = plat_tls_get(g_exit_slot);
}

}  // namespace
#endif

TEST(PlatformTls, SlotsArePerThread) {
    unsigned slot;
    ASSERT_TRUE(plat_tls_alloc(&slot, nullptr));
    int here = 1, there = 2;
    EXPECT_EQ(plat_tls_get(slot), nullptr);
    EXPECT_TRUE(plat_tls_set(slot, &here));
    void* seen_before = &here;
    void* seen_after = &here;
    std::thread t([&] {
        seen_before = plat_tls_get(slot);
        plat_tls_set(slot, &there);
        seen_after = plat_tls_get(slot);
    });
    t.join();
    EXPECT_EQ(seen_before, nullptr);
    EXPECT_EQ(seen_after, &there);
    EXPECT_EQ(plat_tls_get(slot), &here);
    plat_tls_free(slot);
    EXPECT_FALSE(plat_tls_alloc(nullptr, nullptr));
}

#ifndef _WIN32
// Windows reports thread exit through DllMain instead of the hook.
TEST(PlatformTls, ExitHookSeesTheValueOnTheExitingThread) {
    ASSERT_TRUE(plat_tls_alloc(&g_exit_slot, on_thread_exit));
    int marker = 0;
    std::thread([&] { plat_tls_set(g_exit_slot, &marker); }).join();
    EXPECT_EQ(g_exit_calls.load(), 1);
    EXPECT_EQ(g_exit_value.load(), &marker);
    EXPECT_EQ(g_exit_lookup.load(), &marker);
    std::thread([] {}).join();   // a thread that never set the slot
    EXPECT_EQ(g_exit_calls.load(), 1);
    plat_tls_free(g_exit_slot);
}
#endif

TEST(PlatformSystem, LastErrorAndHeap) {
    plat_set_last_error(1234);
    EXPECT_EQ(plat_last_error(), 1234u);
    plat_set_last_error(0);
    EXPECT_EQ(plat_last_error(), 0u);

    void* heap = plat_process_heap();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(plat_process_heap(), heap);
    char* block = static_cast<char*>(plat_heap_alloc(heap, 100));
    ASSERT_NE(block, nullptr);
    memset(block, 'q', 100);
    EXPECT_TRUE(plat_heap_free(heap, block));
}

TEST(PlatformSystem, IdentityAndTime) {
    EXPECT_NE(plat_pid(), 0u);
    const unsigned long me = plat_thread_id();
    EXPECT_NE(me, 0u);
    EXPECT_EQ(plat_thread_id(), me);
    unsigned long other = me;
    std::thread([&] { other = plat_thread_id(); }).join();
    EXPECT_NE(other, me);

    const long long now = plat_time();
    EXPECT_LE(std::llabs(now - static_cast<long long>(std::time(nullptr))), 2);
    struct tm parts;
    ASSERT_TRUE(plat_localtime(now, &parts));
    EXPECT_GE(parts.tm_year + 1900, 2024);
    EXPECT_FALSE(plat_localtime(now, nullptr));

    char name[64];
    if (plat_thread_name(name, sizeof name)) {
        EXPECT_NE(name[0], 0);
#ifndef _WIN32
        EXPECT_STREQ(name, "test_platform");   // the process name
#endif
    } else {
        EXPECT_EQ(name[0], 0);
    }
    char tiny[2] = {'x', 'x'};
    EXPECT_FALSE(plat_thread_name(tiny, sizeof tiny));
    EXPECT_EQ(tiny[0], 0);
}

TEST(PlatformSystem, ExecutableImageAndPath) {
    const unsigned char* image = plat_exe_image();
    ASSERT_NE(image, nullptr);
#ifdef _WIN32
    EXPECT_EQ(image[0], 'M');
    EXPECT_EQ(image[1], 'Z');
#else
    EXPECT_EQ(memcmp(image, "\x7f" "ELF", 4), 0);   // no PE image: the console test answers false
#endif
    char path[4196];
    ASSERT_TRUE(plat_exe_path(path, sizeof path));
    const std::string p = path;
    EXPECT_NE(p.find("test_platform"), std::string::npos) << p;
    char small[8] = "xxxxxxx";
    EXPECT_FALSE(plat_exe_path(small, sizeof small));
    EXPECT_EQ(small[0], 0);
    EXPECT_FALSE(plat_exe_path(nullptr, 10));
}
