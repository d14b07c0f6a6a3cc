// logger_c: where the log file lives, what it is called, adoption of the
// files earlier runs left behind, and retention of rotated files.
#include <climits>
#include <cstdio>
#include <cstring>

#include "kor/mix.h"
#include "logfile/logger.h"
#include "logfile/path_ops.h"

namespace {

// The four file-name patterns behind the module name M:
//   rotated                 M.log.<n>
//   rotated with process id M_<pid>.log.<n>
//   current                 M.log
//   current with process id M_<pid>.log
// Each "%u" below stands for one or more decimal digits whose value fits in
// 32 bits; every other character matches itself, and the whole name must be
// consumed. M itself is compared byte for byte before the pattern, so a
// module name holding '%' or blanks is taken literally (a scanf format would
// read '%' as a conversion and blanks as "any white space"), and signs or
// blanks in front of a number ("host.log.-1", "host.log. 5") are not numbers.
const char PAT_ROTATED[] = ".log.%u";
const char PAT_ROTATED_PID[] = "_%u.log.%u";
const char PAT_CURRENT[] = ".log";
const char PAT_CURRENT_PID[] = "_%u.log";
// Behind a leading '.': a file that a rotation exchanged out of the current
// name and had not yet moved to its number when its process ended
// (".M.log.<pid>.next", ".M_<pid>.log.<writer pid>.next").
const char PAT_LEFTOVER[] = ".log.%u.next";
const char PAT_LEFTOVER_PID[] = "_%u.log.%u.next";

// Matches name against module + pattern; the numbers met go to nums (at
// most two). True when the whole name matched.
bool match_name(const char* name, const char* module, const char* pattern, unsigned* nums) {
    size_t mlen = std::strlen(module);
    if (std::strncmp(name, module, mlen) != 0) return false;
    const char* s = name + mlen;
    unsigned found = 0;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 'u') {
            ++p;
            bool overflow = false;
            s = mix_n::parse_decimal(s, &nums[found++], &overflow);
            if (!s || overflow) return false;
            continue;
        }
        if (*s != *p) return false;
        ++s;
    }
    return *s == 0;
}

// Whether the file path lies directly in directory.
bool in_directory(const char* path, const char* directory) {
    const char* slash = std::strrchr(path, '/');
    const char* bslash = std::strrchr(path, '\\');
    if (bslash > slash) slash = bslash;
    if (!slash) return false;
    size_t n = static_cast<size_t>(slash - path) + 1;
    if (n >= LOG_PATH_SIZE) return false;
    char dir[LOG_PATH_SIZE];
    std::memcpy(dir, path, n);
    dir[n] = 0;
    return same_path(dir, directory);
}

// Planted names reported at most, so that a directory filled with them
// cannot make the list grow without end; later ones are skipped silently.
const unsigned MAX_REPORTED_NAMES = 64;
// Rotated names taken by anything but a regular file that a rotation skips
// before it gives up.
const unsigned MAX_SKIPPED_NAMES = 100;

// Whether two directory texts are equal once trailing separators are
// dropped ("logs" and "logs/" name one directory).
bool same_directory_text(const char* a, const char* b) {
    size_t na = std::strlen(a), nb = std::strlen(b);
    while (na > 1 && (a[na - 1] == '/' || a[na - 1] == '\\')) --na;
    while (nb > 1 && (b[nb - 1] == '/' || b[nb - 1] == '\\')) --nb;
    return na == nb && std::memcmp(a, b, na) == 0;
}

void copy_bounded(char* target, const char* source, size_t size) {
    size_t n = 0;
    while (n + 1 < size && source[n]) {
        target[n] = source[n];
        ++n;
    }
    target[n] = 0;
}

}  // namespace

