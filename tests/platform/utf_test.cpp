// UTF-8 <-> UTF-16 conversion: the same results on both backends, the
// Windows conversion functions' size conventions included.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

typedef std::basic_string<katr_wchar_t> wide_t;

wide_t wide(const std::u16string& s) {
    return wide_t(s.begin(), s.end());
}

// Converts to UTF-16 after a size query; the result holds no terminator.
wide_t to16(const char* s) {
    const int n = plat_utf8_to_utf16(s, nullptr, 0);
    if (n < 1) return wide(u"<fail>");
    wide_t out(static_cast<size_t>(n), katr_wchar_t(0x7777));
    if (plat_utf8_to_utf16(s, &out[0], n) != n || out[n - 1] != 0) return wide(u"<fail>");
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string to8(const wide_t& s) {
    const int n = plat_utf16_to_utf8(s.c_str(), nullptr, 0);
    if (n < 1) return "<fail>";
    std::string out(static_cast<size_t>(n), '\x77');
    if (plat_utf16_to_utf8(s.c_str(), &out[0], n) != n || out[n - 1] != 0) return "<fail>";
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace

TEST(PlatformUtf, SizeQueriesAndSmallTargets) {
    EXPECT_EQ(plat_utf8_to_utf16("abc", nullptr, 0), 4);
    EXPECT_EQ(plat_utf8_to_utf16("abc", nullptr, 10), 4);
    EXPECT_EQ(plat_utf8_to_utf16("", nullptr, 0), 1);
    EXPECT_EQ(plat_utf8_to_utf16("\xF0\x9F\x98\x80", nullptr, 0), 3);   // a surrogate pair
    katr_wchar_t w[4];
    EXPECT_EQ(plat_utf8_to_utf16("abc", w, 3), 0);
    EXPECT_EQ(plat_utf8_to_utf16("abc", w, 4), 4);
    EXPECT_EQ(wide_t(w), wide(u"abc"));
    EXPECT_EQ(plat_utf8_to_utf16("\xF0\x9F\x98\x80", w, 2), 0);   // the pair needs both units
    EXPECT_EQ(plat_utf8_to_utf16(nullptr, w, 4), 0);

    EXPECT_EQ(plat_utf16_to_utf8(wide(u"abc").c_str(), nullptr, 0), 4);
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"\u00e9").c_str(), nullptr, 0), 3);
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"\U0001F600").c_str(), nullptr, 0), 5);
    char n[5];
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"abc").c_str(), n, 3), 0);
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"abc").c_str(), n, 4), 4);
    EXPECT_STREQ(n, "abc");
    EXPECT_EQ(plat_utf16_to_utf8(wide(u"\U0001F600").c_str(), n, 4), 0);
    EXPECT_EQ(plat_utf16_to_utf8(nullptr, n, 5), 0);
}

TEST(PlatformUtf, ValidTextRoundTrips) {
    EXPECT_EQ(to16("plain ASCII"), wide(u"plain ASCII"));
    EXPECT_EQ(to16("caf\xC3\xA9"), wide(u"caf\u00e9"));
    EXPECT_EQ(to16("\xE2\x82\xAC 1"), wide(u"\u20ac 1"));
    EXPECT_EQ(to16("\xF0\x9F\x98\x80!"), wide(u"\U0001F600!"));
    EXPECT_EQ(to16("\xF4\x8F\xBF\xBF"), wide(u"\U0010FFFF"));
    EXPECT_EQ(to16("\xEF\xBB\xBFx"), wide(u"\ufeffx"));   // a BOM is an ordinary character
    const char* samples[] = {"", "abc", "caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\x9F\xBF\xEE\x80\x80"};
    for (const char* s : samples) EXPECT_EQ(to8(to16(s)), s);
}

TEST(PlatformUtf, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(to16("a\xFF" "b"), wide(u"a\ufffdb"));
    EXPECT_EQ(to16("\x80"), wide(u"\ufffd"));
    EXPECT_EQ(to16("\xC3"), wide(u"\ufffd"));                   // cut short by the terminator
    EXPECT_EQ(to16("\xE2\x82"), wide(u"\ufffd"));
    EXPECT_EQ(to16("\xE2\x82x"), wide(u"\ufffdx"));
    EXPECT_EQ(to16("\xF0\x9F\x98"), wide(u"\ufffd"));
    EXPECT_EQ(to16("\xC0\xAF"), wide(u"\ufffd\ufffd"));         // overlong
    // A lead byte and a second byte that can only start an overlong form, a
    // surrogate or a value above U+10FFFF count as one sequence.
    EXPECT_EQ(to16("\xE0\x80\xAF"), wide(u"\ufffd\ufffd"));
    EXPECT_EQ(to16("\xED\xA0\x80"), wide(u"\ufffd\ufffd"));
    EXPECT_EQ(to16("\xF4\x90\x80\x80"), wide(u"\ufffd\ufffd\ufffd"));
    EXPECT_EQ(to16("\xF0\x8F\xBF\xBF"), wide(u"\ufffd\ufffd\ufffd"));
    // An incomplete sequence just before the end keeps the terminator.
    EXPECT_EQ(to16("\xF0z").substr(0, 1), wide(u"\ufffd"));
    EXPECT_EQ(to16("\xE2z").substr(0, 1), wide(u"\ufffd"));
    EXPECT_EQ(to16("\xF8\x88\x80\x80\x80"), wide(u"\ufffd\ufffd\ufffd\ufffd\ufffd"));
    EXPECT_EQ(plat_utf8_to_utf16("\xC3", nullptr, 0), 2);
}

TEST(PlatformUtf, LoneSurrogatesBecomeReplacementCharacters) {
    const katr_wchar_t high_then_a[] = {0xD83D, 'a', 0};
    const katr_wchar_t low_alone[] = {'x', 0xDE00, 0};
    const katr_wchar_t high_at_end[] = {0xD83D, 0};
    const katr_wchar_t swapped[] = {0xDE00, 0xD83D, 0};
    EXPECT_EQ(to8(high_then_a), "\xEF\xBF\xBD" "a");
    EXPECT_EQ(to8(low_alone), "x\xEF\xBF\xBD");
    EXPECT_EQ(to8(high_at_end), "\xEF\xBF\xBD");
    EXPECT_EQ(to8(swapped), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(plat_utf16_to_utf8(high_at_end, nullptr, 0), 4);
}
