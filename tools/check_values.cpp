// Value checks of katr_check. The library reads numbers with "%u" and takes
// the digits in front (10MB is 10, 1e6 is 1, -1 is 4294967295) and reads a
// fixed number of tokens for most keywords, ignoring the rest of the line
// (a directory name with a space in it loses everything after the space).
// Both are accepted without a message; the checker points them out.
#include "check_values.h"

#include <cctype>
#include <cstring>

#include "config/line_reader.h"

namespace {


// What the library's number reader makes of a token; false when it reads none.
bool library_number(const std::string& token, unsigned& value) {
    tr_m_line_reader_c reader(token.c_str());
    return reader.next_line() && reader.next_uint(value);
}

// True when the token is a plain decimal number that fits 32 bits.
bool plain_number(const std::string& token) {
    if (token.empty() || token.size() > 10) return false;
    for (char c : token)
        if (c < '0' || c > '9') return false;
    return std::stoull(token) <= 0xFFFFFFFFull;
}

// Keywords whose value is a number, and how many tokens every keyword with a
// fixed value reads (after the keyword).
bool is_number_keyword(const std::string& k) {
    return k == "LogFileSize" || k == "LogNumberOfFilesToKeep" || k == "TraceNumberOfFilesToKeep" ||
           k == "ThreadBySysID" || k == "ThreadByApplID";
}

int tokens_read(const std::string& k) {
    static const char* const one[] = {"LogDirectoryName", "AddPIDtoLogFilename", "LogFileSize",
                                      "LogNumberOfFilesToKeep", "TraceNumberOfFilesToKeep", "PrintFile",
                                      "PrintFunction", "PrintLine", "PrintTime", "KeepStack", "DoIndentation"};
    for (const char* name : one)
        if (k == name) return 1;
    if (k == "ThreadByName" || k == "ThreadBySysID" || k == "ThreadByApplID") return 2;
    if (k == "ThreadResume" || k == "ThreadResumeAll") return 0;
    return -1;  // reads the whole line, or ignores it (RefreshTime)
}

}  // namespace

std::vector<std::string> check_values(const std::string& line) {
    std::vector<std::string> warnings;
    const std::vector<std::string> tokens = split_tokens(line);
    if (tokens.empty() || tokens[0][0] == '#') return warnings;
    const std::string& keyword = tokens[0];

    unsigned value = 0;
    if (is_number_keyword(keyword) && tokens.size() > 1 && !plain_number(tokens[1]) &&
        library_number(tokens[1], value)) {
        warnings.push_back("Warning! \"" + tokens[1] + "\" is read as " + std::to_string(value) + ": " + keyword +
                           " takes a plain decimal number up to 4294967295" +
                           (keyword == "LogFileSize" ? " (bytes, without a unit)" : ""));
    }
    const int n = tokens_read(keyword);
    if (n >= 0 && tokens.size() > static_cast<size_t>(n) + 1) {
        std::string rest;
        for (size_t i = static_cast<size_t>(n) + 1; i < tokens.size(); ++i) rest += (rest.empty() ? "" : " ") + tokens[i];
        warnings.push_back("Warning! \"" + rest + "\" is ignored: " + keyword + " reads " +
                           (n == 0 ? std::string("no value") : n == 1 ? "one value"
                                                                      : "two values") +
                           " and values cannot contain spaces");
    }
    return warnings;
}

std::vector<std::string> split_tokens(const std::string& line) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
    return tokens;
}
