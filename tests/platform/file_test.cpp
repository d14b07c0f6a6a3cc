// Log file appends, read-only mappings and single-path file operations.
#include "common/planted.h"
#include "common/temp_dir.h"
#include "platform/platform.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
class PlatformFile : public temp_dir_test {};

void collect(const char* name, void* ctx) { static_cast<std::vector<std::string>*>(ctx)->push_back(name); }
}  // namespace

TEST_F(PlatformFile, AppendSizeAndTwoPieceWrites) {
    const std::string p = path("log.txt");
    write_file(p, "old\n");
    plat_file_t f = plat_file_open_append(p.c_str());
    ASSERT_NE(f, PLAT_NO_FILE);
    EXPECT_EQ(plat_file_size(f), 4);
    std::string big(200000, 'z');  // larger than any pipe or stack buffer
    EXPECT_TRUE(plat_file_write(f, "abc", 3));
    EXPECT_TRUE(plat_file_write2(f, "", 0, "d", 1));
    EXPECT_TRUE(plat_file_write2(f, "e", 1, nullptr, 0));
    EXPECT_TRUE(plat_file_write2(f, big.data(), big.size(), "!", 1));
    EXPECT_EQ(plat_file_size(f), 4 + 5 + 200001);
    plat_file_close(f);
    EXPECT_EQ(read_file(p), "old\nabcde" + big + "!");
    EXPECT_FALSE(plat_file_write(PLAT_NO_FILE, "x", 1));
    EXPECT_FALSE(plat_file_write2(PLAT_NO_FILE, "x", 1, "y", 1));
    EXPECT_EQ(plat_file_size(PLAT_NO_FILE), -1);
    EXPECT_EQ(plat_file_open_append(path("missing_dir/log.txt").c_str()), PLAT_NO_FILE);
}

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

TEST_F(PlatformFile, MoveNeverReplacesDeleteAndExistence) {
    const std::string a = path("a.txt"), b = path("b.txt"), c = path("c.txt");
    write_file(a, "A");
    write_file(c, "C");
    EXPECT_TRUE(plat_move_file(a.c_str(), b.c_str()));
    EXPECT_EQ(plat_path_access(a.c_str()), 0);
    EXPECT_FALSE(plat_move_file(c.c_str(), b.c_str()));  // never replaces
    EXPECT_EQ(read_file(b) + read_file(c), "AC");
    EXPECT_FALSE(plat_move_file(a.c_str(), c.c_str()));  // source gone
    EXPECT_FALSE(plat_move_file(nullptr, b.c_str()));
    EXPECT_TRUE(plat_path_opens(dir().c_str()));
    EXPECT_EQ(plat_path_access(b.c_str()), 1);
    EXPECT_FALSE(plat_path_opens(a.c_str()));
    EXPECT_EQ(plat_entry_kind(b.c_str()), PLAT_ENTRY_FILE);
    EXPECT_EQ(plat_entry_kind(a.c_str()), PLAT_ENTRY_NONE);
    EXPECT_EQ(plat_entry_kind(path("no/such/x").c_str()), PLAT_ENTRY_NONE);
    EXPECT_EQ(plat_entry_kind(nullptr), -1);
    EXPECT_TRUE(plat_delete_file(b.c_str()));
    EXPECT_FALSE(plat_delete_file(b.c_str()));
    EXPECT_EQ(plat_path_access(b.c_str()), 0);
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

// What someone else put at a name is never opened (a pipe nobody reads would
// block the open), moved, deleted or listed, and a link is never followed.
TEST_F(PlatformFile, PlantedEntriesAreLeftAlone) {
    using planted::kind;
    const std::string target = path("out/target.log"), made = path("out/made.log");
    ASSERT_TRUE(planted::plant(kind::directory, path("out")));
    write_file(target, "outside");
    const struct {
        kind k;
        const char* name;
        std::string to;
    } cases[] = {
        {kind::fifo, "pipe.log", ""}, {kind::symlink, "link.log", target}, {kind::symlink, "dangling.log", made}, {kind::directory, "dir.log", ""}};
    for (const auto& c : cases) planted::plant(c.k, path(c.name), c.to);
    std::vector<std::string> names;
    EXPECT_TRUE(plat_list_files(dir().c_str(), collect, &names));
    EXPECT_EQ(names, std::vector<std::string>{});
    for (const auto& c : cases) {
        const std::string at = path(c.name);
        if (planted::at(at) != c.k) continue;  // no pipes on Windows, no links under Wine
        SCOPED_TRACE(c.name);
        plat_file_t f = PLAT_NO_FILE;
        EXPECT_TRUE(planted::finishes_within(
            std::chrono::seconds(3), [&] { f = plat_file_open_append(at.c_str()); }, [&] { planted::free_pipe(at); }));
        plat_file_close(f);
        EXPECT_EQ(f, PLAT_NO_FILE);
        EXPECT_EQ(plat_entry_kind(at.c_str()), PLAT_ENTRY_OTHER);
        EXPECT_FALSE(plat_move_file(at.c_str(), (at + ".moved").c_str()));
        EXPECT_FALSE(plat_delete_file(at.c_str()));
        EXPECT_TRUE(planted::at(at) == c.k);
    }
    EXPECT_EQ(read_file(target), "outside");
    EXPECT_EQ(plat_entry_kind(made.c_str()), PLAT_ENTRY_NONE);
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

TEST_F(PlatformFile, OverlongPathsAreRefused) {
    const std::string long_path = dir() + "/" + std::string(5000, 'n');
    const char* p = long_path.c_str();
    plat_mapping_s m;
    EXPECT_EQ(plat_file_open_append(p), PLAT_NO_FILE);
    EXPECT_FALSE(plat_map_file(p, &m));
    EXPECT_FALSE(plat_move_file(p, path("x").c_str()));
    EXPECT_FALSE(plat_move_file(path("x").c_str(), p));
    EXPECT_FALSE(plat_delete_file(p));
    EXPECT_EQ(plat_path_access(p), 0);
    EXPECT_FALSE(plat_path_opens(p));
    EXPECT_FALSE(plat_create_directory(p));
    EXPECT_FALSE(plat_list_files(p, collect, nullptr));
}
