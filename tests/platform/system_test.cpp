// Thread-local slots, process heap, identity, time, executable.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

TEST(PlatformTls, SlotsArePerThread) {
    unsigned slot;
    ASSERT_TRUE(plat_tls_alloc(&slot, nullptr));
    int here = 1, there = 2;
    void *seen_before = &here, *seen_after = &here;
    EXPECT_EQ(plat_tls_get(slot), nullptr);
    EXPECT_TRUE(plat_tls_set(slot, &here));
    std::thread([&] {
        seen_before = plat_tls_get(slot);
        plat_tls_set(slot, &there);
        seen_after = plat_tls_get(slot);
    }).join();
    EXPECT_TRUE(seen_before == nullptr && seen_after == &there);
    EXPECT_EQ(plat_tls_get(slot), &here);
    plat_tls_free(slot);
    EXPECT_FALSE(plat_tls_alloc(nullptr, nullptr));
}

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

TEST(PlatformSystem, HeapIdentityAndTime) {
    void* heap = plat_process_heap();
    ASSERT_TRUE(heap && plat_process_heap() == heap);
    void* block = plat_heap_alloc(heap, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(plat_heap_free(heap, memset(block, 'q', 100)));

    const unsigned long me = plat_thread_id();
    unsigned long other = me;
    std::thread([&] { other = plat_thread_id(); }).join();
    EXPECT_TRUE(plat_pid() != 0 && me != 0 && plat_thread_id() == me && other != me);
    const long long now = plat_time();
    EXPECT_LE(std::llabs(now - static_cast<long long>(std::time(nullptr))), 2);
    struct tm parts;
    ASSERT_TRUE(plat_localtime(now, &parts));
    EXPECT_GE(parts.tm_year + 1900, 2024);
    EXPECT_FALSE(plat_localtime(now, nullptr));

    char name[64], tiny[2] = {'x', 'x'};
    const bool named = plat_thread_name(name, sizeof name);
    EXPECT_EQ(named, name[0] != 0);  // a name, or an empty buffer
#ifndef _WIN32
    EXPECT_STREQ(name, "test_platform");  // the process name
#endif
    EXPECT_FALSE(plat_thread_name(tiny, sizeof tiny) || tiny[0]);
}

TEST(PlatformSystem, ExecutableImageAndPath) {
    const unsigned char* image = plat_exe_image();
    ASSERT_NE(image, nullptr);
#ifdef _WIN32
    EXPECT_EQ(memcmp(image, "MZ", 2), 0);
#else
    EXPECT_EQ(memcmp(image, "\x7f" "ELF", 4), 0);  // no PE image: the console test answers false
#endif
    char path[4196], small[8] = "xxxxxxx";
    ASSERT_TRUE(plat_exe_path(path, sizeof path));
    EXPECT_NE(std::string(path).find("test_platform"), std::string::npos) << path;
    EXPECT_FALSE(plat_exe_path(small, sizeof small) || small[0] || plat_exe_path(nullptr, 10));
}
