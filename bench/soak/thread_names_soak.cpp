// Soak: many short-lived threads, each with a name of its own, trace one
// line through the shared library. Prints the resident set size after a
// warm-up and at the end: memory must not grow with the number of threads
// that have come and gone.
//   thread_names_soak [threads (default 1000000)] [log directory (default: a temporary one)]
#include <katrace.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Resident set size in KiB, from /proc/self/statm (Linux).
long rss_kib() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

void one_thread(unsigned long i) {
    const std::string name = "soak-worker-" + std::to_string(i);
    katr_set_thread_info(name.c_str(), i);
    KATR_SCOPE(t);
    KATR_PRINT_NL(t, KATR_RANK_ERROR, "thread %lu", i);
}

void run(unsigned long from, unsigned long to) {
    for (unsigned long i = from; i < to; ++i) std::thread(one_thread, i).join();
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned long total = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000UL;
    const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "katrace-soak";
    fs::create_directories(dir);
    const fs::path jot = dir / "soak.jot";
    std::ofstream(jot) << "LogFileSize 1000000\nLogNumberOfFilesToKeep 2\n";
    katr_init(jot.string().c_str(), dir.string().c_str());

    const unsigned long warm = total < 20000 ? total / 10 : 10000;
    run(0, warm);
    const long start = rss_kib();
    run(warm, total);
    const long end = rss_kib();
    std::printf("threads %lu: RSS after %lu threads %ld KiB, at the end %ld KiB (%+ld KiB)\n", total, warm, start,
                end, end - start);
    return 0;
}
