// A host that knows nothing of katrace: it loads a plug-in from its own
// directory, calls it and prints the result.
#include <cstdio>
#include <string>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

typedef int (*work_f)(int);

int main(int argc, char** argv) {
    std::string dir = argc > 0 ? argv[0] : "";
    const size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
#if defined(_WIN32)
    HMODULE plugin = LoadLibraryA((dir + "\\katr_example_plugin.dll").c_str());
    // Through void*: a FARPROC is not the plug-in function's type.
    void* found = plugin ? reinterpret_cast<void*>(GetProcAddress(plugin, "plugin_work")) : nullptr;
    work_f work = reinterpret_cast<work_f>(found);
#else
    void* plugin = dlopen((dir + "/libkatr_example_plugin.so").c_str(), RTLD_NOW);
    work_f work = plugin ? reinterpret_cast<work_f>(dlsym(plugin, "plugin_work")) : nullptr;
#endif
    if (!work) {
        std::fprintf(stderr, "plug-in not loaded\n");
        return 1;
    }
    std::printf("result %d\n", work(3));
    return 0;
}
