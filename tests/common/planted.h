// Entries someone else put into a log directory (links, named pipes,
// directories), and a time limit for operations that might block on them,
// so that a hang fails a test instead of stalling the whole run.
#ifndef KATR_TEST_PLANTED_H
#define KATR_TEST_PLANTED_H

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <system_error>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

enum class planted_e { pipe, link, directory };

inline const char* planted_name(planted_e kind) {
    return kind == planted_e::pipe ? "pipe" : kind == planted_e::link ? "link" : "directory";
}

// Creates the entry at `at` (a link points to target); false when this
// system cannot make it: no named pipes on Windows, no symbolic links under
// Wine.
inline bool plant(planted_e kind, const std::string& at, const std::string& target = "") {
    namespace fs = std::filesystem;
    std::error_code ec;
    switch (kind) {
    case planted_e::pipe:
#if defined(_WIN32)
        return false;
#else
        return mkfifo(at.c_str(), 0600) == 0;
#endif
    case planted_e::link:
        fs::create_symlink(fs::u8path(target), fs::u8path(at), ec);
        return !ec && fs::is_symlink(fs::symlink_status(fs::u8path(at), ec));
    case planted_e::directory:
        return fs::create_directory(fs::u8path(at), ec);
    }
    return false;
}

// True while `at` still holds an entry of that kind (a link is not followed).
inline bool still_planted(planted_e kind, const std::string& at) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(fs::u8path(at), ec).type();
    return type == (kind == planted_e::pipe   ? fs::file_type::fifo
                    : kind == planted_e::link ? fs::file_type::symlink
                                              : fs::file_type::directory);
}

// Opens the named pipe at path for reading without blocking, which lets an
// open for writing that waits on it return; closed with the object. Writes
// into the pipe after that are lost instead of raising SIGPIPE.
class pipe_reader_c {
public:
    pipe_reader_c() = default;
    pipe_reader_c(const pipe_reader_c&) = delete;
    pipe_reader_c& operator=(const pipe_reader_c&) = delete;
    ~pipe_reader_c() {
#if !defined(_WIN32)
        if (fd_ >= 0) close(fd_);
#endif
    }
    void open_at(const std::string& path) {
#if !defined(_WIN32)
        std::signal(SIGPIPE, SIG_IGN);
        if (fd_ < 0) fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK);
#else
        (void)path;
#endif
    }

private:
    int fd_ = -1;
};

// Runs op on a thread of its own and waits up to limit for it. False when it
// did not finish in time: release is then called to set the thread free (for
// example by opening the pipe it waits for) and the thread is joined. When
// even that does not free it, the process aborts.
inline bool finishes_within(std::chrono::milliseconds limit, const std::function<void()>& op,
                            const std::function<void()>& release = {}) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread runner([&] {
        op();
        done.set_value();
    });
    if (finished.wait_for(limit) == std::future_status::ready) {
        runner.join();
        return true;
    }
    if (release) release();
    if (finished.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "operation still blocked after its release: aborting\n");
        std::abort();
    }
    runner.join();
    return false;
}

#endif
