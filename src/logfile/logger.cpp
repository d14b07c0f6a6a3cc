// logger_c: opening, writing and size rotation of the log file.
#include "logfile/logger.h"

#include <cstdio>
#include <cstring>

#include "logfile/path_ops.h"

#ifndef KATR_VERSION_MAJOR
#  error "the library version (KATR_VERSION_MAJOR ...) comes from the build"
#endif

namespace {
const char BYTE_ORDER_MARK[3] = {'\xEF', '\xBB', '\xBF'};
// Room kept below the size limit for the banner of a file appended to.
const long long BANNER_ROOM = 128;
}

logger_c::si_list_s::~si_list_s() {
    while (void* p = first()) {
        remove_current();
        delete static_cast<item_s*>(p);
    }
}

void logger_c::si_list_s::add(const char* name, unsigned number) {
    item_s* item = new item_s{name, number};
    for (void* p = first(); p; p = next()) {
        if (static_cast<item_s*>(p)->number < number) {
            insert_before_current(item);
            return;
        }
    }
    append(item);
}

void logger_c::si_list_s::add_unordered(const char* name, unsigned number) {
    append(new item_s{name, number});
}

namespace {
// Descending by number; ties compare equal so that the stable sort keeps them in order.
int higher_number_first(const void* a, const void* b) {
    const unsigned x = static_cast<const logger_c::si_list_s::item_s*>(a)->number;
    const unsigned y = static_cast<const logger_c::si_list_s::item_s*>(b)->number;
    return x > y ? -1 : (x < y ? 1 : 0);
}
}  // namespace

void logger_c::si_list_s::order_by_number() {
    sort(higher_number_first);
}

logger_c::logger_c()
    : file(PLAT_NO_FILE),
      opened(false),
      pid(0),
      add_pid(false),
      max_file_size(0),
      files_to_keep(0),
      file_number(0),
      bytes_written(0) {
    module_name[0] = 0;
    pid = static_cast<unsigned>(plat_pid());
}

logger_c::~logger_c() {
    if (file != PLAT_NO_FILE) plat_file_close(file);
    file = PLAT_NO_FILE;
    // rotated_files frees its strings itself.
}

// Puts an empty file at file_name in one step: it is made beside it under a
// private name (a dot, the file's name, the pid: no name the directory scan
// takes for a log) and exchanged with the current file, which then waits at
// the private name (l.fresh) for its move to the rotated name. False, with
// nothing changed, where the system cannot exchange or something failed: the
// caller then moves the file away first and opens a new one after, as
// always.
static bool exchange_fresh_file(logger_c& l) {
    if (!l.exchange_ok || l.directory.length == 0) return false;
    const char* base = l.file_name.c_str() + l.directory.length;
    l.fresh.truncate(0);
    l.fresh.append(l.directory).append('.').append(base).append('.').append(static_cast<unsigned>(l.pid)).append(".next");
    if (path_exists(l.fresh.c_str())) delete_file(l, l.fresh.c_str(), false);
    plat_file_t f = plat_file_open_append(l.fresh.c_str());
    if (f == PLAT_NO_FILE) return false;
    plat_file_close(f);
    char os_fresh[LOG_PATH_SIZE], os_current[LOG_PATH_SIZE];
    const int done = to_os_path(l.fresh.c_str(), os_fresh) && to_os_path(l.file_name.c_str(), os_current)
                         ? plat_exchange_files(os_fresh, os_current)
                         : -1;
    if (done == 1) return true;
    if (done == 0) l.exchange_ok = false;
    delete_file(l, l.fresh.c_str(), false);
    return false;
}

// Closes the current file and gives it its rotated name. A numbered file
// (taken while another writer held file_name) has it already. Otherwise
// file_name moves to "<file_name>.<number>", the first number above
// file_number whose name is free: a rotation never replaces a file, and
// when another writer takes the name between the test and the move, the
// next number is tried. The rotated name enters rotated_files whether or
// not the move succeeded (a failed move is not reported; one that met a
// file held open is tried again later). When no number is left the file
// stays where it is. When the next file takes the same name
// (same_name_next), a fresh file is exchanged into place first where the
// system can, so that followers by name never miss the name.
static void rotate_current(logger_c& l, bool same_name_next) {
    if (l.file != PLAT_NO_FILE) {
        plat_file_close(l.file);
        l.file = PLAT_NO_FILE;
    }
    if (l.continued.length != 0) {
        l.rotated_files.insert_string(l.continued.c_str());
        l.continued.truncate(0);
        return;
    }
    // With stable names file_name is only the link: nothing to move.
    if (l.stable_names) return;
    tr_stream_c rotated;
    bool exchanged = false;
    for (;;) {
        const unsigned number = l.next_rotation(l.file_name.c_str(), l.file_number, rotated);
        if (number == 0) return;
        l.file_number = number;
        if (same_name_next && !exchanged && exchange_fresh_file(l)) exchanged = true;
        // After an exchange the old content waits at the fresh file's name.
        const char* from = exchanged ? l.fresh.c_str() : l.file_name.c_str();
        if (l.move_or_queue(from, rotated.c_str()) || !path_exists(rotated.c_str())) break;
    }
    l.rotated_files.insert_string(rotated.c_str());
}

