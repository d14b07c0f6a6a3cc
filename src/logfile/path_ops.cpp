// Path texts and file-system operations of the log files.
#include "logfile/path_ops.h"

#include <cstring>

#include "config/config_parser.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "platform/platform.h"

namespace {

const char LONG_PREFIX[] = "\\\\?\\";  // \\?\  (4 characters)

bool is_sep(char c) { return c == '/' || c == '\\'; }

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool equal_no_case(const char* a, const char* b) { return mix_n::stricmp_ascii(a, b) == 0; }

// Length of text when it is shorter than limit, else limit.
size_t bounded_length(const char* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n]) ++n;
    return n;
}

bool is_dot_component(const char* c) { return c[0] == '.' && c[1] == 0; }
bool is_dotdot_component(const char* c) { return c[0] == '.' && c[1] == '.' && c[2] == 0; }

}  // namespace

bool normalize_path(const char* source, char* target) {
    if (!target) return false;
    target[0] = 0;
    if (!source) return false;
    size_t n = bounded_length(source, LOG_PATH_SIZE);
    // The canonical form is never longer than its source (a '/' added behind
    // a bare drive replaces at least one removed character), so a source that
    // fits fits as result.
    if (n >= LOG_PATH_SIZE) return false;

    const char* s = source;
    size_t t = 0;
    if (n > 4 && std::strncmp(s, LONG_PREFIX, 4) == 0) {
        s += 4;
        // "\\?\UNC\server\share" is the long form of "\\server\share".
        if (std::strncmp(s, "UNC", 3) == 0 && is_sep(s[3])) {
            target[t++] = '\\';
            s += 3;
            target[t++] = '\\';
            ++s;
        }
    }
    if (t == 0) {
        if (n > 2) {
            if (s[0] == '\\' && s[1] == '\\') {
                target[t++] = *s++;
                target[t++] = *s++;
            }
        } else if (n == 2 && s[1] == ':') {
            target[0] = s[0];
            target[1] = s[1];
            target[2] = 0;
            return true;
        }
    }

    bool needs_dots = false;
    for (; *s; ++s) {
        char c = *s;
        if (is_sep(c)) {
            if (t > 0 && target[t - 1] == '/') continue;
            target[t++] = '/';
            continue;
        }
        if (c == '.') {
            if (t == 0) {
                needs_dots = true;
            } else if (target[t - 1] == '/') {
                char after = s[1];
                if (after == '.' || is_sep(after) || after == 0) needs_dots = true;
            }
        }
        target[t++] = c;
    }
    target[t] = 0;

    if (t < 2) return true;
    if (t == 3 && target[1] == ':') return true;
    if (target[t - 1] == '/') target[--t] = 0;
    if (needs_dots) resolve_dots(target);
    return true;
}

void resolve_dots(char* path) {
    if (!path) return;
    size_t n = bounded_length(path, LOG_PATH_SIZE);
    if (n >= LOG_PATH_SIZE) return;

    char work[LOG_PATH_SIZE];
    std::memcpy(work, path, n + 1);
    const bool leading_sep = work[0] == '/';

    // Components as offsets into work, each cut off by a NUL.
    static const size_t MAX_PARTS = LOG_PATH_SIZE / 2 + 1;
    unsigned short parts[MAX_PARTS];
    size_t count = 0;
    for (size_t i = 0; i < n;) {
        while (i < n && work[i] == '/') work[i++] = 0;
        if (i >= n) break;
        parts[count++] = static_cast<unsigned short>(i);
        while (i < n && work[i] != '/') ++i;
    }

    // Components that ".." never removes: a drive ("C:") and the server and
    // share of a network path ("\\server", "share"). A ".." with nothing
    // removable before it is dropped, as "/.." is "/": the result never
    // holds "." or ".." components, also where the share would stand
    // ("\\srv/./x" is "\\srv/x").
    size_t fixed = 0;
    if (!leading_sep && count > 0) {
        const char* first = work + parts[0];
        if (is_letter(first[0]) && first[1] == ':' && first[2] == 0)
            fixed = 1;
        else if (first[0] == '\\' && first[1] == '\\')
            fixed = count >= 2 ? 2 : 1;
    }

    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const char* c = work + parts[i];
        if (is_dot_component(c)) continue;
        if (is_dotdot_component(c)) {
            if (kept > fixed) --kept;
            continue;
        }
        parts[kept++] = parts[i];
    }

    size_t t = 0;
    if (leading_sep) path[t++] = '/';
    for (size_t i = 0; i < kept; ++i) {
        if (i > 0) path[t++] = '/';
        const char* c = work + parts[i];
        size_t len = std::strlen(c);
        std::memcpy(path + t, c, len);
        t += len;
    }
    path[t] = 0;
    if (t == 0) {
        path[0] = '.';
        path[1] = 0;
    } else if (t == 2 && path[1] == ':') {
        path[2] = '/';
        path[3] = 0;
    }
}

