// A host that loads the shared library at run time, traces from several
// threads, unloads it while those threads still live, and lets them (and a
// thread started afterwards) end; fifty rounds. It exits with 0 when the
// process survived every round. Linux only: argv[1] is the library's path,
// argv[2] a configuration file.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef void (*mix_trace_f)(unsigned, int, const char16_t*, const char16_t*, const char16_t*);
typedef void (*mix_trace_init_f)(const char16_t*, const char16_t*);

std::u16string widen(const char* text) {
    std::u16string w;
    for (; *text; ++text) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::u16string config = widen(argv[2]);
    for (int round = 0; round < 50; ++round) {
        void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "dlopen: %s\n", dlerror());
            return 3;
        }
        mix_trace_f trace = reinterpret_cast<mix_trace_f>(dlsym(lib, "mix_trace"));
        mix_trace_init_f init = reinterpret_cast<mix_trace_init_f>(dlsym(lib, "mix_trace_init"));
        if (!trace || !init) return 4;
        init(config.c_str(), nullptr);
        std::atomic<int> traced{0};
        std::atomic<bool> unloaded{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&, t] {
                const std::u16string text = widen(("round " + std::to_string(round) + " thread " + std::to_string(t)).c_str());
                trace(0x4, 1, u"unload_host", u"unload_host.cpp", text.c_str());
                ++traced;
                // The thread outlives the library's unloading.
                while (!unloaded.load()) std::this_thread::yield();
            });
        while (traced.load() < 3) std::this_thread::yield();
        dlclose(lib);
        unloaded.store(true);
        for (auto& t : threads) t.join();
        std::thread([] {}).join();  // a thread started after the unload
    }
    std::puts("survived");
    return 0;
}
