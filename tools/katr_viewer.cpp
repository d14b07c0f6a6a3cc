// katr_viewer: shows katrace's debugger output on Linux. Binds the viewer
// endpoint (by default the calling user's, where every katrace host of this
// user sends), prints each text received until Ctrl-C, and removes the
// endpoint again. On Windows the texts go to OutputDebugStringW and the
// system's debuggers show them, so there is nothing to do.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "support/terminal_text.h"

namespace {

int usage(FILE* out) {
    std::fputs("usage: katr_viewer [--endpoint PATH]\n"
               "Prints every katrace debugger-output text of this user until Ctrl-C.\n"
               "  --endpoint PATH  listen at PATH instead of the default endpoint\n",
               out);
    return out == stdout ? 0 : 2;
}

#ifndef _WIN32

volatile std::sig_atomic_t g_stop = 0;

extern "C" void on_interrupt(int) {
    g_stop = 1;
}

// Writes one text with LF line ends and its control characters escaped,
// ending it with a line feed when it has none.
void print_text(const char* text, int length, std::vector<char>& shown) {
    const size_t n = static_cast<size_t>(length);
    const size_t needed = terminal_text(text, n, nullptr, 0);
    if (shown.size() < needed + 1) shown.resize(needed + 1);
    terminal_text(text, n, shown.data(), shown.size());
    std::fwrite(shown.data(), 1, needed, stdout);
    if (needed == 0 || shown[needed - 1] != '\n') std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Prints what arrives at the endpoint until Ctrl-C (or a termination request).
int show_texts(const char* endpoint) {
    const intptr_t viewer = plat_debug_viewer_open(endpoint);
    if (viewer == -1) {
        std::fprintf(stderr, "katr_viewer: cannot listen at %s (error %lu); is another viewer running?\n",
                     endpoint ? endpoint : plat_debug_endpoint(), plat_last_error());
        return 1;
    }
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    std::fprintf(stderr, "katr_viewer: listening at %s; Ctrl-C ends\n", endpoint ? endpoint : plat_debug_endpoint());
    std::vector<char> buf(256 * 1024);
    std::vector<char> shown;
    int result = 0;
    while (!g_stop) {
        const int n = plat_debug_viewer_receive(viewer, buf.data(), buf.size(), 500);
        if (n > 0) {
            print_text(buf.data(), n, shown);
        } else if (n < 0) {
            std::fprintf(stderr, "katr_viewer: receive failed (error %lu)\n", plat_last_error());
            result = 1;
            break;
        }
    }
    plat_debug_viewer_close(viewer);
    return result;
}

#endif

}  // namespace

int main(int argc, char** argv) {
    const char* endpoint = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--endpoint") == 0) {
            if (i + 1 >= argc || !argv[i + 1][0]) {
                std::fputs("katr_viewer: --endpoint needs a path\n", stderr);
                return usage(stderr);
            }
            endpoint = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return usage(stdout);
        } else {
            std::fprintf(stderr, "katr_viewer: unexpected argument \"%s\"\n", argv[i]);
            return usage(stderr);
        }
    }
#ifdef _WIN32
    (void)endpoint;
    std::puts("katr_viewer is not needed on Windows: katrace writes its debugger output with "
              "OutputDebugStringW; a debugger or DebugView shows it.");
    return 0;
#else
    return show_texts(endpoint);
#endif
}
