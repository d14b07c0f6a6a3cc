#include "common/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void temp_dir_test::SetUp() {
    static std::atomic<unsigned> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::ostringstream name;
    name << "katr_" << info->test_suite_name() << "_" << info->name() << "_"
         << std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007 << "_" << counter++;
    std::string leaf = name.str();
    for (char& c : leaf)
        if (c == '/') c = '_';
    fs::path p = fs::temp_directory_path() / leaf;
    fs::create_directories(p);
    dir_ = p.generic_string();
}

void temp_dir_test::TearDown() {
    std::error_code ec;
    fs::remove_all(fs::path(dir_), ec);
}

void temp_dir_test::write_file(const std::string& path, const std::string& content) {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string temp_dir_test::read_file(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
