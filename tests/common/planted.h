// Entries someone else put into a log directory (links, named pipes,
// directories), and a time limit for operations that might block on them.
#ifndef KATR_TEST_PLANTED_H
#define KATR_TEST_PLANTED_H

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>

#if !defined(_WIN32)
#  include <fcntl.h>
#  include <sys/stat.h>
#endif

namespace planted {
namespace fs = std::filesystem;
using kind = fs::file_type;  // fifo, symlink or directory

// Creates the entry at `at` (a link points to target); false when this
// system cannot make it: no named pipes on Windows, no links under Wine.
inline bool plant(kind k, const std::string& at, const std::string& target = "") {
    std::error_code ec;
    if (k == kind::directory) return fs::create_directory(fs::u8path(at), ec);
    if (k == kind::symlink) fs::create_symlink(fs::u8path(target), fs::u8path(at), ec);
#if !defined(_WIN32)
    if (k == kind::fifo) return mkfifo(at.c_str(), 0600) == 0;
#endif
    return k == kind::symlink && !ec && fs::is_symlink(fs::symlink_status(fs::u8path(at), ec));
}

// What stands at `at`, a link not followed.
inline kind at(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(fs::u8path(path), ec).type();
}

// Opens the pipe at path for reading without blocking, which frees an open
// for writing that waits on it; the reader stays open for the rest of the
// process, so that later writes into the pipe meet one.
inline void free_pipe(const std::string& path) {
#if !defined(_WIN32)
    (void)open(path.c_str(), O_RDONLY | O_NONBLOCK);
#else
    (void)path;
#endif
}

// Runs op on a thread of its own; false when it is not done within limit.
// release is then called to set it free and the thread is joined; a thread
// that even that does not free aborts the process rather than stall the run.
inline bool finishes_within(std::chrono::milliseconds limit, const std::function<void()>& op,
                            const std::function<void()>& release) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread runner([&] { op(), done.set_value(); });
    const bool in_time = finished.wait_for(limit) == std::future_status::ready;
    if (!in_time) release();
    if (finished.wait_for(limit) != std::future_status::ready) std::abort();
    runner.join();
    return in_time;
}

}  // namespace planted

#endif
