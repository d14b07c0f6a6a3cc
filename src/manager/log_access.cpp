// What the rest of the library asks of the log file and the live
// configuration. Each operation takes the manager's lock itself, for the
// shortest hold that keeps its answer consistent.
#include "config/config_parser.h"
#include "config/rank_tables.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"

void trace_manager_c::write_line(const char** prefix, size_t* prefix_length, size_t banner_length,
                                 unsigned thread_id, const char* line, size_t length) {
    single_writer_lock_c hold(lock_);
    // The banner is due when another thread wrote the previous line.
    if (banner_length) {
        if (last_thread_id != thread_id) {
            last_thread_id = thread_id;
        } else {
            *prefix += banner_length;
            *prefix_length -= banner_length;
        }
    }
    if (*prefix_length)
        logger->write(*prefix, static_cast<unsigned>(*prefix_length), line, static_cast<unsigned>(length));
    else
        logger->write(line, static_cast<unsigned>(length), nullptr, 0);
}

void trace_manager_c::write_text(const char* prefix, unsigned prefix_length, const char* text, unsigned length) {
    single_writer_lock_c hold(lock_);
    logger->write(prefix, prefix_length, text, length);
}

void trace_manager_c::log_file_name(tr_stream_c& out) {
    multi_reader_lock_c hold(lock_);
    out.append(logger->file_name);
}

void trace_manager_c::set_add_pid(bool add_pid, tr_stream_c* messages) {
    single_writer_lock_c hold(lock_);
    logger->set_add_pid(*config, add_pid, messages);
}

void trace_manager_c::use_log_directory(const char* canonical, tr_stream_c* messages, const char* base_name,
                                        bool skip_scan) {
    single_writer_lock_c hold(lock_);
    logger->use_log_directory(*config, canonical, messages, base_name, skip_scan ? SKIP_SCAN : SCAN_DIRECTORY);
}

void trace_manager_c::change_pid(unsigned pid) {
    single_writer_lock_c hold(lock_);
    logger->change_pid(pid);
}

void trace_manager_c::rank_names(const char* function_name, const char* file_name, tr_stream_c& out) {
    multi_reader_lock_c hold(lock_);
    unsigned rank = config->evaluate_rank(function_name, file_name);
    if (!rank) return;
    bool first = true;
    unsigned written = 0;
    for (unsigned i = 0; i < RANK_NAME_ROWS; ++i) {
        const rank_name_s& row = rank_name_table[i];
        if (row.mask == RANK_ALL || (row.mask & written) == row.mask) continue;
        if (!(row.mask & rank)) continue;
        if (!first) out.append('+');
        out.append(row.name).append(' ');
        first = false;
        written |= row.mask;
    }
    // The additional rank at 0-based position i has the bit 0x4000 << i. An
    // own position keeps the list's cursor untouched, since other readers
    // may walk the same list at the same time.
    ptr_list_c::position_t pos = nullptr;
    unsigned i = 0;
    for (void* e = config->additional_ranks.first(&pos); e || pos; e = config->additional_ranks.next(&pos), ++i) {
        if (i >= 32 - ADDITIONAL_RANK_SHIFT - 1) break;
        if (rank & (0x4000u << i)) {
            if (!first) out.append('+');
            out.append(static_cast<const char*>(e)).append(' ');
            first = false;
        }
    }
}
