/* A host built for the MSVC ABI (clang --target=x86_64-pc-windows-msvc,
 * lld-link) without a C runtime: it reaches the MinGW-built library through
 * katrace.lib and the C interface only. Its configuration is the default
 * one, msvc_host.jot beside the executable. */
#include "katrace_c.h"

__declspec(dllimport) void __stdcall ExitProcess(unsigned code);

static int evaluated = 0;

static int count_evaluation(void) { return ++evaluated; }

static void run(const char* what, int n) {
    KATR_C_SCOPE(t);
    KATR_C_PRINT_NL(t, KATR_RANK_ERROR, "%s %d of %u", what, n, 2u);
    KATR_C_PRINT_NL(t, KATR_RANK_DEBUG, "never %d", count_evaluation());
    KATR_C_SCOPE_END(t);
}

void mainCRTStartup(void) {
    char reply[128];
    katr_c_len_t len = sizeof reply;
    katr_c_scope s;
    static unsigned mask = KATR_RANK_SITE_DEFAULT, generation = 0;
    katr_c_init(0, 0);
    run("step", 1);
    run("step", 2);
    katr_c_command("!$7 run msvc_host.c", reply, &len);
    katr_c_scope_begin(&s, "reply", "msvc_host.c", &mask, &generation, __LINE__, 0);
    katr_c_print_nl(&s, KATR_RANK_WARNING, __LINE__, "ranks of run: %s(%u bytes)", reply, (unsigned)len);
    katr_c_scope_end(&s);
    ExitProcess(evaluated == 0 ? 0u : 3u);
}
