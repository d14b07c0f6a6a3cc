// logger_c: opening, writing and size rotation of the log file.
#include "logfile/logger.h"

#include <cstdio>
#include <cstring>

#include "logfile/path_ops.h"

#ifndef KATR_VERSION_MAJOR
#error "the library version (KATR_VERSION_MAJOR ...) comes from the build"
#endif

namespace {
const char BYTE_ORDER_MARK[3] = {'\xEF', '\xBB', '\xBF'};
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

// Closes the current file and moves it to "<file_name>.<next number>",
// skipping numbers whose names someone else has taken with anything but a
// regular file; the rotated name enters rotated_files whether or not the
// move succeeded (a failed move, e.g. of a file another process holds, is
// not reported). When no name is found the file stays where it is.
static void rotate_current(logger_c& l) {
    if (l.file != PLAT_NO_FILE) {
        plat_file_close(l.file);
        l.file = PLAT_NO_FILE;
    }
    tr_stream_c rotated;
    const unsigned number = l.next_rotation(l.file_name.c_str(), l.file_number, rotated);
    if (number == 0) return;
    l.file_number = number;
    move_file(l, l.file_name.c_str(), rotated.c_str());
    l.rotated_files.insert_string(rotated.c_str());
}

void logger_c::open_file(tr_stream_c* error_text) {
    if (opened && file_name.length != 0) {
        rotate_current(*this);
        apply_retention();
    }
    bytes_written = 0;

    // Appends to an existing file (the platform opens at its end).
    // Something else at the name (a link, a pipe...) is refused by the open
    // and reported once; the log then goes on without a file.
    file = plat_file_open_append(file_name.c_str());
    if (file == PLAT_NO_FILE) {
        unsigned long code = plat_last_error();
        const bool planted = left_alone(file_name.c_str(), "no log file is written");
        if (error_text) {
            error_text->append("Unable to open logfile ").append(file_name).append(", err=").append(code).append("\r\n");
        } else if (!planted) {
            std::fprintf(stderr, "Unable to open logfile %s! Error code=%d\n", file_name.c_str(), static_cast<int>(code));
        }
        return;
    }
    opened = true;

    long long now = plat_time();
    char time_text[64];
    time_text[0] = 0;
    const char* t = mix_n::ctime_r(&now, time_text);
    tr_stream_c banner;
    if (t && *t) banner.append(t);
    banner.append(" JOT Log File #").append(file_number).append(", Version = ")
        .append(static_cast<unsigned>(KATR_VERSION_MAJOR)).append('.')
        .append(static_cast<unsigned>(KATR_VERSION_MINOR)).append('.')
        .append(static_cast<unsigned>(KATR_VERSION_RELEASE)).append('.')
        .append(static_cast<unsigned>(KATR_VERSION_BUILD)).append("\r\n");

    // The byte-order mark starts every open, also behind old content; it is
    // not counted and its result does not matter.
    plat_file_write(file, BYTE_ORDER_MARK, sizeof BYTE_ORDER_MARK);

    plat_set_last_error(0);
    if (plat_file_write(file, banner.c_str(), static_cast<size_t>(banner.length))) {
        bytes_written += static_cast<unsigned>(banner.length);
        return;
    }
    unsigned long code = plat_last_error();
    if (error_text)
        error_text->append("Unable to write to file ").append(file_name).append("! Error code= ").append(code).append("\r\n");
    plat_file_close(file);
    file = PLAT_NO_FILE;
}

void logger_c::close_for_rename() {
    if (opened && file_name.length != 0) rotate_current(*this);
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

void logger_c::write(const char* first, unsigned first_len, const char* second, unsigned second_len) {
    if (file == PLAT_NO_FILE) return;
    if (!first) first_len = 0;
    if (!second) second_len = 0;

    // Both pieces go to the kernel in one system call, so that a line is
    // never split by a crash and nothing waits in a user-space buffer.
    if (first_len != 0 || second_len != 0) {
        plat_set_last_error(0);
        if (!plat_file_write2(file, first, first_len, second, second_len)) {
            unsigned long code = plat_last_error();
            if (code != 0) {
                std::fprintf(stderr, "Unable to write to file %s! Error code=%d\n", file_name.c_str(), static_cast<int>(code));
                plat_file_close(file);
                file = PLAT_NO_FILE;
                return;
            }
        }
    }
    bytes_written += first_len + second_len;   // 32-bit, as the file counter is
    if (static_cast<unsigned long long>(bytes_written) >= max_file_size) open_file(nullptr);
}

void logger_c::change_pid(unsigned process_id) { set_pid(process_id); }
