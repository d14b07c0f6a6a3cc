// Helpers of the configuration tests: parsing a text, and rules as texts.
#ifndef KATR_TEST_CONFIG_TEXT_H
#define KATR_TEST_CONFIG_TEXT_H

#include <gtest/gtest.h>

#include <string>

#include "config/config_parser.h"
#include "config/line_reader.h"

// Parses text into c; returns the number of counted errors, the messages in
// msg and what went to standard error (the warnings) in warnings.
inline unsigned parse(config_parser_c& c, const char* text, std::string& msg, std::string* warnings = nullptr) {
    tr_stream_c messages;
    tr_m_line_reader_c reader(text);
    testing::internal::CaptureStderr();
    const unsigned n = c.parse_lines(reader, messages);
    const std::string err = testing::internal::GetCapturedStderr();
    if (warnings)
        *warnings = err;
    msg = messages.c_str();
    return n;
}

// A rule as "name:r/add/remove " (relative) or "name:a/add/remove "; the rules of a list in their order.
inline std::string text_of(const config_parser_c::log_rank_s& r) {
    return std::string(r.name ? r.name : "") + ":" + (r.relative ? "r/" : "a/") + std::to_string(r.add_ranks) + "/" +
           std::to_string(r.remove_ranks) + " ";
}
inline std::string rules_of(config_parser_c::log_rank_list_c& list) {
    std::string out;
    for (void* e = list.first(); e; e = list.next())
        out += text_of(*config_parser_c::log_rank_list_c::rule_of(e));
    return out;
}

#endif
