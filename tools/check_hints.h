// The checker's guesses of what a configuration line meant: shown as notes
// after a message of the library, whose own texts stay as they are.
#ifndef KATRACE_TOOLS_CHECK_HINTS_H
#define KATRACE_TOOLS_CHECK_HINTS_H

#include <string>
#include <vector>

// The notes for one configuration line (no line end) the library had a
// message for: a keyword it does not know that is within two edits of a
// known one or equal to one but for case; rank words that are not rank
// names but equal to one but for case or within one edit of one. Each note
// is one text such as: did you mean "AditionalRanks"?
std::vector<std::string> check_hints(const std::string& line);

#endif
