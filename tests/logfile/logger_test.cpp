// The log file writer: byte-order mark and banner, two-piece writes, size
// rotation, process-id changes and failing disks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_dir.h"
#include "logfile/logger.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

const std::string BOM = "\xEF\xBB\xBF";

std::string version_text() {
    return std::to_string(KATR_VERSION_MAJOR) + "." + std::to_string(KATR_VERSION_MINOR) + "." +
           std::to_string(KATR_VERSION_RELEASE) + "." + std::to_string(KATR_VERSION_BUILD);
}

// The banner behind the time text.
std::string banner_tail(unsigned number) {
    return " JOT Log File #" + std::to_string(number) + ", Version = " + version_text() + "\r\n";
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class LoggerWriter : public temp_dir_test {
protected:
    // A logger writing dir()/host.log with the given limit.
    void setup_logger(logger_c& l, unsigned long long limit) {
        l.directory.append(dir().c_str()).append('/');
        std::snprintf(l.module_name, sizeof l.module_name, "host");
        l.max_file_size = limit;
        l.files_to_keep = 10;
        l.make_file_name();
    }
    std::string log_path() const { return path("host.log"); }
};

}  // namespace

TEST_F(LoggerWriter, OpenWritesMarkAndBanner) {
    logger_c l;
    EXPECT_EQ(l.file, PLAT_NO_FILE);
    EXPECT_FALSE(l.opened);
    EXPECT_EQ(l.pid, static_cast<unsigned>(plat_pid()));
    l.write("dropped", 7, nullptr, 0);   // no file yet: nothing happens
    EXPECT_EQ(l.bytes_written, 0u);

    setup_logger(l, 1u << 20);
    EXPECT_EQ(std::string(l.file_name.c_str()), log_path());
    tr_stream_c err;
    l.open_file(&err);
    EXPECT_EQ(std::string(err.c_str()), "");
    ASSERT_NE(l.file, PLAT_NO_FILE);
    EXPECT_TRUE(l.opened);
    EXPECT_EQ(l.file_number, 0u);
    EXPECT_EQ(l.rotated_files.num(), 0u);   // the first open never rotates

    std::string content = read_file(log_path());
    ASSERT_EQ(content.compare(0, 3, BOM), 0);
    std::string banner = content.substr(3);
    EXPECT_TRUE(ends_with(banner, banner_tail(0))) << banner;
    EXPECT_GT(banner.size(), banner_tail(0).size());   // the time text comes first
    EXPECT_EQ(l.bytes_written, banner.size());

    // Two pieces back to back; null pieces count as empty. The line is in
    // the file as soon as write returns: nothing waits in a user buffer.
    l.write("pre|", 4, "body\r\n", 6);
    l.write(nullptr, 5, "x\r\n", 3);
    l.write("y\r\n", 3, nullptr, 9);
    EXPECT_TRUE(ends_with(read_file(log_path()), "pre|body\r\nx\r\ny\r\n"));
    EXPECT_EQ(l.bytes_written, banner.size() + 16);
}

TEST_F(LoggerWriter, FirstOpenAppendsToExistingFile) {
    write_file(log_path(), "old content\n");
    logger_c l;
    setup_logger(l, 1u << 20);
    l.open_file(nullptr);
    std::string content = read_file(log_path());
    EXPECT_EQ(content.compare(0, 15, "old content\n" + BOM), 0);
    EXPECT_TRUE(ends_with(content, banner_tail(0)));
    EXPECT_EQ(l.bytes_written, content.size() - 15);
}

