// One suite for both converters: unchanged in the native build (our own converter) and under Wine
// (the system's code page 65001 converter), so passing in both proves that the two agree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/utf.h"

namespace {
typedef std::basic_string<katr_wchar_t> wide_t;
const unsigned R = 0xFFFD;

wide_t wide(std::initializer_list<unsigned> units) { return wide_t(units.begin(), units.end()); }

// A conversion with the size query first; the answered size must be exact.
template <class To, class From> std::basic_string<To> convert(int (*fn)(const From*, To*, int*), const From* text) {
    int size = 0, given = 0;
    EXPECT_EQ(fn(text, nullptr, &size), 1);
    std::vector<To> buf(static_cast<size_t>(size) + 1, 'x');
    EXPECT_EQ(fn(text, buf.data(), &(given = size)), 1);
    EXPECT_EQ(given, size);
    EXPECT_EQ(buf[static_cast<size_t>(size) - 1], 0);
    return std::basic_string<To>(buf.data());
}
std::string narrow_of(const wide_t& w) { return convert(to_utf8, w.c_str()); }
wide_t wide_of(const char* text) { return convert(to_utf16, text); }
}  // namespace

TEST(Utf, SizesAndNullInput) {
    const wide_t abc = wide({'a', 'b', 'c'});
    char small[8] = "zzzzzzz";
    katr_wchar_t w[8] = {'z', 'z'};
    int size = 3;
    auto answer = [&size](int ok) { return std::to_string(ok) + "/" + std::to_string(size); };
    // Too small: the size needed, the target untouched; then exactly the size needed.
    EXPECT_EQ(answer(to_utf8(abc.c_str(), small, &size)), "0/4");
    EXPECT_EQ(small[0], 'z');
    EXPECT_EQ(answer(to_utf8(abc.c_str(), small, &size)), "1/4");
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(answer(to_utf16("abc", w, &(size = 3))), "0/4");
    EXPECT_EQ(w[0], 'z');
    // A null text is the empty text of size 0; "" is one terminator; no size to answer in is a failure.
    EXPECT_EQ(answer(to_utf16(nullptr, w, &(size = 7))), "1/0");
    EXPECT_EQ(answer(to_utf8(nullptr, small, &(size = 7))), "1/0");
    EXPECT_EQ(w[0] | small[0], 0);
    EXPECT_EQ(answer(to_utf8(nullptr, nullptr, &(size = 7))), "1/0");
    EXPECT_EQ(answer(to_utf16("", nullptr, &size)), "1/1");
    EXPECT_EQ(to_utf16("abc", w, nullptr), 0);
}

TEST(Utf, ConversionsBothWays) {
    // U+00E9: one unit, two bytes; U+20AC: one unit, three bytes; U+1F600: a surrogate pair, four bytes.
    const struct { const char* utf8; wide_t utf16; } valid[] = {
        {"\xC3\xA9", wide({0xE9})}, {"\xE2\x82\xAC", wide({0x20AC})}, {"\xF0\x9F\x98\x80", wide({0xD83D, 0xDE00})}, {"a\xC3\xA9\xF0\x9F\x98\x80z", wide({'a', 0xE9, 0xD83D, 0xDE00, 'z'})}, {"\xF4\x8F\xBF\xBF", wide({0xDBFF, 0xDFFF})},  // U+10FFFF
    };
    for (const auto& c : valid) {
        EXPECT_EQ(wide_of(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(narrow_of(c.utf16), c.utf8);
    }
    for (const char* t : {"", "plain ASCII text", "caf\xC3\xA9 \xE2\x82\xAC 100", "\xF0\x9F\x98\x80\xF0\x9F\x98\x81",
                          "C:/Program Files/h\xC3\xB4te/log"})
        EXPECT_EQ(narrow_of(wide_of(t)), t);

    // Invalid input becomes U+FFFD; for the never-valid forms (overlong, an encoded surrogate, beyond
    // U+10FFFF) the counts follow the system converter's grouping, which our own converter reproduces.
    const struct { const char* utf8; wide_t utf16; } bad_utf8[] = {
        {"a\xFFz", wide({'a', R, 'z'})}, {"\x80", wide({R})},  // a byte never valid, a lone continuation byte
        {"x\xC3", wide({'x', R})}, {"\xC3Z", wide({R, 'Z'})}, {"\xE2\x82Z", wide({R, 'Z'})},  // cut short
        {"\xC0\xAF", wide({R, R})}, {"\xED\xA0\x80z", wide({R, R, 'z'})}, {"\xF4\x90\x80\x80", wide({R, R, R})},
    };
    for (const auto& c : bad_utf8) EXPECT_EQ(wide_of(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(narrow_of(wide({0xD800})), "\xEF\xBF\xBD");
    EXPECT_EQ(narrow_of(wide({'a', 0xDC00, 'z'})), "a\xEF\xBF\xBDz");
    EXPECT_EQ(narrow_of(wide({0xD83D, 'x'})), "\xEF\xBF\xBDx");  // high without low
}
