/* katrace_c.h compiles as C89 (-std=c89 -pedantic): declarations only. */
#include "katrace_c.h"

int header_check_c89(katr_c_scope* s) { return katr_c_may_pass(s, KATR_RANK_ERROR); }
