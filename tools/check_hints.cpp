// Guesses for katr_check's notes: the nearest known keyword or rank name by
// edit distance (letters compared without regard to case), with a match
// that differs only in case preferred.
#include "check_hints.h"
#include "check_values.h"

#include <algorithm>
#include <cctype>

#include "config/rank_tables.h"

namespace {


bool same_but_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Levenshtein distance ignoring case, stopping early once every entry of a
// row is past limit.
size_t edits(const std::string& a, const std::string& b, size_t limit) {
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0], best = row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
            best = std::min(best, row[j]);
        }
        if (best > limit) return limit + 1;
    }
    return row[b.size()];
}

// The known name the word most likely meant, or "" when none is close.
template <class Names>
std::string nearest(const std::string& word, const Names& names, size_t limit) {
    std::string found;
    size_t found_edits = limit + 1;
    for (const std::string& name : names) {
        if (name == word) return "";
        if (same_but_case(name, word)) return name;
        const size_t d = edits(word, name, limit);
        if (d < found_edits) found = name, found_edits = d;
    }
    return found;
}

std::vector<std::string> keywords() {
    std::vector<std::string> names;
    for (const keyword_s& row : keyword_table)
        if (row.keyword[0]) names.push_back(row.keyword);
    return names;
}

std::vector<std::string> rank_names() {
    std::vector<std::string> names;
    for (const rank_name_s& row : rank_name_table) names.push_back(row.name);
    return names;
}

// Keywords whose values after the names are rank words, with how many name
// tokens come first.
int rank_words_from(const std::string& keyword) {
    if (keyword == "DefaultLoggingRank" || keyword == "DefaultDebugLevel") return 1;
    if (keyword == "ModuleRank" || keyword == "File" || keyword == "Class" || keyword == "Function") return 2;
    return -1;
}

std::string did_you_mean(const std::string& name) { return "did you mean \"" + name + "\"?"; }

}  // namespace

std::vector<std::string> check_hints(const std::string& line) {
    std::vector<std::string> notes;
    const std::vector<std::string> tokens = split_tokens(line);
    if (tokens.empty() || tokens[0][0] == '#') return notes;
    if (keyword_id(tokens[0].c_str()) == KW_NONE) {
        const std::string meant = nearest(tokens[0], keywords(), 2);
        if (!meant.empty()) notes.push_back(did_you_mean(meant));
        return notes;
    }
    const int first = rank_words_from(tokens[0]);
    if (first < 0) return notes;
    const std::vector<std::string> ranks = rank_names();
    for (size_t i = static_cast<size_t>(first); i < tokens.size(); ++i) {
        std::string word = tokens[i];
        if (word[0] == '+' || word[0] == '-') word.erase(0, 1);
        if (word.empty() || find_rank_mask(word.c_str()) != 0) continue;
        const std::string meant = nearest(word, ranks, 1);
        if (!meant.empty()) notes.push_back(did_you_mean(meant));
    }
    return notes;
}
