// A consumer of katrace: traces one scope, then finds its note line in the
// log file. Run with <exe>.jot beside it (written by run_consumer.cmake), so
// that katr_init reads the configuration the way a host's users deploy it.
// Prints "consumer ok" and returns 0 when the line is there.
#include <katrace.h>

#include <cstdio>
#include <string>

static_assert(KATRACE_VERSION_MAJOR == 1 && KATRACE_VERSION_NUMBER >= 10000, "katrace 1.x expected");

namespace shop {
struct Store {
    void save(int order) {
        KATR_SCOPE(t);
        KATR_PRINT_NL(t, KATR_RANK_NOTE, "consumer order %d saved", order);
    }
};
}  // namespace shop

int main() {
    katr_init(nullptr, nullptr);
    shop::Store().save(42);

    char name[4096];
    unsigned long long len = sizeof name;
    katr_get_log_filename(name, len);
    if (len > sizeof name || !name[0]) {
        std::fprintf(stderr, "consumer: no log file name\n");
        return 1;
    }
    FILE* f = std::fopen(name, "rb");
    if (!f) {
        std::fprintf(stderr, "consumer: cannot open log file %s\n", name);
        return 1;
    }
    std::string log;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) log.append(buf, n);
    std::fclose(f);

    // The note line carries the message; the scope's enter line names the
    // qualified function.
    const bool note = log.find("consumer order 42 saved") != std::string::npos;
    const bool scope = log.find("shop::Store::save") != std::string::npos;
    if (!note || !scope) {
        std::fprintf(stderr, "consumer: %s missing in %s:\n%s\n", note ? "scope line" : "note line", name,
                     log.c_str());
        return 1;
    }
    std::printf("consumer ok: katrace %s, log %s\n", KATRACE_VERSION_STRING, name);
    return 0;
}
