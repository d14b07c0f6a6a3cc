// The black box's keywords: BlackBoxSize, BlackBoxRank and BlackBoxOnError.
// A bad value gets a message and leaves the setting as it was.
#include "config/config_parser.h"
#include "config/line_reader.h"

namespace {

// A whole decimal number of at most 19 digits, nothing else.
bool read_size(const char* text, unsigned long long* value) {
    unsigned long long v = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p, ++digits) {
        if (*p < '0' || *p > '9' || digits >= 19) return false;
        v = v * 10 + static_cast<unsigned>(*p - '0');
    }
    *value = v;
    return digits > 0;
}

}  // namespace

bool config_parser_c::handle_black_box(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages) {
    if (id == KW_BLACK_BOX_SIZE) {
        unsigned long long size = 0;
        if (!reader.next_token(token) || !read_size(token.c_str(), &size) || !reader.at_line_end() ||
            (size != 0 && (size < BLACK_BOX_MIN || size > BLACK_BOX_MAX))) {
            _report_line(reader, messages, "\"\n\t BlackBoxSize takes 0 (no black box) or 1048576 to 4294967296 bytes\n");
            return false;
        }
        black_box_size = size;
        black_box_set |= BLACK_BOX_SIZE;
        return true;
    }
    if (id == KW_BLACK_BOX_ON_ERROR) {
        unsigned events = 0;
        if (!reader.next_uint(events)) {
            _report_line(reader, messages, "\"\n\t no valid number of events for BlackBoxOnError is provided\n");
            return false;
        }
        black_box_on_error = events;
        black_box_set |= BLACK_BOX_ON_ERROR;
        return true;
    }
    // BlackBoxRank: the rank words of DefaultLoggingRank; a list that
    // starts with '+' or '-' changes the current ranks.
    log_rank_s list(nullptr);
    if (reader.at_line_end() || !read_rank_list(list, reader)) {
        _report_line(reader, messages, "\"\n\t BlackBoxRank takes rank names\n");
        return false;
    }
    check_rank_rule(list, reader.current_line());
    black_box_ranks = list.relative ? (black_box_ranks | list.add_ranks) & ~list.remove_ranks : list.add_ranks;
    black_box_set |= BLACK_BOX_RANK;
    return true;
}
