// One suite for both converters: it runs unchanged in the native build (our
// own converter) and under Wine (the system's code page 65001 converter), so
// passing in both proves that the two agree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/utf.h"

namespace {

typedef std::basic_string<katr_wchar_t> wide_t;

wide_t wide(std::initializer_list<unsigned> units) {
    wide_t w;
    for (unsigned u : units) w.push_back(static_cast<katr_wchar_t>(u));
    return w;
}

// UTF-8 of a wide text through to_utf8, with the size query first.
std::string narrow_of(const wide_t& w) {
    int size = 0;
    EXPECT_EQ(to_utf8(w.c_str(), nullptr, &size), 1);
    std::vector<char> buf(static_cast<size_t>(size) + 1, 'x');
    int given = size;
    EXPECT_EQ(to_utf8(w.c_str(), buf.data(), &given), 1);
    EXPECT_EQ(given, size);
    EXPECT_EQ(buf[static_cast<size_t>(size) - 1], 0);
    return std::string(buf.data());
}

wide_t wide_of(const char* text) {
    int size = 0;
    EXPECT_EQ(to_utf16(text, nullptr, &size), 1);
    std::vector<katr_wchar_t> buf(static_cast<size_t>(size) + 1, 'x');
    int given = size;
    EXPECT_EQ(to_utf16(text, buf.data(), &given), 1);
    EXPECT_EQ(given, size);
    EXPECT_EQ(buf[static_cast<size_t>(size) - 1], 0);
    return wide_t(buf.data());
}

}  // namespace

TEST(Utf, SizeQueryTooSmallAndExact) {
    const wide_t abc = wide({'a', 'b', 'c'});
    int size = 0;
    EXPECT_EQ(to_utf8(abc.c_str(), nullptr, &size), 1);
    EXPECT_EQ(size, 4);

    char small[8] = "zzzzzzz";
    size = 3;
    EXPECT_EQ(to_utf8(abc.c_str(), small, &size), 0);
    EXPECT_EQ(size, 4);
    EXPECT_STREQ(small, "zzzzzzz");  // untouched

    size = 4;
    EXPECT_EQ(to_utf8(abc.c_str(), small, &size), 1);
    EXPECT_EQ(size, 4);
    EXPECT_STREQ(small, "abc");

    katr_wchar_t w[8];
    for (auto& u : w) u = 'z';
    size = 3;
    EXPECT_EQ(to_utf16("abc", w, &size), 0);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(w[0], 'z');
    size = 8;
    EXPECT_EQ(to_utf16("abc", w, &size), 1);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(wide_t(w), abc);
}

TEST(Utf, NullInputIsTheEmptyText) {
    katr_wchar_t w[2] = {'z', 'z'};
    int size = 7;
    EXPECT_EQ(to_utf16(nullptr, w, &size), 1);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(w[0], 0);
    char n[2] = {'z', 'z'};
    size = 7;
    EXPECT_EQ(to_utf8(nullptr, n, &size), 1);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(n[0], 0);
    size = 7;
    EXPECT_EQ(to_utf8(nullptr, nullptr, &size), 1);
    EXPECT_EQ(size, 0);
    // The empty text is one terminator.
    EXPECT_EQ(to_utf16("", nullptr, &size), 1);
    EXPECT_EQ(size, 1);
    // No size to answer in: a failure, never a crash.
    EXPECT_EQ(to_utf16("abc", w, nullptr), 0);
}

TEST(Utf, MultiByteCharacters) {
    // U+00E9 is one unit and two bytes; U+20AC one unit and three bytes;
    // U+1F600 a surrogate pair and four bytes.
    EXPECT_EQ(narrow_of(wide({0xE9})), "\xC3\xA9");
    EXPECT_EQ(narrow_of(wide({0x20AC})), "\xE2\x82\xAC");
    EXPECT_EQ(narrow_of(wide({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80");
    int size = 0;
    const wide_t mixed = wide({'a', 0xE9, 0xD83D, 0xDE00, 'z'});
    EXPECT_EQ(to_utf8(mixed.c_str(), nullptr, &size), 1);
    EXPECT_EQ(size, 1 + 2 + 4 + 1 + 1);
    EXPECT_EQ(to_utf16("a\xC3\xA9\xF0\x9F\x98\x80z", nullptr, &size), 1);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(wide_of("a\xC3\xA9\xF0\x9F\x98\x80z"), mixed);
    EXPECT_EQ(wide_of("\xF4\x8F\xBF\xBF"), wide({0xDBFF, 0xDFFF}));  // U+10FFFF
}

TEST(Utf, InvalidInputBecomesReplacementCharacter) {
    const unsigned R = 0xFFFD;
    EXPECT_EQ(wide_of("a\xFF" "b"), wide({'a', R, 'b'}));
    EXPECT_EQ(wide_of("\x80"), wide({R}));            // lone continuation byte
    EXPECT_EQ(wide_of("x\xC3"), wide({'x', R}));      // cut short by the end
    EXPECT_EQ(wide_of("\xC3" "A"), wide({R, 'A'}));   // cut short by ASCII
    EXPECT_EQ(wide_of("\xE2\x82" "A"), wide({R, 'A'}));
    // Never-valid forms: overlong, an encoded surrogate, beyond U+10FFFF.
    // The counts of U+FFFD are the system converter's grouping, which our
    // own converter reproduces.
    EXPECT_EQ(wide_of("\xC0\xAF"), wide({R, R}));
    EXPECT_EQ(wide_of("\xED\xA0\x80" "a"), wide({R, R, 'a'}));
    EXPECT_EQ(wide_of("\xF4\x90\x80\x80"), wide({R, R, R}));

    EXPECT_EQ(narrow_of(wide({0xD800})), "\xEF\xBF\xBD");
    EXPECT_EQ(narrow_of(wide({'a', 0xDC00, 'b'})), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(narrow_of(wide({0xD83D, 'x'})), "\xEF\xBF\xBDx");  // high without low
}

TEST(Utf, RoundTrips) {
    const char* texts[] = {"", "plain ASCII text", "caf\xC3\xA9 \xE2\x82\xAC 100",
                           "\xF0\x9F\x98\x80\xF0\x9F\x98\x81", "C:/Program Files/h\xC3\xB4te/log"};
    for (const char* t : texts) EXPECT_EQ(narrow_of(wide_of(t)), t);

    basis_multi_lang_c m;
    EXPECT_EQ(m.wide_text, nullptr);
    EXPECT_EQ(m.narrow_text, nullptr);
    katr_wchar_t* w1 = m.to_wide("caf\xC3\xA9");
    ASSERT_NE(w1, nullptr);
    EXPECT_EQ(wide_t(w1), wide({'c', 'a', 'f', 0xE9}));
    katr_wchar_t* w2 = m.to_wide("second");
    ASSERT_NE(w2, nullptr);
    EXPECT_EQ(m.wide_text, w2);
    char* n = m.to_narrow(w2);
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n, "second");
    EXPECT_EQ(m.wide_text, w2);  // to_narrow leaves the wide result alone
    EXPECT_EQ(m.narrow_text, n);

    EXPECT_EQ(m.to_wide(nullptr), nullptr);
    EXPECT_EQ(m.wide_text, nullptr);
    EXPECT_EQ(m.to_narrow(nullptr), nullptr);
    EXPECT_EQ(m.narrow_text, nullptr);
}
