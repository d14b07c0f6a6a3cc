// Faults injected through the platform's table of system calls: each call
// fails with the backend's code for the fault and works again once the hook
// is gone; short writes are completed and interrupted calls retried. And the
// system services: thread-local slots (the exit hook), the executable's image
// and path.
#include "common/fault.h"
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {
class PlatformFault : public temp_dir_test {};
void ignore(const char*, void*) {}
}  // namespace

// (Open, write and rename faults: the log file tests, which show their codes.)
TEST_F(PlatformFault, EachCallFailsWithTheFaultAndRecovers) {
    const std::string file = path("f.log"), sub = path("sub");
    write_file(file, "x");
    unsigned slot = 0;
    void* block = nullptr;
    plat_mapping_s m;
    const struct { plat_call_e call; plat_fault_e fault; unsigned long code; std::function<bool()> op; } cases[] = {
        {PLAT_CALL_MKDIR, PLAT_FAULT_NO_SPACE, ERR_NO_SPACE, [&] { return plat_create_directory(sub.c_str()); }},
        {PLAT_CALL_LIST, PLAT_FAULT_TOO_MANY_FILES, ERR_TOO_MANY_FILES,
         [&] { return plat_list_files(dir().c_str(), ignore, nullptr); }},
        {PLAT_CALL_MAP, PLAT_FAULT_TOO_MANY_FILES, ERR_TOO_MANY_FILES,
         [&] { bool ok = plat_map_file(file.c_str(), &m); plat_unmap_file(&m); return ok; }},
        {PLAT_CALL_TLS_ALLOC, PLAT_FAULT_NO_SPACE, ERR_NO_SPACE,
         [&] { bool ok = plat_tls_alloc(&slot, nullptr); if (ok) plat_tls_free(slot); return ok; }},
        {PLAT_CALL_HEAP, PLAT_FAULT_NO_SPACE, ERR_NO_SPACE,
         [&] { block = plat_heap_alloc(plat_process_heap(), 16); return block && plat_heap_free(plat_process_heap(), block); }},
        {PLAT_CALL_UNLINK, PLAT_FAULT_ACCESS_DENIED, ERR_ACCESS_DENIED, [&] { return plat_delete_file(file.c_str()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        {
            fault_c fault(c.call, c.fault);
            plat_set_last_error(0);
            EXPECT_FALSE(c.op());
            EXPECT_EQ(plat_last_error(), c.code);
            EXPECT_GE(fault.calls(), 1);
        }
        EXPECT_TRUE(c.op());
    }
    EXPECT_EQ(read_file(file), "");  // the last case deleted it
}

// A write that the system cuts short is continued until the line is whole,
// whatever size the system lets through each time.
TEST_F(PlatformFault, ShortWritesAreCompleted) {
    const std::string prefix = "prefix|", body(300, 'b');
    for (size_t cap : {size_t(1), size_t(3), size_t(7), size_t(8), size_t(299)}) {
        SCOPED_TRACE(cap);
        const std::string p = path("short" + std::to_string(cap));
        plat_file_t f = plat_file_open_append(p.c_str());
        ASSERT_NE(f, PLAT_NO_FILE);
        {
            fault_c shorten(PLAT_CALL_WRITE, PLAT_FAULT_NONE, 0, 0, cap);
            EXPECT_TRUE(plat_file_write2(f, prefix.data(), prefix.size(), body.data(), body.size()));
            EXPECT_TRUE(plat_file_write(f, "\r\n", 2));
            EXPECT_GT(shorten.calls(), 1);
        }
        plat_file_close(f);
        EXPECT_EQ(read_file(p), prefix + body + "\r\n");
    }
}

#if !defined(_WIN32)
// A signal that interrupts the open or a write is not a failure: the call is
// made again.
TEST_F(PlatformFault, InterruptedCallsAreRetried) {
    const std::string p = path("eintr.log");
    plat_file_t f;
    {
        fault_c interrupted(PLAT_CALL_OPEN, PLAT_FAULT_INTERRUPTED, 3);
        f = plat_file_open_append(p.c_str());
        EXPECT_EQ(interrupted.calls(), 4);
    }
    ASSERT_NE(f, PLAT_NO_FILE);
    {
        fault_c interrupted(PLAT_CALL_WRITE, PLAT_FAULT_INTERRUPTED, 2);
        EXPECT_TRUE(plat_file_write2(f, "ab", 2, "cd", 2));
        EXPECT_TRUE(plat_file_write(f, "e", 1));
        EXPECT_EQ(interrupted.calls(), 4);
    }
    plat_file_close(f);
    EXPECT_EQ(read_file(p), "abcde");
}
#endif

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
