// Read-only mappings, directory listings and (Windows) extended-length paths.
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
class PlatformFile : public temp_dir_test {};

void collect(const char* name, void* ctx) { static_cast<std::vector<std::string>*>(ctx)->push_back(name); }
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
        plat_unmap_file(&m);  // a second release is harmless
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
    EXPECT_FALSE(plat_list_files(nullptr, collect, &names));
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
