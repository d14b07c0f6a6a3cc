// A host that opens its control endpoint: control_host <jot> <dir>.
// It loads <jot>, calls katr_control_start (twice: the second call must do
// nothing), writes its pid to <dir>/pid and traces from two named threads
// until <dir>/stop appears (the pid is written once both threads are
// named). Then it calls katr_control_stop, writes
// <dir>/stopped and waits for <dir>/exit (each wait bounded).
#include <katrace.h>
#include <katrace_control.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#if defined(_WIN32)
#  include <process.h>
#  define host_getpid _getpid
#else
#  include <unistd.h>
#  define host_getpid getpid
#endif

namespace demo {

class Worker {
public:
    void run(int round) {
        KATR_SCOPE(t);
        KATR_PRINT_NL(t, KATR_RANK_DEBUG, "debug line %d", round);
        KATR_PRINT_NL(t, KATR_RANK_WARNING, "round %d", round);
        // Mostly inside the scope, so that stack reports find it.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
};

}  // namespace demo

static bool exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != NULL;
}

static void touch(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) return;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    std::rename(part.c_str(), path.c_str());
}

// Waits up to two minutes for path to appear.
static bool wait_for(const std::string& path) {
    for (int i = 0; i < 1200 && !exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return exists(path);
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string dir = argv[2];
    katr_init(argv[1], NULL);
    const int first = katr_control_start();
    const int second = katr_control_start();
    if (first != 0 || second != 0) {
        std::fprintf(stderr, "katr_control_start: %d, again %d\n", first, second);
        return 1;
    }
    std::atomic<bool> stop(false);
    std::atomic<int> named(0);
    std::thread workers[2];
    for (int i = 0; i < 2; ++i)
        workers[i] = std::thread([i, &stop, &named] {
            katr_set_thread_info(i == 0 ? "worker-1" : "worker-2", static_cast<unsigned long>(i + 1));
            ++named;
            demo::Worker w;
            for (int round = 0; !stop; ++round) {
                w.run(round);
            }
        });
    // The pid tells the test the host is ready: both threads are named.
    while (named < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    touch(dir + "/pid", std::to_string(static_cast<long>(host_getpid())));
    wait_for(dir + "/stop");
    stop = true;
    for (int i = 0; i < 2; ++i) workers[i].join();
    katr_control_stop();
    touch(dir + "/stopped", "");
    wait_for(dir + "/exit");
    return 0;
}
