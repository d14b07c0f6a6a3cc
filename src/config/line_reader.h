// tr_m_line_reader_c: walks a NUL-terminated configuration text line by line
// (lines end at CR, LF or CR LF; blank runs of line ends vanish) and scans
// whitespace-separated tokens, words, booleans and numbers in the current
// line. The text is never changed; the current line is copied into a buffer
// of the reader's own, sized once from the whole text.
#ifndef KATRACE_CONFIG_LINE_READER_H
#define KATRACE_CONFIG_LINE_READER_H

class tr_stream_c;

class tr_m_line_reader_c {
public:
    const char* text;                // the whole text, not owned
    unsigned long long position;     // offset in text of the first character not yet read
    char* line;                      // the current line, NUL-terminated; null when the text holds no line
    unsigned long long line_length;  // length of the current line
    unsigned long long cursor;       // offset in line of the next character to scan

    explicit tr_m_line_reader_c(const char* text);
    virtual ~tr_m_line_reader_c();

    // Reads the next line into `line`; false when there is none.
    bool next_line();
    // next_line until a meaningful line (a non-whitespace character that is
    // not '#' comes first) has been read; false at the end of the text.
    bool next_meaningful_line();
    bool is_meaningful_line() const;
    // The current line; "" when there is no line buffer.
    const char* current_line() const;
    // The current line from cursor on; "" when there is no line buffer.
    const char* rest_of_line() const;

    // Each of these first skips whitespace from cursor.
    // Next whitespace-delimited token into out (emptied first); false at the
    // end of the line (out unchanged).
    bool next_token(tr_stream_c& out);
    // The next token equals word ignoring ASCII case: true, cursor behind it;
    // otherwise false with cursor back on the token.
    bool match_word(const char* word);
    // The next token is exactly mix_n::True / mix_n::False: stores it, true;
    // otherwise false with cursor back on the token.
    bool next_boolean(bool& value);
    // sscanf "%u%c" / "%d%c" from cursor; false when no number converts.
    bool next_uint(unsigned& value);
    bool next_int(int& value);
    // True when only whitespace remains; cuts a trailing "^M" from the line first.
    bool at_line_end();
    // The character at cursor after the skip; 0 at the end of the line.
    char peek();
    // Whether a character remains after the skip.
    bool skip_spaces();

    // Without a skip: one character forward; false at the end of the line.
    bool advance();
    // Without a skip: forward to the next whitespace or the end; false when
    // already at the end of the line.
    bool skip_token();

private:
    tr_m_line_reader_c(const tr_m_line_reader_c&) = delete;
    tr_m_line_reader_c& operator=(const tr_m_line_reader_c&) = delete;
    // Moves cursor over whitespace; true when a character remains.
    bool skip_();
    // Skips whitespace and moves cursor past the token behind it, whose
    // offset goes to start; false when the line has no token left.
    bool take_token_(unsigned long long& start);
    // Moves cursor after a sscanf "<number>%c" that converted n items, the
    // second being after; true when a number was read.
    bool scan_number_(int n, char after);
};

#endif