// Opens file_name for this writer alone. The first open appends to content
// found there (an earlier run's, or another writer's that closed it just
// now), which then counts towards the size limit, unless that content
// leaves no room below the limit. When another writer holds the file, the
// first open finds it full, or a reopen finds content there that is not
// this writer's new file (a rotation that could not move it), the log
// continues in the first free numbered file instead ("<file_name>.<number>",
// found empty), which is already at its rotated name. No two writers thus
// share a file, and each file keeps to the size limit. When no numbered
// file can be had, a file that could be opened grows on as before; a held
// one is an open failure.
// With stable names every file is such a numbered file, never one found
// with content: a restart goes on above the highest number in the
// directory.
static plat_file_t open_own_file(logger_c& l, bool reopen) {
    plat_file_t f = PLAT_NO_FILE;
    unsigned long code = 0;
    if (l.stable_names) {
        // Straight to the numbered files below; one still in use goes to
        // the rotated files first.
        if (l.continued.length != 0) {
            l.rotated_files.insert_string(l.continued.c_str());
            l.continued.truncate(0);
        }
    } else {
        f = plat_file_open_append(l.file_name.c_str());
        code = plat_last_error();
        if (f != PLAT_NO_FILE) {
            const long long found = plat_file_size(f);
            if (found <= 0) return f;
            if (!reopen && static_cast<unsigned long long>(found + BANNER_ROOM) < l.max_file_size) {
                l.bytes_written = found > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<unsigned>(found);
                return f;
            }
            plat_file_close(f);
        } else if (!plat_error_in_use(code)) {
            return PLAT_NO_FILE;
        }
    }
    const bool fallback = f != PLAT_NO_FILE;
    tr_stream_c name;
    for (;;) {
        const unsigned number = l.next_rotation(l.file_name.c_str(), l.file_number, name);
        if (number == 0) break;
        l.file_number = number;
        plat_file_t numbered = plat_file_open_append(name.c_str());
        if (numbered == PLAT_NO_FILE && !plat_error_in_use(plat_last_error())) break;
        if (numbered != PLAT_NO_FILE && plat_file_size(numbered) == 0) {
            l.continued.append(name);
            return numbered;
        }
        // Another writer took this name since the test: the next one.
        plat_file_close(numbered);
    }
    if (fallback) return plat_file_open_append(l.file_name.c_str());
    if (code != 0) plat_set_last_error(code);
    return PLAT_NO_FILE;
}

void logger_c::open_file(tr_stream_c* error_text) {
    const bool reopen = opened && file_name.length != 0;
    if (reopen) {
        rotate_current(*this, true);
        apply_retention();
    }
    start_file(error_text, reopen);
}

