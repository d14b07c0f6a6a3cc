// The crash tests' host: box_crash_host MODE DIR [KEEP]. It writes and loads
// DIR/box_crash_host.jot (log and an 8 MiB box in DIR/log/, only errors in
// the log, LogNumberOfFilesToKeep KEEP when given). Threads worker-0 .. 3 run
// Worker::run, a scope around ITERATIONS Worker::step scopes, each with one
// debug message "step %d of %s: %d" (sequence, "w<k>", sequence * 7 + k).
// MODE kill: the workers meet at step HALF, go on together, and a few steps
// later the process kills itself (SIGKILL; TerminateProcess); segv: they
// meet likewise and worker-1 writes through a null pointer in step HALF + 10,
// after its message; exit: they run to their end and the process exits 0.
// Meeting half way keeps every worker mid-loop when the process dies.
#include <katrace.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <csignal>
#endif

namespace {

const int WORKERS = 4;
const int ITERATIONS = 83333;
const int HALF = ITERATIONS / 2;
const int CRASHING_WORKER = 1;

bool g_crashing = false;  // kill or segv: the workers meet half way
bool g_segv = false;
std::atomic<int> g_progress[WORKERS];
std::atomic<int> g_at_half(0);
std::atomic<bool> g_go(false);
// Read through a volatile pointer, so the compiler cannot see that it is null
// and the write stays a plain store that faults.
int* volatile g_nowhere = NULL;

}  // namespace

namespace crash {

class Worker {
public:
    explicit Worker(int id) : id_(id) { std::snprintf(name_, sizeof name_, "w%d", id); }
    void step(int seq) {
        KATR_SCOPE(t);
        KATR_PRINT(t, KATR_RANK_DEBUG, "step %d of %s: %d", seq, name_, seq * 7 + id_);
        if (g_segv && id_ == CRASHING_WORKER && seq == HALF + 10) *g_nowhere = seq;
    }
    void run() {
        KATR_SCOPE(t);
        for (int seq = 0; seq < ITERATIONS; ++seq) {
            if (g_crashing && seq == HALF) {
                ++g_at_half;
                while (!g_go.load()) std::this_thread::yield();
            }
            step(seq);
            g_progress[id_].store(seq + 1, std::memory_order_relaxed);
        }
    }

private:
    int id_;
    char name_[8];
};

}  // namespace crash

namespace {

bool write_config(const std::string& dir, const char* keep, std::string* jot) {
    *jot = dir + "/box_crash_host.jot";
    FILE* f = std::fopen(jot->c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "LogDirectoryName %s/log/\nDefaultLoggingRank error\nPrintToDebugVew Off\nBlackBoxSize 8388608\n", dir.c_str());
    if (keep) std::fprintf(f, "LogNumberOfFilesToKeep %s\n", keep);
    return std::fclose(f) == 0;
}

#if defined(_WIN32)
LONG WINAPI end_at_once(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc < 3 ? "" : argv[1];
    if (mode != "kill" && mode != "segv" && mode != "exit") {
        std::fprintf(stderr, "usage: box_crash_host kill|segv|exit DIR [KEEP]\n");
        return 2;
    }
#if defined(_WIN32)
    // A fault ends the process at once with its exception code, without the
    // error dialog or a debugger. Wine does not look at the error mode: it
    // starts winedbg, which dumps the registers while the other threads run
    // on to their end; the filter makes it end the process as Windows does.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(end_at_once);
#endif
    std::string jot;
    if (!write_config(argv[2], argc > 3 ? argv[3] : NULL, &jot)) {
        std::fprintf(stderr, "box_crash_host: cannot write its configuration in %s\n", argv[2]);
        return 2;
    }
    g_crashing = mode != "exit";
    g_segv = mode == "segv";
    katr_init(jot.c_str(), NULL);

    std::vector<std::thread> workers;
    for (int k = 0; k < WORKERS; ++k)
        workers.emplace_back([k] {
            const char* names[WORKERS] = {"worker-0", "worker-1", "worker-2", "worker-3"};
            katr_set_thread_info(names[k], static_cast<unsigned long>(k));
            crash::Worker(k).run();
        });
    if (g_crashing) {
        while (g_at_half.load() < WORKERS) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        g_go.store(true);
        if (mode == "kill") {
            for (int k = 0; k < WORKERS; ++k)
                while (g_progress[k].load(std::memory_order_relaxed) < HALF + 10) std::this_thread::yield();
#if defined(_WIN32)
            TerminateProcess(GetCurrentProcess(), 9);
#else
            raise(SIGKILL);
#endif
        }
    }
    for (size_t k = 0; k < workers.size(); ++k) workers[k].join();
    return mode == "exit" ? 0 : 3;
}
