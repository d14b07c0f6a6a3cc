// A plug-in that traces: a shared library built against katrace.h whose host
// knows nothing of katrace and never calls katr_init. With KATRACE_CONFIG
// (or KATRACE_LOG_DIR) set in the host's environment, the library starts
// itself at the plug-in's first trace; without them nothing is written.
#include <katrace.h>

#if defined(_WIN32)
#  define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#  define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace shapes {

class Square {
public:
    static int area(int side) {
        KATR_SCOPE(scope);
        KATR_PRINT_NL(scope, KATR_RANK_DEBUG, "side %d", side);
        if (side < 0) KATR_PRINT_NL(scope, KATR_RANK_ERROR, "negative side %d", side);
        return side * side;
    }
};

}  // namespace shapes

// The plug-in's one entry: the sum of the squares of 1..n.
PLUGIN_EXPORT int plugin_work(int n) {
    int sum = 0;
    for (int i = 1; i <= n; ++i) sum += shapes::Square::area(i);
    shapes::Square::area(-1);
    return sum;
}
