// The line reader: line ends, tokens, words, booleans and numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/line_reader.h"
#include "support/tr_stream.h"

namespace {

std::vector<std::string> lines_of(const char* text)
{
    tr_m_line_reader_c r(text);
    std::vector<std::string> out;
    while (r.next_line())
        out.push_back(r.current_line());
    return out;
}

typedef std::vector<std::string> lines_t;

} // namespace

TEST(LineReader, LineEnds)
{
    EXPECT_EQ(lines_of(nullptr), lines_t{});
    EXPECT_EQ(lines_of(""), lines_t{});
    EXPECT_EQ(lines_of("\r\n\r\r\n\n"), lines_t{});
    EXPECT_EQ(lines_of("a\r\n\r\nb\n"), (lines_t{"a", "b"}));
    EXPECT_EQ(lines_of("a\rb"), (lines_t{"a", "b"}));
    EXPECT_EQ(lines_of("a\r\r"), (lines_t{"a"}));
    EXPECT_EQ(lines_of("a\nb\r\nc"), (lines_t{"a", "b", "c"}));
    EXPECT_EQ(lines_of("\n\nfirst line\rsecond much longer line\n  \nx"),
              (lines_t{"first line", "second much longer line", "  ", "x"}));
    // a long CR-only text followed by a short LF line: the buffer holds every line
    std::string longest(5000, 'x');
    EXPECT_EQ(lines_of(("ab\r" + longest + "\rcd\nef").c_str()), (lines_t{"ab", longest, "cd", "ef"}));

    tr_m_line_reader_c none("\r\n");
    EXPECT_EQ(none.line, nullptr);
    EXPECT_STREQ(none.current_line(), "");
    EXPECT_FALSE(none.next_meaningful_line());
    tr_stream_c t;
    EXPECT_FALSE(none.next_token(t));
    EXPECT_TRUE(none.at_line_end());
}

TEST(LineReader, MeaningfulLines)
{
    tr_m_line_reader_c r("  # comment\n \t \nKey value # not a comment\n#x\n");
    ASSERT_TRUE(r.next_meaningful_line());
    EXPECT_STREQ(r.current_line(), "Key value # not a comment");
    EXPECT_FALSE(r.next_meaningful_line());
}

TEST(LineReader, TokensAndWords)
{
    tr_m_line_reader_c r("Verbose  On\nVerbose On\n");
    tr_stream_c t;
    ASSERT_TRUE(r.next_line());
    ASSERT_TRUE(r.next_token(t));
    EXPECT_STREQ(t.c_str(), "Verbose");
    EXPECT_EQ(r.cursor, 7u);
    EXPECT_TRUE(r.match_word("on"));
    EXPECT_EQ(r.cursor, r.line_length);
    EXPECT_FALSE(r.next_token(t));
    EXPECT_STREQ(t.c_str(), "Verbose");   // unchanged at the end of the line

    ASSERT_TRUE(r.next_line());
    r.next_token(t);
    EXPECT_FALSE(r.match_word("Off"));
    EXPECT_EQ(r.peek(), 'O');
    EXPECT_EQ(r.cursor, 8u);
    EXPECT_FALSE(r.match_word("O"));      // a prefix is not the word
    EXPECT_STREQ(r.current_line(), "Verbose On");   // the line stays whole
}

TEST(LineReader, Numbers)
{
    // (line, read?, value, cursor after the read)
    struct { const char* line; bool ok; unsigned value; unsigned long long cursor; } cases[] = {
        {"123 xyz", true, 123, 3}, {" 123", true, 123, 4}, {"abc", false, 99, 0},
        {"-1", true, 4294967295u, 2}, {"5M", true, 5, 1}, {"7-", true, 7, 1},
    };
    for (const auto& k : cases) {
        tr_m_line_reader_c r(k.line);
        ASSERT_TRUE(r.next_line());
        unsigned u = 99;
        EXPECT_EQ(r.next_uint(u), k.ok) << k.line;
        EXPECT_EQ(u, k.value) << k.line;
        EXPECT_EQ(r.cursor, k.cursor) << k.line;
    }
    tr_m_line_reader_c r("K 7 true\n-12,\n");
    tr_stream_c t;
    unsigned u = 0;
    bool b = false;
    ASSERT_TRUE(r.next_line());
    r.next_token(t);
    EXPECT_TRUE(r.next_uint(u));
    EXPECT_TRUE(r.next_boolean(b));
    EXPECT_TRUE(b);
    int i = 0;
    ASSERT_TRUE(r.next_line());
    EXPECT_TRUE(r.next_int(i));
    EXPECT_EQ(i, -12);
    EXPECT_EQ(r.peek(), ',');
}

TEST(LineReader, BooleansAndLineEndMarker)
{
    tr_m_line_reader_c r("true TRUE false\nKey ^M\nab^M\n");
    bool b = false;
    ASSERT_TRUE(r.next_line());
    EXPECT_TRUE(r.next_boolean(b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(r.next_boolean(b));      // byte for byte only
    EXPECT_EQ(r.peek(), 'T');
    r.skip_token();
    EXPECT_TRUE(r.next_boolean(b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(r.at_line_end());

    ASSERT_TRUE(r.next_line());
    tr_stream_c t;
    r.next_token(t);
    EXPECT_TRUE(r.at_line_end());
    EXPECT_EQ(r.line_length, 4u);
    EXPECT_STREQ(r.current_line(), "Key ");

    ASSERT_TRUE(r.next_line());
    EXPECT_FALSE(r.at_line_end());
    EXPECT_STREQ(r.current_line(), "ab");
}