void logger_c::start_file(tr_stream_c* error_text, bool reopen) {
    bytes_written = 0;
    // A directory removed while the host runs is made again.
    if (directory.length != 0) create_directories(directory.c_str());

    // Appends to an existing file (the platform opens at its end).
    // Something else at the name (a link, a pipe...) is refused by the open
    // and reported once; the log then goes on without a file.
    if (!stable_names) drop_stable_link();
    file = open_own_file(*this, reopen);
    if (file == PLAT_NO_FILE) {
        unsigned long code = plat_last_error();
        // With stable names file_name is the writer's own link.
        const bool planted = !stable_names && left_alone(file_name.c_str(), "no log file is written");
        const bool retry = failing;
        if (!planted) note_failure();
        if (error_text) {
            error_text->append("Unable to open logfile ").append(file_name).append(", err=").append(code).append("\r\n");
        } else if (!planted && !retry) {
            std::fprintf(stderr, "Unable to open logfile %s! Error code=%d\n", file_name.c_str(), static_cast<int>(code));
        }
        return;
    }
    opened = true;
    failing = false;
    rotate_on_reopen = false;

    long long now = plat_time();
    char time_text[64];
    time_text[0] = 0;
    const char* t = mix_n::ctime_r(&now, time_text);
    tr_stream_c banner;
    if (t && *t) banner.append(t);
    banner.append(" JOT Log File #").append(file_number).append(", Version = ").append(static_cast<unsigned>(KATR_VERSION_MAJOR)).append('.').append(static_cast<unsigned>(KATR_VERSION_MINOR)).append('.').append(static_cast<unsigned>(KATR_VERSION_RELEASE)).append('.').append(static_cast<unsigned>(KATR_VERSION_BUILD)).append("\r\n");

    // The byte-order mark starts every open, also behind old content; it is
    // not counted and its result does not matter.
    plat_file_write(file, BYTE_ORDER_MARK, sizeof BYTE_ORDER_MARK);

    plat_set_last_error(0);
    if (plat_file_write(file, banner.c_str(), static_cast<size_t>(banner.length))) {
        bytes_written += static_cast<unsigned>(banner.length);
        if (stable_names) link_newest();
        if (grace_overrun != 0) {
            // One line says that the bound cut the retention grace short.
            tr_stream_c note;
            note.append("katrace: ").append(grace_overrun).append(" rotated log files deleted inside their retention grace: more than ").append(static_cast<unsigned long long>(GRACE_BOUND) * files_to_keep).append(" files\r\n");
            grace_overrun = 0;
            // Written as the banner is, without a size rotation behind it.
            if (plat_file_write(file, note.c_str(), static_cast<size_t>(note.length)))
                bytes_written += static_cast<unsigned>(note.length);
        }
        return;
    }
    unsigned long code = plat_last_error();
    note_failure();
    if (error_text)
        error_text->append("Unable to write to file ").append(file_name).append("! Error code= ").append(code).append("\r\n");
    plat_file_close(file);
    file = PLAT_NO_FILE;
}

void logger_c::close_for_rename() {
    if (opened && file_name.length != 0) rotate_current(*this, false);
    make_file_name();
}

void logger_c::set_pid(unsigned process_id) {
    unsigned id = process_id ? process_id : static_cast<unsigned>(plat_pid());
    if (id == pid) return;
    pid = id;
    if (add_pid && opened) {
        close_for_rename();
        open_file(nullptr);
    }
}

void logger_c::note_failure() {
    failing = true;
    failed_at_ms = plat_clock_ms();
}

bool logger_c::reopen_after_failure() {
    if (!failing || plat_clock_ms() - failed_at_ms < REOPEN_DELAY_MS) return false;
    if (rotate_on_reopen && opened && file_name.length != 0) {
        rotate_on_reopen = false;
        open_file(nullptr);
    } else {
        start_file(nullptr);
    }
    return file != PLAT_NO_FILE;
}

void logger_c::write_failed(unsigned long code) {
    // A write fails only on an open file, so this starts an episode. The
    // lines of the closed file are kept: the reopen rotates it away before
    // it starts a new one.
    const char* path = continued.length ? continued.c_str() : file_name.c_str();
    std::fprintf(stderr, "Unable to write to file %s! Error code=%d\n", path, static_cast<int>(code));
    note_failure();
    rotate_on_reopen = true;
    plat_file_close(file);
    file = PLAT_NO_FILE;
}

void logger_c::write(const char* first, unsigned long long first_len, const char* second,
                     unsigned long long second_len) {
    if (file == PLAT_NO_FILE && !reopen_after_failure()) return;
    if (!first) first_len = 0;
    if (!second) second_len = 0;

    // Both pieces go to the kernel in one system call, so that a line is
    // never split by a crash and nothing waits in a user-space buffer; only
    // a text of more than a piece takes more calls.
    while (first_len != 0 || second_len != 0) {
        const unsigned long long a = first_len < write_piece ? first_len : write_piece;
        const unsigned long long room = write_piece - a;
        const unsigned long long b = second_len < room ? second_len : room;
        plat_set_last_error(0);
        if (!plat_file_write2(file, first, static_cast<size_t>(a), second, static_cast<size_t>(b))) {
            unsigned long code = plat_last_error();
            if (code != 0) {
                write_failed(code);
                return;
            }
        }
        bytes_written += static_cast<unsigned>(a + b);  // 32-bit, as the file counter is
        first += a;
        first_len -= a;
        second += b;
        second_len -= b;
    }
    if (static_cast<unsigned long long>(bytes_written) >= max_file_size) open_file(nullptr);
}

void logger_c::change_pid(unsigned process_id) { set_pid(process_id); }
