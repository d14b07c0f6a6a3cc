// Read-only mappings, directory listings and (Windows) extended-length
// paths; the shared read-write mapping behind the black box (its refusal of
// planted entries is the log's open, tested with the log file), and the fine
// clock.
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
class PlatformFile : public temp_dir_test {};
using PlatformSharedMap = PlatformFile;

void collect(const char* name, void* ctx) { static_cast<std::vector<std::string>*>(ctx)->push_back(name); }
plat_fault_e no_space(plat_call_e, size_t*) { return PLAT_FAULT_NO_SPACE; }
}  // namespace

TEST_F(PlatformFile, MappingEndsInNulAtEverySize) {
    for (size_t size : {size_t(0), size_t(10), size_t(4095), size_t(4096), size_t(8192), size_t(65536)}) {
        SCOPED_TRACE(size);
        const std::string p = path("map_" + std::to_string(size));
        std::string content(size, 'x');
        if (size > 0) content[size - 1] = 'y';
        write_file(p, content);
        plat_mapping_s m;
        ASSERT_TRUE(plat_map_file(p.c_str(), &m));
        ASSERT_NE(m.data, nullptr);
        EXPECT_EQ(m.size, size);
        EXPECT_EQ(std::string(m.data), content);  // reads up to data[size], the NUL
        plat_unmap_file(&m);
        EXPECT_EQ(m.data, nullptr);
    }
    plat_mapping_s m;
    EXPECT_FALSE(plat_map_file(path("missing").c_str(), &m));
    EXPECT_EQ(m.data, nullptr);
    plat_unmap_file(&m);
    EXPECT_FALSE(plat_map_file(nullptr, &m));
    EXPECT_FALSE(plat_map_file(path("x").c_str(), nullptr));
}

TEST_F(PlatformFile, DirectoriesAndListing) {
    const std::string sub = path("sub");
    EXPECT_TRUE(plat_create_directory(sub.c_str()));
    EXPECT_FALSE(plat_create_directory(sub.c_str()));
    EXPECT_FALSE(plat_create_directory(path("no/such/parent").c_str()));
    write_file(path("one.log"), "1");
    write_file(path("two.log.1"), "2");
    write_file(sub + "/inner.log", "3");
    const std::string utf8_name = "caf\xC3\xA9.log";
    plat_file_t f = plat_file_open_append(path(utf8_name).c_str());
    ASSERT_NE(f, PLAT_NO_FILE);
    plat_file_close(f);

    std::vector<std::string> names;
    EXPECT_TRUE(plat_list_files(dir().c_str(), collect, &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"caf\xC3\xA9.log", "one.log", "two.log.1"}));

    EXPECT_FALSE(plat_list_files(path("missing").c_str(), collect, &names));
}

#ifdef _WIN32
// Extended-length forms reach the system unchanged.
TEST_F(PlatformFile, ExtendedLengthPathsPassThrough) {
    std::string long_dir = "\\\\?\\" + dir();
    std::replace(long_dir.begin(), long_dir.end(), '/', '\\');
    const std::string file = long_dir + "\\x.log";
    plat_file_t f = plat_file_open_append(file.c_str());
    ASSERT_NE(f, PLAT_NO_FILE);
    EXPECT_TRUE(plat_file_write(f, "x", 1));
    plat_file_close(f);
    EXPECT_EQ(plat_path_access(file.c_str()), 1);
    EXPECT_TRUE(plat_path_opens(long_dir.c_str()));
    std::vector<std::string> names;
    EXPECT_TRUE(plat_list_files(long_dir.c_str(), collect, &names));
    EXPECT_EQ(names, std::vector<std::string>{"x.log"});
    EXPECT_TRUE(plat_create_directory((long_dir + "\\sub").c_str()));
    EXPECT_TRUE(plat_move_file(file.c_str(), (long_dir + "\\y.log").c_str()));
    EXPECT_TRUE(plat_delete_file((long_dir + "\\y.log").c_str()));
}
#endif

// Stores reach the file; an earlier file at the name is emptied first, so
// nothing of it shows through the new map.
TEST_F(PlatformSharedMap, StoresReachTheFileAndOldContentIsDropped) {
    const std::string p = path("box.kbox");
    write_file(p, std::string(3 << 20, 'x'));
    plat_shared_map_s m;
    ASSERT_TRUE(plat_map_shared(p.c_str(), 1 << 20, &m));
    ASSERT_EQ(m.size, size_t(1) << 20);
    EXPECT_EQ(m.data[0], 0);
    EXPECT_EQ(m.data[m.size - 1], 0);
    m.data[1] = 'a';
    m.data[m.size - 1] = 'z';
    plat_mapping_s view;  // a second reader sees the stores while the map lives
    ASSERT_TRUE(plat_read_live_file(p.c_str(), &view));
    EXPECT_EQ(view.size, size_t(1) << 20);
    EXPECT_EQ(view.data[1], 'a');
    EXPECT_EQ(view.data[view.size - 1], 'z');
    plat_unmap_file(&view);
    plat_unmap_shared(&m);
    plat_unmap_shared(&m);  // released twice: nothing
    EXPECT_EQ(m.data, nullptr);
    const std::string bytes = read_file(p);
    ASSERT_EQ(bytes.size(), size_t(1) << 20);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 'a');
    EXPECT_EQ(bytes.back(), 'z');
}

TEST_F(PlatformSharedMap, BadRequestsAndFailedOpensAreRefused) {
    plat_shared_map_s m;
    EXPECT_FALSE(plat_map_shared(path("zero").c_str(), 0, &m));
    EXPECT_EQ(m.data, nullptr);
    EXPECT_FALSE(plat_map_shared(path("missing/x").c_str(), 4096, &m));
    EXPECT_FALSE(plat_map_shared(path("huge").c_str(), ~0ull, &m));
    plat_set_fault_hook(PLAT_CALL_MAP_SHARED, no_space);
    EXPECT_FALSE(plat_map_shared(path("full").c_str(), 4096, &m));
    plat_set_fault_hook(PLAT_CALL_MAP_SHARED, nullptr);
    EXPECT_EQ(m.data, nullptr);
    plat_unmap_shared(&m);
}

// The counter grows and, at its measured rate, keeps pace with the wall clock.
TEST(PlatformClock, TicksFollowTheWallClock) {
    const uint64_t rate = plat_tick_rate();
    ASSERT_GT(rate, 1000u);
    const uint64_t w0 = plat_wall_ns(), t0 = plat_ticks();
    plat_sleep_ms(50);
    const uint64_t w1 = plat_wall_ns(), t1 = plat_ticks();
    ASSERT_GT(t1, t0);
    const double ticks_ns = static_cast<double>(t1 - t0) * 1e9 / static_cast<double>(rate);
    EXPECT_NEAR(ticks_ns, static_cast<double>(w1 - w0), 5e6);
    EXPECT_NEAR(static_cast<double>(w0 / 1000000000u), static_cast<double>(plat_time()), 2);
}
