// tr_m_line_reader_c: lines and tokens of a configuration text.
#include "config/line_reader.h"

#include <cstdio>
#include <cstring>

#include "config/rank_tables.h"
#include "kor/mix.h"
#include "support/tr_stream.h"

namespace {

bool is_line_end(char c) {
    return c == '\r' || c == '\n';
}

// The runtime's isspace in the "C" locale.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Length of the longest line the text can hold, measured as the distance
// from a line's first character to the next LF (or, when the rest of the
// text holds no LF, the next CR), or to the end of the text.
unsigned long long longest_line(const char* s) {
    unsigned long long longest = 0;
    bool no_lf = false;  // once no LF is left, none will be found further on
    while (*s) {
        if (is_line_end(*s)) {
            ++s;
            continue;
        }
        const char* stop = no_lf ? nullptr : std::strchr(s, '\n');
        if (!stop) {
            no_lf = true;
            stop = std::strchr(s, '\r');
        }
        unsigned long long len = stop ? static_cast<unsigned long long>(stop - s) : std::strlen(s);
        if (len > longest)
            longest = len;
        if (!stop)
            break;
        s = stop;
    }
    return longest;
}

}  // namespace

tr_m_line_reader_c::tr_m_line_reader_c(const char* text_)
    : text(text_), position(0), line(nullptr), line_length(0), cursor(0) {
    if (!text || !*text)
        return;
    const char* s = text;
    while (is_line_end(*s))
        ++s;
    if (!*s)
        return;
    unsigned long long longest = longest_line(s);
    if (longest == 0)
        return;
    line = new char[longest + 16];
    line[0] = 0;
}

tr_m_line_reader_c::~tr_m_line_reader_c() {
    delete[] line;
}

bool tr_m_line_reader_c::next_line() {
    if (!line || !text[position])
        return false;
    while (is_line_end(text[position]))
        ++position;
    if (!text[position])
        return false;
    const char* start = text + position;
    size_t n = std::strcspn(start, "\r\n");
    std::memcpy(line, start, n);
    line[n] = 0;
    line_length = n;
    cursor = 0;
    position += n;
    while (is_line_end(text[position]))
        ++position;
    return true;
}

bool tr_m_line_reader_c::is_meaningful_line() const {
    if (!line)
        return false;
    for (unsigned long long i = 0; i < line_length; ++i) {
        if (!is_space(line[i]))
            return line[i] != '#';
    }
    return false;
}

bool tr_m_line_reader_c::next_meaningful_line() {
    while (next_line()) {
        if (is_meaningful_line())
            return true;
    }
    return false;
}

const char* tr_m_line_reader_c::current_line() const {
    return line ? line : "";
}

const char* tr_m_line_reader_c::rest_of_line() const {
    return line ? line + cursor : "";
}

bool tr_m_line_reader_c::skip_() {
    while (cursor < line_length && is_space(line[cursor]))
        ++cursor;
    return cursor < line_length;
}

bool tr_m_line_reader_c::take_token_(unsigned long long& start) {
    if (!skip_())
        return false;
    start = cursor;
    return skip_token();
}

bool tr_m_line_reader_c::next_token(tr_stream_c& out) {
    unsigned long long start = 0;
    if (!take_token_(start))
        return false;
    out.truncate(0);
    out.append_n(line + start, cursor - start);
    return true;
}

bool tr_m_line_reader_c::match_word(const char* word) {
    unsigned long long start = 0;
    if (!take_token_(start))
        return false;
    // Compare the token with the word, the line's character behind the token
    // standing in as the token's terminator for the moment.
    char saved = line[cursor];
    line[cursor] = 0;
    bool equal = word && text_stricmp(line + start, word) == 0;
    line[cursor] = saved;
    if (!equal)
        cursor = start;
    return equal;
}

bool tr_m_line_reader_c::next_boolean(bool& value) {
    unsigned long long start = 0;
    if (!take_token_(start))
        return false;
    char saved = line[cursor];
    line[cursor] = 0;
    const char* token = line + start;
    bool found = true;
    if (mix_n::True && std::strcmp(token, mix_n::True) == 0)
        value = true;
    else if (mix_n::False && std::strcmp(token, mix_n::False) == 0)
        value = false;
    else
        found = false;
    line[cursor] = saved;
    if (!found)
        cursor = start;
    return found;
}

// Numbers are read the way sscanf's "<conversion>%c" does: after the number
// the cursor moves to the first occurrence in the line of the character that
// followed it, or to the line end when nothing followed. The formats are
// literals at each call, so that the compiler checks them; scan_number_
// moves the cursor by what sscanf converted (n) and the character after.
bool tr_m_line_reader_c::scan_number_(int n, char after) {
    if (n == 2) {
        const char* at = std::strchr(line + cursor, after);
        cursor = at ? static_cast<unsigned long long>(at - line) : line_length;
        return true;
    }
    if (n == 1) {
        cursor = line_length;
        return true;
    }
    return false;
}

bool tr_m_line_reader_c::next_uint(unsigned& value) {
    if (!skip_())
        return false;
    char after = 0;
    const int n = std::sscanf(line + cursor, "%u%c", &value, &after);
    return scan_number_(n, after);
}

bool tr_m_line_reader_c::next_int(int& value) {
    if (!skip_())
        return false;
    char after = 0;
    const int n = std::sscanf(line + cursor, "%d%c", &value, &after);
    return scan_number_(n, after);
}

bool tr_m_line_reader_c::at_line_end() {
    if (!skip_())
        return true;
    if (line_length >= 2 && line[line_length - 2] == '^' && line[line_length - 1] == 'M') {
        line_length -= 2;
        line[line_length] = 0;
        if (cursor > line_length)
            cursor = line_length;
    }
    return cursor == line_length;
}

char tr_m_line_reader_c::peek() {
    return skip_() ? line[cursor] : 0;
}

bool tr_m_line_reader_c::skip_spaces() {
    return skip_();
}

bool tr_m_line_reader_c::advance() {
    if (cursor < line_length) {
        ++cursor;
        return true;
    }
    return false;
}

bool tr_m_line_reader_c::skip_token() {
    if (cursor >= line_length)
        return false;
    while (cursor < line_length && !is_space(line[cursor]))
        ++cursor;
    return true;
}
