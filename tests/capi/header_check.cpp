// katrace_c.h compiles as C++ beside katrace.h; its scope wrapper ends the
// scope by itself.
#include "katrace.h"
#include "katrace_c.h"

void header_check_cxx(int n) {
    KATR_C_SCOPE_AUTO(t);
    KATR_C_PRINT(t, KATR_RANK_ERROR, "n=%d", n);
}
