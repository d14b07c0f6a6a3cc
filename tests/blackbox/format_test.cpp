// Recorded messages print exactly as printf prints the same call, and
// formats that do not fit their arguments never print memory they name.
#include "blackbox/box_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

box_value_s v_int(long long x) { return box_value_s{BOX_ARG_INT, static_cast<uint64_t>(x), "", 0}; }
box_value_s v_uint(unsigned long long x) { return box_value_s{BOX_ARG_UINT, x, "", 0}; }
box_value_s v_double(double d) {
    box_value_s v{BOX_ARG_DOUBLE, 0, "", 0};
    std::memcpy(&v.bits, &d, 8);
    return v;
}
box_value_s v_str(const char* s, uint32_t cut = 0) { return box_value_s{BOX_ARG_STRING, 0, s, cut}; }

template <class... A>
std::string printf_text(const char* format, A... a) {
    char buf[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buf, sizeof buf, format, a...);
#pragma GCC diagnostic pop
    return buf;
}

}  // namespace

TEST(BoxFormat, MatchesPrintf) {
    EXPECT_EQ(box_format_message("%d items from %s, %5.2f%% done", {v_int(3), v_str("disk"), v_double(42.5)}),
              printf_text("%d items from %s, %5.2f%% done", 3, "disk", 42.5));
    EXPECT_EQ(box_format_message("[%-6d|%+05i|%x|%#o|%hhu|%hd|%lu|%llX]", {v_int(-7), v_int(42), v_uint(255), v_uint(8), v_uint(300), v_int(70000), v_uint(~0ul), v_uint(~0ull)}),
              printf_text("[%-6d|%+05i|%x|%#o|%hhu|%hd|%lu|%llX]", -7, 42, 255u, 8u, static_cast<unsigned char>(300), static_cast<short>(70000), ~0ul, ~0ull));
    EXPECT_EQ(box_format_message("%*d|%-*.*s|%.3e|%g|%c", {v_int(5), v_int(12), v_int(8), v_int(3), v_str("abcdef"), v_double(1234.5), v_double(0.0001), v_int('z')}),
              printf_text("%*d|%-*.*s|%.3e|%g|%c", 5, 12, 8, 3, "abcdef", 1234.5, 0.0001, 'z'));
    EXPECT_EQ(box_format_message("%p", {v_uint(0x1234)}), printf_text("%p", reinterpret_cast<void*>(0x1234)));
    EXPECT_EQ(box_format_message("%s", {box_value_s{BOX_ARG_NULL_STRING, 0, "", 0}}), "(null)");
    EXPECT_EQ(box_format_message("100%% plain", {}), "100% plain");
}

TEST(BoxFormat, MisfitsAreMarkedNotPrinted) {
    EXPECT_EQ(box_format_message("%s and %d", {v_int(5)}), "<?> and <missing>");
    EXPECT_EQ(box_format_message("%d%n|", {v_int(1), v_uint(0xdead)}), "1|");  // %n writes nothing
    EXPECT_EQ(box_format_message("%s", {v_str("abc", 44)}), "abc[+44 bytes]");
    EXPECT_EQ(box_format_message("%999999999d|", {v_int(1)}).size(), 4096u + 1);
    EXPECT_EQ(box_format_message("%y %", {}), "%y %");
}
