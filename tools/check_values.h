// The checker's own warnings: values the library accepts but reads
// differently from what they say ("LogFileSize 10MB" is read as 10 bytes),
// and tokens it ignores after a keyword's value.
#ifndef KATRACE_TOOLS_CHECK_VALUES_H
#define KATRACE_TOOLS_CHECK_VALUES_H

#include <string>
#include <vector>

// The warnings for one configuration line (no line end) that the library
// parsed without a message; each is one text without a line end.
std::vector<std::string> check_values(const std::string& line);

// The blank-separated tokens of a configuration line.
std::vector<std::string> split_tokens(const std::string& line);

#endif
