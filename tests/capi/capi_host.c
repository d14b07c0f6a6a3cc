/* A C host of the library (C99, or the C of another compiler's ABI through
 * the same header): usage capi_host <config> <reload config>. It traces one
 * scope before and after a reload, runs one command and writes how often the
 * argument of a disabled message was evaluated to standard output. */
#include <stdio.h>

#include "katrace_c.h"

static int evaluated = 0;

static int count_evaluation(void) { return ++evaluated; }

static void work(int n) {
    KATR_C_SCOPE(t);
    KATR_C_PRINT_NL(t, KATR_RANK_ERROR, "working on %d", n);
    /* Disabled until the reload: the inline test keeps the call, and so the
     * evaluation of its argument, away. */
    KATR_C_PRINT_NL(t, KATR_RANK_DEBUG, "evaluation %d", count_evaluation());
    KATR_C_SCOPE_END(t);
}

int main(int argc, char** argv) {
    char reply[256];
    katr_c_len_t len = sizeof reply;
    if (argc < 3) return 2;
    katr_c_init(argv[1], NULL);
    work(1);
    if (!katr_c_reparse_file(reply, &len, argv[2])) {
        fprintf(stderr, "reload failed: %s\n", reply);
        return 1;
    }
    work(2);
    len = sizeof reply;
    katr_c_command("!$7 work capi_host.c", reply, &len);
    {
        KATR_C_SCOPE_AUTO(r);
        katr_c_print_nl(&r, KATR_RANK_ERROR, __LINE__, "ranks of work: %s", reply);
    }
    printf("evaluated %d\n", evaluated);
    return 0;
}