TEST_F(LoggerWriter, RotatesAtTheLimit) {
    logger_c l;
    setup_logger(l, 0);
    l.open_file(nullptr);
    const unsigned banner = l.bytes_written;
    std::string first_banner = read_file(log_path());

    // Limit = banner + 30: 20 bytes stay, 20 more rotate at once.
    l.max_file_size = banner + 30;
    std::string line(18, 'a');
    line += "\r\n";
    l.write(line.data(), 10, line.data() + 10, 10);
    EXPECT_EQ(l.bytes_written, banner + 20);
    EXPECT_FALSE(fs::exists(fs::u8path(log_path() + ".1")));
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_EQ(l.file_number, 1u);
    EXPECT_EQ(read_file(log_path() + ".1"), first_banner + line + line);
    std::string second = read_file(log_path());
    EXPECT_TRUE(ends_with(second, banner_tail(1)));
    EXPECT_EQ(second.compare(0, 3, BOM), 0);
    ASSERT_EQ(l.rotated_files.num(), 1u);
    EXPECT_EQ(std::string(static_cast<const char*>(l.rotated_files.first())), log_path() + ".1");

    // Exactly at the limit rotates too.
    const unsigned banner1 = l.bytes_written;
    l.max_file_size = banner1 + 20;
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_EQ(l.file_number, 2u);
    EXPECT_TRUE(fs::exists(fs::u8path(log_path() + ".2")));

    // A limit of 0 rotates after every write; retention keeps files_to_keep.
    l.max_file_size = 0;
    l.files_to_keep = 2;
    l.write("z", 1, nullptr, 0);
    l.write("z", 1, nullptr, 0);
    EXPECT_EQ(l.file_number, 4u);
    EXPECT_EQ(l.rotated_files.num(), 2u);
    EXPECT_FALSE(fs::exists(fs::u8path(log_path() + ".1")));
    EXPECT_FALSE(fs::exists(fs::u8path(log_path() + ".2")));
    EXPECT_TRUE(fs::exists(fs::u8path(log_path() + ".3")));
    EXPECT_TRUE(fs::exists(fs::u8path(log_path() + ".4")));

    // The counter is 32 bits wide: a limit of 2^32 is never reached.
    l.max_file_size = 4294967296ull;
    l.bytes_written = 0xFFFFFFF0u;
    l.write(line.data(), 20, nullptr, 0);
    EXPECT_EQ(l.bytes_written, 4u);
    EXPECT_EQ(l.file_number, 4u);
}

TEST_F(LoggerWriter, OpenFailuresAreReported) {
    // A directory that cannot hold files: one of its parents is a file.
    write_file(path("blocker"), "x");
    logger_c l;
    l.directory.append(path("blocker/logs/").c_str());
    std::snprintf(l.module_name, sizeof l.module_name, "host");
    l.make_file_name();
    const std::string name = l.file_name.c_str();

    tr_stream_c err;
    l.open_file(&err);
    EXPECT_EQ(l.file, PLAT_NO_FILE);
    EXPECT_FALSE(l.opened);
    std::string msg = err.c_str();
    EXPECT_EQ(msg.rfind("Unable to open logfile " + name + ", err=", 0), 0u) << msg;
    EXPECT_TRUE(ends_with(msg, "\r\n"));
    EXPECT_GT(msg.size(), ("Unable to open logfile " + name + ", err=\r\n").size());

    testing::internal::CaptureStderr();
    l.open_file(nullptr);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.rfind("Unable to open logfile " + name + "! Error code=", 0), 0u) << out;
    EXPECT_TRUE(ends_with(out, "\n"));
    l.write("lost", 4, nullptr, 0);   // no file: dropped, no crash
    EXPECT_EQ(l.bytes_written, 0u);
}

#if defined(__linux__)
// A full disk: /dev/full takes the open but fails every write with ENOSPC.
TEST_F(LoggerWriter, FullDiskIsReported) {
    logger_c l;
    l.file_name.append("/dev/full");
    tr_stream_c err;
    l.open_file(&err);
    EXPECT_EQ(std::string(err.c_str()), "Unable to write to file /dev/full! Error code= 28\r\n");
    EXPECT_EQ(l.file, PLAT_NO_FILE);
    EXPECT_TRUE(l.opened);
    // Without an error text a failed banner is not reported at all.
    logger_c quiet;
    quiet.file_name.append("/dev/full");
    testing::internal::CaptureStderr();
    quiet.open_file(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(quiet.file, PLAT_NO_FILE);

    // A writer that opened fine and then meets the full disk.
    logger_c w;
    w.file_name.append(path("host.log").c_str());
    w.max_file_size = 1u << 20;
    w.files_to_keep = 5;
    w.open_file(nullptr);
    ASSERT_NE(w.file, PLAT_NO_FILE);
    plat_file_close(w.file);
    w.file = plat_file_open_append("/dev/full");
    ASSERT_NE(w.file, PLAT_NO_FILE);
    const unsigned before = w.bytes_written;
    testing::internal::CaptureStderr();
    w.write("prefix ", 7, "line\r\n", 6);
    w.write("later ", 6, "line\r\n", 6);   // file closed: silently dropped
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "Unable to write to file " + path("host.log") + "! Error code=28\n");
    EXPECT_EQ(w.file, PLAT_NO_FILE);
    EXPECT_EQ(w.bytes_written, before);

    // The next open (a reconfiguration) rotates the old name away and
    // starts again.
    w.open_file(nullptr);
    EXPECT_NE(w.file, PLAT_NO_FILE);
    EXPECT_EQ(w.file_number, 1u);
    EXPECT_TRUE(fs::exists(fs::u8path(path("host.log.1"))));
}
#endif
