#include <gtest/gtest.h>

#include <string>

#include "support/terminal_text.h"
#include "support/tr_stream.h"

namespace {
// The text by its length, which must end at the NUL.
std::string text(const tr_stream_c& s) { return s.buffer[s.length] ? "(no NUL)" : std::string(s.buffer, s.length); }
}  // namespace

TEST(TrStream, TextCharactersNumbersAndClearing) {
    tr_stream_c s, other, own, n;
    s.append(static_cast<const char*>(nullptr)).append("").append('\0').append_n(nullptr, 3).append_n("zz", 0);
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.capacity, 5u);
    char* before = s.append("abc").buffer;
    s.append('\x01');  // clears in place
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.buffer, before);
    EXPECT_EQ(s.buffer[0], '\0');
    s.append("V ").append(1).append('.').append(2u).append(' ').append(other.append("xy")).append(tr_stream_c());
    s.append_n("hello world", 5).append(s);  // self-append
    EXPECT_STREQ(s.buffer, "V 1.2 xyhelloV 1.2 xyhello");
    own.append("0123").append(own.c_str() + 1);  // a piece of its own text, while the buffer has to move
    EXPECT_STREQ(own.buffer, "0123123");
    n.append(static_cast<short>(-32768)).append(' ').append(static_cast<unsigned short>(65535)).append(' ');
    n.append(-2147483647 - 1).append(' ').append(4294967295u).append(' ').append(-5L).append(' ').append(7UL).append(' ');
    n.append(-9223372036854775807LL - 1).append(' ').append(18446744073709551615ULL).append(true).append(false);
    EXPECT_STREQ(n.buffer, "-32768 65535 -2147483648 4294967295 -5 7 -9223372036854775808 18446744073709551615truefalse");
}

TEST(TrStream, EditingInPlace) {
    tr_stream_c s;
    s.append("abcdef");
    s.truncate(10);  // beyond the end: nothing; so is set_char at or beyond it
    s.set_char(6, 'x'), s.set_char(100, 'x'), s.set_char(0, 'A');
    EXPECT_STREQ(s.buffer, "Abcdef");
    s.set_char(4, '\0');  // a NUL shortens the text
    EXPECT_EQ(text(s), "Abcd");
    s.truncate(2), s.insert_cr(3), s.insert_cr(2), s.insert_cr(1), s.insert_cr(0);  // 3: beyond the end
    EXPECT_EQ(text(s), "\rA\rb\r");
    std::string in, out;  // many short lines: one CR per line feed
    for (int i = 0; i < 300; ++i) in += "line\n", out += "line\r\n";
    const std::string crlf[][2] = {{"a\nb\n", "a\r\nb\r\n"}, {"a\r\nb", "a\r\nb"}, {"\n", "\r\n"}, {"\r\n\n", "\r\n\r\n"}, {"\n\n\n", "\r\n\r\n\r\n"}, {"no line feed", "no line feed"}, {"", ""}, {in, out}};
    for (const auto& c : crlf) {
        tr_stream_c t;
        t.append(c[0].c_str()).to_crlf();
        EXPECT_EQ(text(t), c[1]);
    }
}

TEST(TrStream, CompareCopyAndAssign) {
    tr_stream_c s, empty;
    s.append("Alpha");
    const struct { const tr_stream_c* stream; const char* other; bool case_sensitive; int result; } cases[] = {
        {&s, "Alpha", true, 0}, {&s, "alpha", true, -1}, {&s, "ALPHA", false, 0}, {&s, "alphb", false, -1}, {&s, "alph", false, 1}, {&s, "Alphaz", true, -1}, {&s, "\xC3\xA9", true, -1},  // bytes compare unsigned
        {&s, nullptr, true, 1}, {&empty, nullptr, true, 0}, {&empty, "", false, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.stream->compare(c.other, c.case_sensitive), c.result) << c.other;
    tr_stream_c b(s.append(" text that needs growth")), c;
    EXPECT_NE(b.buffer, s.buffer);
    tr_stream_c& same = c;  // self-assignment through another name
    c.append("old content"), c = s, c = same;
    s.truncate(0);
    EXPECT_EQ(text(b), "Alpha text that needs growth");
    EXPECT_EQ(text(c), text(b));
}

// A long text at least doubles, so building one by many appends copies it
// a logarithmic number of times and keeps every byte.
TEST(TrStream, GrowthDoubles) {
    tr_stream_c s;
    std::string expected;
    unsigned moves = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string piece = "line " + std::to_string(i) + " of a long error text\n";
        const char* before = s.buffer;
        s.append(piece.c_str());
        expected += piece;
        moves += s.buffer != before;
    }
    EXPECT_EQ(text(s), expected);
    EXPECT_LT(moves, 400u);  // the request-sized steps alone would move it about 16,000 times
    EXPECT_GE(s.capacity, s.length + 1);
}

TEST(TerminalText, ControlCharactersBecomeVisibleEscapes) {
    struct { std::string in, out; } cases[] = {
        {"plain text\r\n", "plain text\n"},                    // CR LF becomes LF
        {"a\tb\rc\n", "a\tb\rc\n"},                            // TAB, lone CR, LF stay
        {"\x1b]0;owned\x07 done", "\\x1b]0;owned\\x07 done"},  // a title sequence cannot retitle
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},                      // erase screen, DEL
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"csi \u009b31m, \xc3\xa9 stays", "csi \\u009b31m, \xc3\xa9 stays"},  // C1 in UTF-8
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(terminal_text(c.in.data(), c.in.size(), out, sizeof out), c.out.size()) << c.out;
        EXPECT_EQ(std::string(out), c.out);
    }
    // A short buffer gets a cut, terminated text and the full length.
    char small[4];
    EXPECT_EQ(terminal_text("\033abc", 4, small, sizeof small), 7u);
    EXPECT_EQ(std::string(small), "\\x1");
}
