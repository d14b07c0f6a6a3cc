// A host that writes numbered lines for the log shipping test:
//   rate <jot> <lines per second> <seconds>   one thread, paced
//   burst <jot> <lines> <threads>             as fast as the threads can
//   run <jot> <lines per second>              paced until it is killed
// It prints "<pid> <lines written>" when it ends by itself. With
// PrintSequence on every line carries "<pid>:<sequence>"; the test counts
// the shipped lines by those.
#include <katrace.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void paced(long per_second, double seconds, long* written) {
    KATR_SCOPE(t);
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0;; ++i) {
        const double due = static_cast<double>(i) / static_cast<double>(per_second);
        if (seconds > 0 && due >= seconds) break;
        const auto at = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(due));
        std::this_thread::sleep_until(at);
        KATR_PRINT_NL(t, KATR_RANK_ERROR, "paced line %ld of a shipped log", i);
        ++*written;
    }
}

void burst(long lines) {
    KATR_SCOPE(t);
    for (long i = 0; i < lines; ++i) KATR_PRINT_NL(t, KATR_RANK_ERROR, "burst line %ld of a shipped log", i);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: ship_host rate|burst|run <jot> <numbers...>\n");
        return 2;
    }
    katr_init(argv[2], NULL);
    long written = 0;
    if (std::strcmp(argv[1], "rate") == 0 && argc >= 5) {
        paced(std::atol(argv[3]), std::atof(argv[4]), &written);
    } else if (std::strcmp(argv[1], "run") == 0) {
        paced(std::atol(argv[3]), 0, &written);
    } else if (std::strcmp(argv[1], "burst") == 0 && argc >= 5) {
        const long lines = std::atol(argv[3]), threads = std::atol(argv[4]);
        std::vector<std::thread> pool;
        for (long k = 0; k < threads; ++k) pool.emplace_back(burst, lines / threads + (k < lines % threads ? 1 : 0));
        for (auto& th : pool) th.join();
        written = lines;
    } else {
        std::fprintf(stderr, "ship_host: unknown mode %s\n", argv[1]);
        return 2;
    }
    std::printf("%ld %ld\n", static_cast<long>(getpid()), written);
    return 0;
}