bool logger_c::set_directory(const char* dir, const char* name, bool skip_scan) {
    const bool have_dir = dir && *dir;
    if (!have_dir && directory.length != 0) return false;
    if (have_dir) {
        // The same directory is no change, unless a new name comes with it.
        if (same_directory_text(dir, directory.c_str()) &&
            (!name || !*name || std::strncmp(name, module_name, sizeof module_name - 1) == 0))
            return false;
        directory.truncate(0);
        directory.append(dir);
        if (dir[std::strlen(dir) - 1] != '/') directory.append('/');
    } else {
        const char* exe_dir = mix_n::get_exe_dir(nullptr);
        directory.truncate(0);
        directory.append(exe_dir ? exe_dir : "").append('/').append("log").append('/');
    }
    create_directories(directory.c_str());

    if (name && *name) {
        copy_bounded(module_name, name, sizeof module_name);
    } else if (module_name[0] == 0) {
        const char* exe_name = mix_n::get_exe_name(nullptr);
        copy_bounded(module_name, exe_name ? exe_name : "", sizeof module_name);
        if (char* dot = std::strchr(module_name, '.')) *dot = 0;
    }

    if (!skip_scan) _check_log_dir_content();
    return true;
}

// A scan first forgets the entries of rotated_files that lie in the scanned
// directory and then adopts what is there now: a directory scanned again
// (also when named in another form, "C:\logs" after "C:/logs/") is counted
// once, and names of files that were never created drop out. Entries of
// other (earlier) directories stay at the end of the list, so retention
// removes them first and the total number of kept files stays bounded.
// The file this logger has in use is left to the rotation that follows
// every directory change, so a scan never moves it under the writer.
bool logger_c::_check_log_dir_content() {
    tr_stream_c own;
    auto is_own_file = [&](const char* name) {
        if (!opened || file_name.length == 0) return false;
        own.truncate(0);
        own.append(directory).append(name);
        return same_path(own.c_str(), continued.length ? continued.c_str() : file_name.c_str());
    };
    tr_stream_c doomed;
    auto delete_in_directory = [&](const char* name) {
        doomed.truncate(0);
        doomed.append(directory).append(name);
        delete_or_queue(doomed.c_str());
    };
    str_list_c listing;
    if (!list_directory(*this, listing)) return false;

    for (void* p = rotated_files.first(); p;) {
        if (in_directory(static_cast<const char*>(p), directory.c_str()))
            p = rotated_files.remove_current_string();
        else
            p = rotated_files.next();
    }

    si_list_s rotated;
    unsigned highest = 0;
    const char* current = nullptr;
    str_list_c leftovers;
    for (void* p = listing.first(); p; p = listing.next()) {
        const char* name = static_cast<const char*>(p);
        if (!name) continue;
        unsigned nums[2] = {0, 0};
        if (is_own_file(name)) {
            // The file this logger writes is rotated by close_for_rename.
            continue;
        } else if (match_name(name, module_name, PAT_ROTATED, nums) && nums[0] != UINT_MAX) {
            if (nums[0] > highest) highest = nums[0];
            rotated.add_unordered(name, nums[0]);
        } else if (match_name(name, module_name, PAT_ROTATED_PID, nums) && nums[1] != UINT_MAX) {
            if (nums[1] > highest) highest = nums[1];
            rotated.add_unordered(name, nums[1]);
        } else if (match_name(name, module_name, PAT_CURRENT, nums)) {
            // The file without a process id wins over any other current file.
            if (current) delete_in_directory(current);
            current = name;
        } else if (match_name(name, module_name, PAT_CURRENT_PID, nums)) {
            if (!current)
                current = name;
            else
                delete_in_directory(name);
        } else if (name[0] == '.' && (match_name(name + 1, module_name, PAT_LEFTOVER, nums) ||
                                      match_name(name + 1, module_name, PAT_LEFTOVER_PID, nums))) {
            leftovers.append_string(name);
        }
    }

    rotated.order_by_number();
    tr_stream_c path;
    for (void* p = rotated.last(); p; p = rotated.prev()) {
        path.truncate(0);
        path.append(directory).append(static_cast<si_list_s::item_s*>(p)->name);
        rotated_files.insert_string(path.c_str());
    }

    unsigned candidate = highest;
    if (current) {
        tr_stream_c moved;
        path.truncate(0);
        path.append(directory).append(current);
        if (const unsigned number = next_rotation(path.c_str(), highest, moved)) {
            candidate = number;
            move_or_queue(path.c_str(), moved.c_str());
            rotated_files.insert_string(moved.c_str());
        }
    }
    // Leftovers of an interrupted rotation take the next numbers, as the
    // current file did: "<dir>.M.log.<pid>.next" goes to "<dir>M.log.<n>".
    for (void* p = leftovers.first(); p; p = leftovers.next()) {
        const char* name = static_cast<const char*>(p);
        const char* pid_dot = name + std::strlen(name) - std::strlen(".next");
        while (pid_dot > name && *(pid_dot - 1) != '.') --pid_dot;
        tr_stream_c base, moved;
        base.append(directory).append_n(name + 1, static_cast<size_t>(pid_dot - 1 - (name + 1)));
        path.truncate(0);
        path.append(directory).append(name);
        if (const unsigned number = next_rotation(base.c_str(), candidate, moved)) {
            candidate = number;
            if (move_or_queue(path.c_str(), moved.c_str())) rotated_files.insert_string(moved.c_str());
        }
    }
    if (candidate > file_number) file_number = candidate;
    return true;
}

