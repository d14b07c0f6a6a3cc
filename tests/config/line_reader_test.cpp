// The line reader: tokens, words, booleans and numbers.
#include <gtest/gtest.h>


#include "config/line_reader.h"
#include "support/tr_stream.h"

TEST(LineReader, TokensWordsNumbersAndBooleans) {
    struct {
        const char* line;
        bool ok;
        unsigned value;
        unsigned long long cursor;
    } cases[] = {
        // cursor after the read
        {"123 xyz", true, 123, 3},
        {" 123", true, 123, 4},
        {"abc", false, 99, 0},
        {"-1", true, 4294967295u, 2},
        {"5M", true, 5, 1},
        {"7-", true, 7, 1},
    };
    for (const auto& k : cases) {
        tr_m_line_reader_c r(k.line);
        ASSERT_TRUE(r.next_line());
        unsigned u = 99;
        EXPECT_EQ(r.next_uint(u), k.ok) << k.line;
        EXPECT_EQ(u, k.value) << k.line;
        EXPECT_EQ(r.cursor, k.cursor) << k.line;
    }
    tr_m_line_reader_c r("Verbose  On\n-12,\ntrue TRUE false\nKey ^M\nab^M\n");
    tr_stream_c t;
    ASSERT_TRUE(r.next_line());
    ASSERT_TRUE(r.next_token(t));
    EXPECT_STREQ(t.c_str(), "Verbose");
    EXPECT_FALSE(r.match_word("O"));  // a prefix is not the word
    EXPECT_TRUE(r.match_word("on"));
    EXPECT_TRUE(r.at_line_end());
    EXPECT_FALSE(r.next_token(t));
    EXPECT_STREQ(t.c_str(), "Verbose");             // unchanged at the end of the line
    EXPECT_STREQ(r.current_line(), "Verbose  On");  // the line stays whole
    int i = 0;
    bool b = false;
    ASSERT_TRUE(r.next_line());
    EXPECT_TRUE(r.next_int(i));
    EXPECT_EQ(i, -12);
    EXPECT_EQ(r.peek(), ',');
    ASSERT_TRUE(r.next_line());
    EXPECT_TRUE(r.next_boolean(b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(r.next_boolean(b));  // byte for byte only
    r.skip_token();
    EXPECT_TRUE(r.next_boolean(b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(r.at_line_end());
    ASSERT_TRUE(r.next_line());
    ASSERT_TRUE(r.next_token(t));
    EXPECT_TRUE(r.at_line_end());
    EXPECT_EQ(r.line_length, 4u);  // "^M" at the end is cut
    ASSERT_TRUE(r.next_line());
    EXPECT_FALSE(r.at_line_end());
    EXPECT_STREQ(r.current_line(), "ab");
}
