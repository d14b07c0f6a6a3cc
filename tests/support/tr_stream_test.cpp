#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/tr_stream.h"

namespace {
std::string text_of(double v) {
    tr_stream_c s;
    s.append(v);
    return std::string(s.buffer, s.length);
}
}

TEST(TrStream, FreshStreamAndGrowth) {
    tr_stream_c s;
    ASSERT_NE(s.buffer, nullptr);
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.capacity, 5u);
    EXPECT_STREQ(s.buffer, "");

    // Four characters still fit the first buffer; five need a step of 16.
    s.append("abcd");
    EXPECT_EQ(s.capacity, 5u);
    tr_stream_c five;
    five.append("abcde");
    EXPECT_EQ(five.capacity, 17u);
    EXPECT_STREQ(five.buffer, "abcde");

    tr_stream_c hundred;
    hundred.append(std::string(100, 'x').c_str());
    EXPECT_EQ(hundred.capacity, 121u);
    tr_stream_c big;
    big.append(std::string(600, 'y').c_str());
    EXPECT_EQ(big.capacity, 601u);
    EXPECT_EQ(big.length, 600u);

    // Growth is sized by the request: one character at a time reallocates
    // once every 16 characters, and the text survives each move.
    tr_stream_c one;
    std::string expect;
    for (int i = 0; i < 40; ++i) {
        one.append(static_cast<char>('a' + i % 26));
        expect += static_cast<char>('a' + i % 26);
    }
    EXPECT_EQ(one.capacity, 53u);  // 5 -> 21 -> 37 -> 53
    EXPECT_EQ(std::string(one.buffer), expect);
    EXPECT_EQ(one.buffer[one.length], 0);

    // A mid-sized request on a non-empty stream: length + n*1.2 + 1.
    tr_stream_c mid;
    mid.append("0123456789");
    mid.append(std::string(50, 'z').c_str());
    EXPECT_EQ(mid.capacity, 10u + 60 + 1);
    EXPECT_EQ(mid.length, 60u);
}

TEST(TrStream, TextCharactersAndClearing) {
    tr_stream_c s;
    s.append(static_cast<const char*>(nullptr)).append("").append('\0');
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.capacity, 5u);

    s.append("abc");
    char* before = s.buffer;
    s.append('\x01');
    EXPECT_EQ(s.length, 0u);
    EXPECT_STREQ(s.buffer, "");
    EXPECT_EQ(s.buffer, before);
    EXPECT_EQ(s.capacity, 5u);

    tr_stream_c other;
    other.append("xy");
    s.append("Version = ").append(1).append('.').append(2u).append(' ').append(other).append(tr_stream_c());
    EXPECT_STREQ(s.buffer, "Version = 1.2 xy");
    s.append(s);  // self-append
    EXPECT_STREQ(s.buffer, "Version = 1.2 xyVersion = 1.2 xy");
    // A piece of its own text, appended while the buffer has to move.
    tr_stream_c own;
    own.append("0123");
    own.append(own.c_str() + 1);
    EXPECT_STREQ(own.buffer, "0123123");

    tr_stream_c n;
    n.append_n("hello world", 5).append_n(nullptr, 3).append_n("zz", 0);
    EXPECT_STREQ(n.buffer, "hello");
    EXPECT_EQ(n.length, 5u);
}

TEST(TrStream, Integers) {
    tr_stream_c s;
    s.append(static_cast<short>(-32768)).append(' ')
        .append(static_cast<unsigned short>(65535)).append(' ')
        .append(-2147483647 - 1).append(' ')
        .append(4294967295u).append(' ')
        .append(-5L).append(' ')
        .append(7UL).append(' ')
        .append(-9223372036854775807LL - 1).append(' ')
        .append(18446744073709551615ULL).append(' ')
        .append(true).append(' ').append(false);
    EXPECT_STREQ(s.buffer,
                 "-32768 65535 -2147483648 4294967295 -5 7 -9223372036854775808 18446744073709551615 true false");
}