// With a grace, the oldest rotated file stays while it was written to less
// than retention_grace seconds ago (and so do the newer ones): a follower
// that fell behind still finds it. The grace yields to the bound of
// GRACE_BOUND x files_to_keep files, and the next file says how many went
// young. A file whose time cannot be read (a name that was never created)
// has no grace.
void logger_c::apply_retention() {
    const unsigned long long bound = files_to_keep * GRACE_BOUND;
    const long long now = retention_grace ? plat_time() : 0;
    while (static_cast<unsigned long long>(rotated_files.num()) > files_to_keep) {
        const char* oldest = static_cast<const char*>(rotated_files.last());
        if (retention_grace && oldest) {
            char os[LOG_PATH_SIZE];
            const long long written = to_os_path(oldest, os) ? plat_file_mtime(os) : -1;
            const bool young = written >= 0 && static_cast<unsigned long long>(now - written) < retention_grace;
            if (young && static_cast<unsigned long long>(rotated_files.num()) <= bound) break;
            if (young) ++grace_overrun;
        }
        if (oldest) delete_or_queue(oldest);
        rotated_files.remove_current_string();
    }
}

namespace {
// The last component of a path.
const char* base_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* bslash = std::strrchr(path, '\\');
    if (bslash > slash) slash = bslash;
    return slash ? slash + 1 : path;
}
}  // namespace

void logger_c::link_newest() {
    if (continued.length == 0 || file_name.length == 0) return;
    char os[LOG_PATH_SIZE];
    if (to_os_path(file_name.c_str(), os)) plat_replace_link(os, base_name(continued.c_str()));
}

void logger_c::drop_stable_link() {
    char os[LOG_PATH_SIZE];
    char target[LOG_PATH_SIZE];
    if (file_name.length == 0 || !to_os_path(file_name.c_str(), os) || !plat_read_link(os, target, sizeof target))
        return;
    // Ours names "<base>.<digits>" beside itself.
    const char* base = base_name(os);
    const size_t n = std::strlen(base);
    if (std::strncmp(target, base, n) != 0 || target[n] != '.' || !target[n + 1]) return;
    for (const char* d = target + n + 1; *d; ++d)
        if (*d < '0' || *d > '9') return;
    plat_delete_link(os);
}

bool logger_c::left_alone(const char* path, const char* instead) {
    char os[LOG_PATH_SIZE];
    if (!path || !to_os_path(path, os) || plat_entry_kind(os) != PLAT_ENTRY_OTHER) return false;
    if (reported_names.string_position(path, true) == 0 && reported_names.num() < MAX_REPORTED_NAMES) {
        reported_names.append_string(path);
        std::fprintf(stderr,
                     "katrace: %s is not a regular file (a link, pipe, device or directory someone else made); "
                     "it is left alone and %s\n",
                     path, instead);
    }
    return true;
}

