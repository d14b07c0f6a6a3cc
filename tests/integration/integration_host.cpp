// A host program as users write them: it includes katrace.h alone and links
// the shared library. The test driver runs it in one of several modes:
//   scope <jot>             one traced scope with two messages ("-": the
//                           default configuration file)
//   console <out>           writes katr_is_console_application() to <out>
//   early -                 traces to standard output before katr_init
//   late <jot>              traces "before init", then katr_init(jot), then
//                           traces "after init" (the environment's start)
//   threads <jot>           thread records while three threads live and after
//   fork <jot>              (POSIX) children forked while threads trace: some
//                           trace and exit(), some exec; prints "children=N ok=N"
#include <katrace.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#  define HOST_WIDE(s) L##s
#else
#  include <sys/wait.h>
#  include <unistd.h>
#  define HOST_WIDE(s) u##s
#endif

namespace demo {

class Conn {
public:
    void send(int n) {
        KATR_SCOPE(t);
        KATR_PRINT_NL(t, KATR_RANK_ERROR, "sending %d", n);
        t.print_nl(KATR_RANK_WARNING, __LINE__, "sent %s", "ok");
    }
};

}  // namespace demo

// Before katr_init no configuration is loaded: every site decides with the
// mask the host gave it (KATR_RANK_SITE_DEFAULT: fatal, error, warning) and no log file is
// open, so the lines reach standard output only.
static int trace_before_init() {
    katr_set_verbose(1);
    mix_trace(KATR_RANK_ERROR, 1, HOST_WIDE("early"), HOST_WIDE("early.cpp"), HOST_WIDE("mix error"));
    mix_trace(KATR_RANK_DEBUG, 2, HOST_WIDE("early"), HOST_WIDE("early.cpp"), HOST_WIDE("mix debug"));
    KATR_SCOPE(t);
    KATR_PRINT_NL(t, KATR_RANK_WARNING, "scope %s", "warning");
    KATR_PRINT_NL(t, KATR_RANK_DEBUG, "scope %s", "debug");
    return 0;
}

// The number of thread records the library holds, from its thread report,
// and how many of them carry a name given late (after the record was made).
static int thread_records(int* named = NULL) {
    static char report[65536];
    unsigned long long len = sizeof(report);
    katr_print_threads(report, len);
    if (named) {
        *named = 0;
        for (const char* p = report; (p = std::strstr(p, "name=late-")) != NULL; ++p) ++*named;
    }
    if (!std::strncmp(report, "Single thread", 13)) return 1;
    return !std::strncmp(report, "Found ", 6) ? std::atoi(report + 6) : 0;
}

// Three threads start and wait; on Windows they do not trace, so their
// records come from the thread-attach notifications alone (on Linux from
// their first line). Each then names itself, after its record exists. After
// they exit, the detach notifications (the thread-exit hook on Linux) have
// released the records again.
static int count_thread_records() {
    std::atomic<int> ready(0);
    std::atomic<bool> leave(false);
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&, i] {
#if !defined(_WIN32)
            KATR_MSG(KATR_RANK_ERROR, "worker %s", "up");
#endif
            const char* names[] = {"late-0", "late-1", "late-2"};
            katr_set_thread_info(names[i], 100 + static_cast<unsigned long>(i));
            ++ready;
            while (!leave) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    while (ready < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    int named = 0;
    int during = thread_records(&named);
    leave = true;
    for (size_t i = 0; i < workers.size(); ++i) workers[i].join();
    std::printf("during=%d after=%d named=%d\n", during, thread_records(), named);
    return 0;
}

#if !defined(_WIN32)
// Three threads trace through scopes while the main thread forks children:
// even ones trace a line and leave with exit() (the library's unloading
// runs in them), odd ones exec a program at once. A child that hangs is
// ended by its alarm and counts as failed.
static int fork_children() {
    std::atomic<bool> stop(false);
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&] {
            while (!stop) {
                demo::Conn().send(1);
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
    const int children = 10;
    int ok = 0;
    for (int c = 0; c < children; ++c) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pid_t pid = fork();
        if (pid < 0) break;
        if (pid == 0) {
            alarm(10);
            if (c % 2) {
                execl("/bin/sh", "sh", "-c", "exit 0", static_cast<char*>(NULL));
                _exit(5);
            }
            KATR_MSG(KATR_RANK_ERROR, "child %d traced", c);
            std::exit(0);
        }
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) ++ok;
    }
    stop = true;
    for (size_t i = 0; i < workers.size(); ++i) workers[i].join();
    KATR_MSG(KATR_RANK_ERROR, "parent goes on");
    std::printf("children=%d ok=%d\n", children, ok);
    return 0;
}
#endif

int katr_host_main(int argc, char** argv) {
    if (argc < 3) return 2;
    const char* mode = argv[1];
    if (!std::strcmp(mode, "console")) {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f) return 2;
        std::fprintf(f, "console=%d", katr_is_console_application() ? 1 : 0);
        return std::fclose(f);
    }
    if (!std::strcmp(mode, "early")) return trace_before_init();
    if (!std::strcmp(mode, "late")) {
        KATR_SCOPE_QUIET(t);
        KATR_PRINT_NL(t, KATR_RANK_ERROR, "before init");
        katr_init(argv[2], NULL);
        KATR_PRINT_NL(t, KATR_RANK_ERROR, "after init");
        return 0;
    }
    katr_init(std::strcmp(argv[2], "-") ? argv[2] : NULL, NULL);
    if (!std::strcmp(mode, "scope")) {
        demo::Conn().send(7);
    } else if (!std::strcmp(mode, "threads")) {
        return count_thread_records();
#if !defined(_WIN32)
    } else if (!std::strcmp(mode, "fork")) {
        return fork_children();
#endif
    } else {
        return 2;
    }
    return 0;
}

#if !defined(KATR_WINDOWED_HOST)
int main(int argc, char** argv) { return katr_host_main(argc, argv); }
#else
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return katr_host_main(__argc, __argv); }
#endif
