// Fuzz target of the configuration: arbitrary bytes are parsed as
// configuration text, the configuration is written back as a report, the
// report is parsed into a fresh configuration and reported again, and a few
// rank decisions are taken on the way. Nothing may crash, leak or read or
// write outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_parser.h"
#include "config/line_reader.h"

namespace {

// Names to evaluate, taken from the first two tokens of the text.
void evaluate_some(config_parser_c& c, const std::string& text) {
    tr_m_line_reader_c reader(text.c_str());
    tr_stream_c function_name, file_name;
    if (reader.next_line()) {
        reader.next_token(function_name);
        reader.next_token(file_name);
    }
    c.evaluate_rank(function_name.c_str(), file_name.c_str());
    c.evaluate_rank("Conn::send", "conn.cpp");
    c.evaluate_rank(nullptr, nullptr);
    c.find_module(file_name.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536)
        return 0;
    // The text ends at the first NUL, as a mapped file does.
    std::string text(reinterpret_cast<const char*>(data), size);

    config_parser_c first;
    tr_stream_c messages;
    first.parse_text(text.c_str(), messages);
    evaluate_some(first, text);
    tr_stream_c report;
    config_report(first, report);
    // Report lines end in LF only; configuration tokens hold no line ends.
    if (std::strchr(report.c_str(), '\r'))
        std::abort();

    config_parser_c second;
    tr_stream_c messages2;
    second.parse_text(report.c_str(), messages2);
    evaluate_some(second, text);
    tr_stream_c report2;
    config_report(second, report2);
    return 0;
}
