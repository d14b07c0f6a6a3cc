// The C interface (katrace_c.h) in process: the lines of its scopes and
// messages (what the entry object prints for the same calls), bad arguments
// refused without a crash.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "front/front_fixture.h"
#include "katrace_c.h"

namespace {

using c_interface_test = front_test;

void vprint_nl(katr_c_scope* s, unsigned rank, int line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    katr_c_vprint_nl(s, rank, line, format, arguments);
    va_end(arguments);
}

void vprint_named_nl(katr_c_scope* s, const char* rank_name, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    katr_c_vprint_user_defined_nl(s, rank_name, format, arguments);
    va_end(arguments);
}

const char* const config = "PrintLine on\nPrintFile on\nPrintFunction on\nKeepStack on\nDoIndentation on\nAditionalRanks db\n"
                           "DefaultLoggingRank trace error db";

}  // namespace

TEST_F(c_interface_test, ScopesPrintWhatTheEntryObjectPrints) {
    load(config);
    unsigned c_mask = KATR_RANK_SITE_DEFAULT, c_gen = 0;
    katr_c_scope s;
    katr_c_scope_begin(&s, "Conn::send", ".\\conn.c", &c_mask, &c_gen, 3, 1);
    vprint_nl(&s, KATR_RANK_ERROR, 7, "n=%d", 5);
    KATR_C_PRINT_NL(s, KATR_RANK_DEBUG, "hidden");
    vprint_named_nl(&s, "db", "x=%s", "y");
    katr_c_print_user_defined(&s, "nodb", "hidden");
    katr_c_print_long_string(&s, KATR_RANK_ERROR, 9, "long\r\n", 6);
    katr_c_print_user_defined_long_string(&s, "db", "named long\r\n", 12);
    EXPECT_TRUE(katr_c_is_set(&s, KATR_RANK_TRACE) && katr_c_is_set_user_defined(&s, "db") &&
                !katr_c_is_set(&s, KATR_RANK_DEBUG));
    katr_c_scope_end(&s);
    katr_c_scope_end(&s);  // a second end does nothing
    EXPECT_EQ(depth(), 0);
    EXPECT_EQ(since_load(), banner() + "3: . conn.c:Conn::send:enter->\r\n7:error-> .    n=5\r\ndb-> .    x=y\r\n9:error-> .    long\r\n"
                                       "db-> .    named long\r\n . conn.c:Conn::send:<-leave\r\n");
}

TEST_F(c_interface_test, BadArgumentsAreRefusedWithoutACrash) {
    load("DefaultLoggingRank all");
    katr_c_print(nullptr, KATR_RANK_ERROR, 1, "x");
    katr_c_print_long_string(nullptr, KATR_RANK_ERROR, 1, "x", 1);
    EXPECT_EQ(katr_c_is_set(nullptr, KATR_RANK_ALL), 0);
    katr_c_scope_end(nullptr);
    // Null site variables: the library's stand-ins.
    katr_c_scope s;
    katr_c_scope_begin(&s, nullptr, nullptr, nullptr, nullptr, 1, 0);
    katr_c_print_nl(&s, KATR_RANK_ERROR, 1, "%s", "stand-in site");
    katr_c_scope_end(&s);
    EXPECT_NE(since_load().find("stand-in site\r\n"), std::string::npos);

    testing::internal::CaptureStderr();
    katr_c_scope_begin(nullptr, "f", "a.c", nullptr, nullptr, 1, 1);
    katr_c_get_log_filename(nullptr, nullptr);
    EXPECT_EQ(katr_c_reparse_file(nullptr, nullptr, "x.jot"), 0);
    katr_c_command("!$6", nullptr, nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("katr_c_scope_begin called with a null scope"), std::string::npos) << err;
    EXPECT_NE(err.find("katr_c_reparse_file called with a null length pointer"), std::string::npos) << err;
    EXPECT_NE(err.find("katr_c_command called with a null length pointer"), std::string::npos) << err;
}
