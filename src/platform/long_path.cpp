// Extended-length Windows paths as plain text, compiled on every build so
// that the rules are tested everywhere.
#include <cstring>

#include "platform/platform.h"

namespace {

const char LONG_PREFIX[] = "\\\\?\\";           // \\?\     (4 characters)
const char LONG_UNC_PREFIX[] = "\\\\?\\UNC\\";  // \\?\UNC\ (8 characters)

bool is_sep(char c) { return c == '/' || c == '\\'; }

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Whether a component between separators, starting at c, is "." or "..".
bool is_dot_component(const char* c) {
    if (c[0] != '.') return false;
    const char next = c[1] == '.' ? c[2] : c[1];
    return next == 0 || is_sep(next);
}

// Whether any component of path is "." or "..".
bool has_dot_component(const char* path) {
    for (const char* p = path; *p; ++p)
        if ((p == path || is_sep(p[-1])) && is_dot_component(p)) return true;
    return false;
}

}  // namespace

bool plat_long_path(const char* path, char* target, size_t size) {
    if (!target || size == 0) return false;
    target[0] = 0;
    if (!path || !*path) return false;

    const char* prefix = "";
    const char* rest = path;
    if (std::strncmp(path, LONG_PREFIX, 4) == 0) {
        rest = path + 4;
        prefix = LONG_PREFIX;
    } else if (!has_dot_component(path)) {
        if (is_letter(path[0]) && path[1] == ':' && is_sep(path[2])) {
            prefix = LONG_PREFIX;
        } else if (is_sep(path[0]) && is_sep(path[1]) && path[2] && !is_sep(path[2])) {
            prefix = LONG_UNC_PREFIX;
            rest = path + 2;
        }
    }

    size_t t = std::strlen(prefix);
    if (t >= size) return false;
    std::memcpy(target, prefix, t);
    // A network path without the prefix keeps its two leading separators.
    if (!*prefix && is_sep(rest[0]) && is_sep(rest[1])) {
        if (t + 2 >= size) return false;
        target[t++] = '\\';
        target[t++] = '\\';
        rest += 2;
    }
    for (const char* s = rest; *s; ++s) {
        const bool sep = is_sep(*s);
        if (sep && t > 0 && target[t - 1] == '\\' && s != rest) continue;
        if (t + 1 >= size) {
            target[0] = 0;
            return false;
        }
        target[t++] = sep ? '\\' : *s;
    }
    target[t] = 0;
    return true;
}
