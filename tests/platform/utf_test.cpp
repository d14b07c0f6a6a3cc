// UTF-8 <-> UTF-16 conversion: the same results on both backends, the
// Windows conversion functions' size conventions included.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {
typedef std::basic_string<katr_wchar_t> wide_t;

wide_t wide(const std::u16string& s) { return wide_t(s.begin(), s.end()); }

// A conversion after a size query; the result without its terminator.
template <class To, class From> std::basic_string<To> convert(int (*fn)(const From*, To*, int), const From* s) {
    const int n = fn(s, nullptr, 0);
    std::basic_string<To> out(static_cast<size_t>(n > 0 ? n : 1), To(0x77));
    if (n < 1 || fn(s, &out[0], n) != n || out[n - 1] != 0) return std::basic_string<To>(1, To('?'));
    out.resize(static_cast<size_t>(n - 1));
    return out;
}
wide_t to16(const char* s) { return convert(plat_utf8_to_utf16, s); }
std::string to8(const wide_t& s) { return convert(plat_utf16_to_utf8, s.c_str()); }
}  // namespace

TEST(PlatformUtf, SizeQueriesAndSmallTargets) {
    const struct { const char* utf8; int units; } to16_sizes[] = {{"abc", 4}, {"", 1}, {"\xF0\x9F\x98\x80", 3}, {"\xC3", 2}};
    for (const auto& c : to16_sizes) EXPECT_EQ(plat_utf8_to_utf16(c.utf8, nullptr, 0), c.units) << c.utf8;
    const struct { std::u16string utf16; int bytes; } to8_sizes[] = {{u"abc", 4}, {u"\u00e9", 3}, {u"\U0001F600", 5}};
    for (const auto& c : to8_sizes) EXPECT_EQ(plat_utf16_to_utf8(wide(c.utf16).c_str(), nullptr, 0), c.bytes);
    EXPECT_EQ(plat_utf8_to_utf16("abc", nullptr, 10), 4);
    katr_wchar_t w[4];
    char n[5];
    EXPECT_EQ(plat_utf8_to_utf16("abc", w, 3), 0);
    EXPECT_EQ(plat_utf8_to_utf16("abc", w, 4), 4);
    EXPECT_EQ(wide_t(w), wide(u"abc"));
    EXPECT_EQ(plat_utf8_to_utf16("\xF0\x9F\x98\x80", w, 2), 0);  // the pair needs both units
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"abc").c_str(), n, 3), 0);
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"abc").c_str(), n, 4), 4);
    EXPECT_STREQ(n, "abc");
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"\U0001F600").c_str(), n, 4), 0);
    EXPECT_EQ(plat_utf8_to_utf16(nullptr, w, 4), 0);
    EXPECT_EQ(plat_utf16_to_utf8(nullptr, n, 5), 0);
}

TEST(PlatformUtf, ValidAndInvalidUtf8) {
    const std::u16string R = u"\ufffd";
    const struct { const char* utf8; std::u16string utf16; } cases[] = {
        {"plain ASCII", u"plain ASCII"}, {"caf\xC3\xA9", u"caf\u00e9"}, {"\xE2\x82\xAC 1", u"\u20ac 1"},
        {"\xF0\x9F\x98\x80!", u"\U0001F600!"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"\xEF\xBB\xBFx", u"\ufeffx"},  // a BOM is an ordinary character
        {"a\xFF" "b", u"a" + R + u"b"}, {"\x80", R}, {"\xE2\x82x", R + u"x"}, {"\xC0\xAF", R + R},  // overlong
        {"\xC3", R}, {"\xE2\x82", R}, {"\xF0\x9F\x98", R},  // cut short by the terminator
        // A lead byte and a second byte that can only start an overlong form, a
        // surrogate or a value above U+10FFFF count as one sequence.
        {"\xE0\x80\xAF", R + R}, {"\xED\xA0\x80", R + R}, {"\xF4\x90\x80\x80", R + R + R}, {"\xF0\x8F\xBF\xBF", R + R + R},
        {"\xF8\x88\x80\x80\x80", R + R + R + R + R},
    };
    for (const auto& c : cases) EXPECT_EQ(to16(c.utf8), wide(c.utf16)) << c.utf8;
    // An incomplete sequence just before the end keeps the terminator.
    EXPECT_EQ(to16("\xF0z").substr(0, 1), wide(R));
    EXPECT_EQ(to16("\xE2z").substr(0, 1), wide(R));
    for (const char* s : {"", "abc", "caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\x9F\xBF\xEE\x80\x80"})
        EXPECT_EQ(to8(to16(s)), s);
}

TEST(PlatformUtf, LoneSurrogatesBecomeReplacementCharacters) {
    const katr_wchar_t high_then_a[] = {0xD83D, 'a', 0}, low_alone[] = {'x', 0xDE00, 0};
    const katr_wchar_t high_at_end[] = {0xD83D, 0}, swapped[] = {0xDE00, 0xD83D, 0};
    EXPECT_EQ(to8(high_then_a), "\xEF\xBF\xBD" "a");
    EXPECT_EQ(to8(low_alone), "x\xEF\xBF\xBD");
    EXPECT_EQ(to8(high_at_end), "\xEF\xBF\xBD");
    EXPECT_EQ(to8(swapped), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(plat_utf16_to_utf8(high_at_end, nullptr, 0), 4);
}
