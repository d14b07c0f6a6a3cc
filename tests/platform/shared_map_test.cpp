// The shared read-write mapping behind the black box (its refusal of planted
// entries is the log's open, tested with the log file), and the fine clock.
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <string>

namespace {
class PlatformSharedMap : public temp_dir_test {};

plat_fault_e no_space(plat_call_e, size_t*) { return PLAT_FAULT_NO_SPACE; }
}  // namespace

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
    EXPECT_FALSE(plat_map_shared(nullptr, 4096, &m));
    EXPECT_FALSE(plat_map_shared(path("x").c_str(), 4096, nullptr));
    EXPECT_FALSE(plat_map_shared(path("missing/x").c_str(), 4096, &m));
    EXPECT_FALSE(plat_map_shared(path("huge").c_str(), ~0ull, &m));
    plat_set_fault_hook(PLAT_CALL_MAP_SHARED, no_space);
    EXPECT_FALSE(plat_map_shared(path("full").c_str(), 4096, &m));
    plat_set_fault_hook(PLAT_CALL_MAP_SHARED, nullptr);
    EXPECT_EQ(m.data, nullptr);
    plat_unmap_shared(&m);
    plat_unmap_shared(nullptr);
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