TEST(TrStream, Doubles) {
    EXPECT_EQ(text_of(2.5), "2.5");
    EXPECT_EQ(text_of(3.0), "3");
    EXPECT_EQ(text_of(0.0), "0");
    EXPECT_EQ(text_of(-0.125), "-0.125");
    EXPECT_EQ(text_of(1.00004), "1");
    EXPECT_EQ(text_of(10.0), "10");  // zeros before the point stay
    EXPECT_EQ(text_of(0.00005), "0.0001");
    EXPECT_EQ(text_of(2147483646.5), "2147483646.5");
    EXPECT_EQ(text_of(-2147483646.0), "-2147483646");
    EXPECT_EQ(text_of(2147483647.0), "2.147483647e+09");
    EXPECT_EQ(text_of(-2147483647.0), "-2.147483647e+09");
    EXPECT_EQ(text_of(1e300), "1.000000000e+300");
    EXPECT_EQ(text_of(1.5e10).size(), 15u);
    // Infinities take the exponent branch, NaN the first one; neither breaks
    // the stream.
    std::string inf = text_of(std::numeric_limits<double>::infinity());
    EXPECT_EQ(inf.size(), 15u);
    EXPECT_NE(inf.find("inf"), std::string::npos);
    std::string nan = text_of(std::nan(""));
    EXPECT_NE(nan.find("nan"), std::string::npos);
    EXPECT_LT(nan.size(), 15u);
}

TEST(TrStream, TruncateSetCharAndInsertCr) {
    tr_stream_c s;
    s.append("abcdef");
    s.truncate(6);
    s.truncate(10);
    EXPECT_STREQ(s.buffer, "abcdef");
    s.set_char(6, 'x');
    s.set_char(100, 'x');
    EXPECT_STREQ(s.buffer, "abcdef");
    s.set_char(0, 'A');
    EXPECT_STREQ(s.buffer, "Abcdef");
    s.set_char(4, '\0');
    EXPECT_STREQ(s.buffer, "Abcd");
    EXPECT_EQ(s.length, 4u);
    s.truncate(2);
    EXPECT_STREQ(s.buffer, "Ab");
    EXPECT_EQ(s.length, 2u);

    s.insert_cr(3);  // beyond the end: nothing
    EXPECT_STREQ(s.buffer, "Ab");
    s.insert_cr(2);
    s.insert_cr(1);
    s.insert_cr(0);
    EXPECT_STREQ(s.buffer, "\rA\rb\r");
    EXPECT_EQ(s.length, 5u);
}

TEST(TrStream, ToCrlf) {
    auto crlf = [](const char* in) {
        tr_stream_c s;
        s.append(in);
        s.to_crlf();
        EXPECT_EQ(s.buffer[s.length], 0);
        return std::string(s.buffer, s.length);
    };
    EXPECT_EQ(crlf("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(crlf("a\r\nb"), "a\r\nb");
    EXPECT_EQ(crlf("\n"), "\r\n");
    EXPECT_EQ(crlf("\r\n\n"), "\r\n\r\n");
    EXPECT_EQ(crlf("\n\n\n"), "\r\n\r\n\r\n");
    EXPECT_EQ(crlf("no line feed"), "no line feed");
    EXPECT_EQ(crlf(""), "");
    // Many short lines: the result is the same as one insert_cr per line feed.
    std::string in, out;
    for (int i = 0; i < 300; ++i) {
        in += "line\n";
        out += "line\r\n";
    }
    EXPECT_EQ(crlf(in.c_str()), out);
}

TEST(TrStream, Compare) {
    tr_stream_c s;
    s.append("Alpha");
    EXPECT_EQ(s.compare("Alpha", true), 0);
    EXPECT_EQ(s.compare("alpha", true), -1);
    EXPECT_EQ(s.compare("ALPHA", false), 0);
    EXPECT_LT(s.compare("alphb", false), 0);
    EXPECT_GT(s.compare("alph", false), 0);
    EXPECT_EQ(s.compare("Alphaz", true), -1);
    EXPECT_EQ(s.compare("\xC3\xA9", true), -1);  // bytes compare unsigned
    EXPECT_EQ(s.compare(nullptr, true), 1);

    tr_stream_c empty;
    EXPECT_EQ(empty.compare(nullptr, true), 0);
    EXPECT_EQ(empty.compare("", false), 0);

    // A stream whose buffer is gone (the defensive case callers guard for).
    tr_stream_c none;
    delete[] none.buffer;
    none.buffer = nullptr;
    EXPECT_EQ(none.compare(nullptr, true), 0);
    EXPECT_EQ(none.compare("", true), 0);
    EXPECT_EQ(none.compare("x", true), -1);
    EXPECT_STREQ(none.c_str(), "");
}

TEST(TrStream, CopyAndAssign) {
    tr_stream_c a;
    a.append("some text that needs growth");
    tr_stream_c b(a);
    EXPECT_STREQ(b.buffer, a.buffer);
    EXPECT_NE(b.buffer, a.buffer);
    tr_stream_c c;
    c.append("old content");
    c = a;
    EXPECT_STREQ(c.buffer, "some text that needs growth");
    EXPECT_EQ(c.length, a.length);
    c = c;
    EXPECT_STREQ(c.buffer, "some text that needs growth");
    a.truncate(0);
    EXPECT_STREQ(b.buffer, "some text that needs growth");
}
