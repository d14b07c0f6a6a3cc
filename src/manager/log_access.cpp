// What the rest of the library asks of the log file and the live
// configuration. Each operation takes the manager's lock itself, for the
// shortest hold that keeps its answer consistent.
#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"

void trace_manager_c::write_line(const char** prefix, size_t* prefix_length, size_t banner_length,
                                 unsigned thread_id, const char* line, size_t length) {
    single_writer_lock_c hold(lock_);
    if (banner_length && !_banner_due_locked(thread_id)) {
        *prefix += banner_length;
        *prefix_length -= banner_length;
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
    kor_lock_c updating(&update_cs_);  // changes the live configuration
    single_writer_lock_c hold(lock_);
    logger->set_add_pid(*config, add_pid, messages);
}

void trace_manager_c::use_log_directory(const char* canonical, tr_stream_c* messages, const char* base_name,
                                        bool skip_scan) {
    kor_lock_c updating(&update_cs_);  // changes the live configuration
    single_writer_lock_c hold(lock_);
    logger->use_log_directory(*config, canonical, messages, base_name, skip_scan ? SKIP_SCAN : SCAN_DIRECTORY);
}

void trace_manager_c::change_pid(unsigned pid) {
    single_writer_lock_c hold(lock_);
    logger->change_pid(pid);
}

void trace_manager_c::rank_names(const char* function_name, const char* file_name, tr_stream_c& out) {
    multi_reader_lock_c hold(lock_);
    rank_list(*config, out, config->evaluate_rank(function_name, file_name), '+', false);
}
