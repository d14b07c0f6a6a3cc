// The qualified function name of a trace site, cut out of the signature the
// compiler gives (__PRETTY_FUNCTION__ or __FUNCSIG__): return type, calling
// convention, parameters and qualifiers go, "ns::Class::method" stays, so
// that class and function rules apply. Called once per site by the host
// macros, when the site is first passed.
#include <cstring>

#include "katrace.h"

namespace {

// Whether the word "operator" stands at sig + i.
bool operator_at(const char* sig, size_t i) { return std::strncmp(sig + i, "operator", 8) == 0; }

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The characters an operator's symbol is made of.
bool is_operator_char(char c) { return c != 0 && std::strchr("<>=-+*/%^&|~![],", c) != nullptr; }

// The brackets that may close or open a name before its parameter list.
bool is_tail_char(char c) { return c != 0 && std::strchr("<>=()-", c) != nullptr; }

// Index of the parameter list's '(': the first one outside angle brackets
// that is not part of an operator's name or of "(anonymous namespace)";
// n when there is none.
size_t parameter_list(const char* sig, size_t n) {
    size_t depth = 0;
    for (size_t i = 0; i < n; ++i) {
        const char c = sig[i];
        if (i + 8 <= n && operator_at(sig, i) && (i == 0 || sig[i - 1] == ':' || sig[i - 1] == ' ') &&
            !is_name_char(sig[i + 8])) {
            // operator(), operator<, operator<<= ...: skip the symbol itself.
            i += 8;
            while (i < n && sig[i] == ' ') ++i;
            if (i + 1 < n && sig[i] == '(' && sig[i + 1] == ')')
                ++i;
            else
                while (i + 1 < n && sig[i + 1] != '(' && sig[i] != '(' && is_operator_char(sig[i])) ++i;
            continue;
        }
        if (c == '<') {
            ++depth;
        } else if (c == '>' && depth > 0) {
            --depth;
        } else if (c == '(' && depth == 0) {
            if (std::strncmp(sig + i + 1, "anon", 4) == 0) {
                while (i < n && sig[i] != ')') ++i;
                continue;
            }
            return i;
        }
    }
    return n;
}

// Index where the name begins: after the last blank outside brackets before
// the parameter list, unless that blank follows the word "operator"
// (conversion operators such as "operator bool").
size_t name_start(const char* sig, size_t open) {
    size_t from = open;
    while (from > 0 && is_tail_char(sig[from - 1])) --from;
    if (!(from >= 8 && operator_at(sig, from - 8))) from = open;
    size_t depth = 0;
    for (size_t i = from; i > 0; --i) {
        const char c = sig[i - 1];
        if (c == '>' || c == ')') {
            ++depth;
        } else if ((c == '<' || c == '(') && depth > 0) {
            --depth;
        } else if (c == ' ' && depth == 0) {
            if (i >= 9 && operator_at(sig, i - 9)) continue;
            return i;
        }
    }
    return 0;
}

}  // namespace

extern "C" KATR_API const char* katr_function_name(const char* sig, char* buf, size_t size) {
    if (!buf || size == 0) return "";
    buf[0] = 0;
    if (!sig) return buf;
    const size_t n = std::strlen(sig);
    const size_t open = parameter_list(sig, n);
    size_t start = name_start(sig, open);
    if (sig[start] == '*' || sig[start] == '&') ++start;
    size_t len = open > start ? open - start : 0;
    if (len > size - 1) len = size - 1;
    std::memcpy(buf, sig + start, len);
    buf[len] = 0;
    return buf;
}