unsigned logger_c::next_rotation(const char* base, unsigned after, tr_stream_c& name) {
    unsigned planted = 0;
    while (planted <= MAX_SKIPPED_NAMES && after < UINT_MAX) {
        ++after;
        name.truncate(0);
        name.append(base).append('.').append(after);
        if (left_alone(name.c_str(), "the next number is used"))
            ++planted;
        else if (!path_exists(name.c_str()))
            return after;
        // A file of that name (another writer's, an earlier run's) stays.
    }
    name.truncate(0);
    name.append(base).append(" (no rotation number left)");
    if (reported_names.string_position(name.c_str(), true) == 0 && reported_names.num() < MAX_REPORTED_NAMES) {
        reported_names.append_string(name.c_str());
        std::fprintf(stderr, "katrace: no rotation number is left for %s; it is no longer rotated\n", base);
    }
    name.truncate(0);
    return 0;
}

void logger_c::make_file_name() {
    file_name.truncate(0);
    if (directory.length != 0) file_name.append(directory);
    if (module_name[0]) file_name.append(module_name);
    if (add_pid) file_name.append('_').append(static_cast<int>(pid));
    file_name.append('.').append("log");
}

void logger_c::reconfigure(config_parser_c& config, tr_stream_c* error_text, open_mode_e open,
                           const char* fallback_dir, const char* name, scan_mode_e scan) {
    const bool new_add_pid = config.get_add_pid_to_log_filename();
    // A change of naming moves to a new file as a change of the name does.
    const bool pid_changed = new_add_pid != add_pid || config.get_log_naming_stable() != stable_names;
    add_pid = new_add_pid;
    stable_names = config.get_log_naming_stable();
    retention_grace = config.get_log_retention_grace();
    max_file_size = config.get_log_file_size();
    files_to_keep = config.get_log_files_to_keep();

    const char* dir = config.get_log_directory();
    if (!dir || !*dir) dir = fallback_dir;
    const bool dir_changed = set_directory(dir, name, scan == SKIP_SCAN);

    if (pid_changed || dir_changed) close_for_rename();
    apply_retention();
    if (open == OPEN_ALWAYS || (opened && (pid_changed || dir_changed))) open_file(error_text);
}

bool logger_c::prepare_log_directory(const char* dir, tr_stream_c* error_text, char* canonical) {
    if (canonical) canonical[0] = 0;
    if (!dir) {
        if (error_text) error_text->append("Error! No LogDirName string has been provided");
        return false;
    }
    if (!is_full_path(dir)) {
        if (error_text) error_text->append("Error! \"").append(dir).append("\" is not full path");
        return false;
    }
    if (!canonical || !normalize_path(dir, canonical) || !create_directories(canonical)) {
        if (error_text) error_text->append("Unable to create directory ").append(dir);
        return false;
    }
    return true;
}

void logger_c::use_log_directory(config_parser_c& config, const char* canonical, tr_stream_c* error_text,
                                 const char* name, scan_mode_e scan) {
    config.log_directory.truncate(0);
    config.log_directory.append(canonical ? canonical : "");
    reconfigure(config, error_text, OPEN_WHEN_MOVED, nullptr, name, scan);
}

bool logger_c::set_log_directory(config_parser_c& config, const char* dir, tr_stream_c* error_text,
                                 const char* name, scan_mode_e scan) {
    char canonical[LOG_PATH_SIZE];
    if (!prepare_log_directory(dir, error_text, canonical)) return false;
    use_log_directory(config, canonical, error_text, name, scan);
    return true;
}

void logger_c::set_add_pid(config_parser_c& config, bool flag, tr_stream_c* error_text) {
    config.add_pid_to_log_filename = flag;
    reconfigure(config, error_text, OPEN_WHEN_MOVED, nullptr, nullptr, SCAN_DIRECTORY);
}