bool is_full_path(const char* text, plat_path_style_e style) {
    if (!text) return false;
    if (style == PLAT_PATH_POSIX) return text[0] == '/';
    // "C:\..." or "C:/...", and network paths ("\\server...", "\\?\...").
    if (is_letter(text[0]) && text[1] == ':' && is_sep(text[2])) return true;
    return text[0] == '\\' && text[1] == '\\' && text[2] != 0;
}

bool same_path(const char* a, const char* b, plat_path_style_e style) {
    char ca[LOG_PATH_SIZE];
    char cb[LOG_PATH_SIZE];
    if (!normalize_path(a, ca) || !normalize_path(b, cb)) return false;
    return style == PLAT_PATH_WINDOWS ? equal_no_case(ca, cb) : std::strcmp(ca, cb) == 0;
}

bool to_os_path(const char* text, char* target) {
    if (!target) return false;
    target[0] = 0;
    if (!text || !*text) return false;
    return normalize_path(text, target);
}

bool path_exists(const char* path) {
    char os[LOG_PATH_SIZE];
    if (!to_os_path(path, os)) return false;
    int access = plat_path_access(os);
    if (access > 0) return true;
    if (access == 0) return false;
    // Access denied: the path may still exist; try to open it.
    return plat_path_opens(os);
}

bool create_directories(const char* path) {
    char dir[LOG_PATH_SIZE];
    if (!normalize_path(path, dir) || !dir[0]) return false;
    size_t n = std::strlen(dir);
    if (dir[n - 1] != '/') {
        if (n + 1 >= LOG_PATH_SIZE) return false;
        dir[n++] = '/';
        dir[n] = 0;
    }
    if (path_exists(dir)) return true;

    // The first component (a drive root, "/", or a network server) is never
    // created; for a network path the components begin behind the server.
    size_t start = 1;
    if (dir[0] == '\\' && dir[1] == '\\') {
        const char* sep = std::strchr(dir, '/');
        if (!sep) return false;
        start = static_cast<size_t>(sep - dir) + 1;
    }
    for (size_t i = start; i < n; ++i) {
        if (dir[i] != '/') continue;
        char saved = dir[i + 1];
        dir[i + 1] = 0;
        bool ok = true;
        if (!path_exists(dir)) {
            char os[LOG_PATH_SIZE];
            // Another process may create the same directory meanwhile: a
            // failed creation counts when the directory exists afterwards.
            ok = to_os_path(dir, os) && (plat_create_directory(os) || path_exists(dir));
        }
        dir[i + 1] = saved;
        if (!ok) return false;
    }
    return true;
}

bool move_file(const logger_c& logger, const char* old_path, const char* new_path) {
    if (!old_path || !new_path) return false;
    if (equal_no_case(old_path, new_path)) return true;
    (void)logger;
    char os_old[LOG_PATH_SIZE];
    char os_new[LOG_PATH_SIZE];
    if (!to_os_path(old_path, os_old) || !to_os_path(new_path, os_new)) return false;
    return plat_move_file(os_old, os_new);
}

bool delete_file(const logger_c& logger, const char* name, bool in_directory) {
    if (!name) return false;
    char full[LOG_PATH_SIZE];
    size_t dlen = in_directory ? logger.directory.length : 0;
    size_t nlen = bounded_length(name, LOG_PATH_SIZE);
    if (dlen + nlen >= LOG_PATH_SIZE) return false;
    if (dlen) std::memcpy(full, logger.directory.c_str(), dlen);
    std::memcpy(full + dlen, name, nlen);
    full[dlen + nlen] = 0;
    char os[LOG_PATH_SIZE];
    if (!to_os_path(full, os)) return false;
    return plat_delete_file(os);
}

namespace {
void insert_listed_name(const char* name, void* ctx) {
    static_cast<str_list_c*>(ctx)->insert_string(name);
}
}  // namespace

bool list_directory(const logger_c& logger, str_list_c& list) {
    char os[LOG_PATH_SIZE];
    if (!to_os_path(logger.directory.c_str(), os)) return false;
    return plat_list_files(os, insert_listed_name, &list);
}
