// What the rest of the library asks of the log file and the live
// configuration. Each operation takes the manager's lock itself, for the
// shortest hold that keeps its answer consistent.
#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"

// Every operation that may rotate, scan or prune the log files ends by
// claiming the retry of the moves and deletes that met a file held open;
// the claimer runs it after releasing the lock.
void trace_manager_c::_retry_held_files() {
    for (unsigned round = 1; round <= logger_c::RETRY_ROUNDS; ++round) {
        plat_sleep_ms(logger_c::RETRY_PAUSE_MS);
        single_writer_lock_c hold(lock_);
        if (!logger->retry_held_files(round == logger_c::RETRY_ROUNDS)) return;
    }
}

void trace_manager_c::write_text(const char* prefix, unsigned long long prefix_length, const char* text,
                                 unsigned long long length) {
    bool retry;
    {
        single_writer_lock_c hold(lock_);
        logger->write(prefix, prefix_length, text, length);
        retry = logger->claim_retry();
    }
    if (retry) _retry_held_files();
}

void trace_manager_c::log_file_name(tr_stream_c& out) {
    multi_reader_lock_c hold(lock_);
    out.append(logger->file_name);
}

void trace_manager_c::set_add_pid(bool add_pid, tr_stream_c* messages) {
    kor_lock_c updating(&update_cs_);  // changes the live configuration
    bool retry;
    {
        single_writer_lock_c hold(lock_);
        logger->set_add_pid(*config, add_pid, messages);
        retry = logger->claim_retry();
    }
    if (retry) _retry_held_files();
}

void trace_manager_c::use_log_directory(const char* canonical, tr_stream_c* messages, const char* base_name,
                                        bool skip_scan) {
    kor_lock_c updating(&update_cs_);  // changes the live configuration
    bool retry;
    {
        single_writer_lock_c hold(lock_);
        logger->use_log_directory(*config, canonical, messages, base_name, skip_scan ? SKIP_SCAN : SCAN_DIRECTORY);
        retry = logger->claim_retry();
    }
    if (retry) _retry_held_files();
}

void trace_manager_c::change_pid(unsigned pid) {
    bool retry;
    {
        single_writer_lock_c hold(lock_);
        logger->change_pid(pid);
        retry = logger->claim_retry();
    }
    if (retry) _retry_held_files();
}

void trace_manager_c::rank_names(const char* function_name, const char* file_name, tr_stream_c& out) {
    multi_reader_lock_c hold(lock_);
    rank_list(*config, out, config->evaluate_rank(function_name, file_name), '+', false);
}
