// Configuration reloads (a file into a fresh object, a text into the live
// one), the configuration report and the banners that mark them.
#include <cstdio>
#include <new>

#include "config/config_parser.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "logfile/path_ops.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"

namespace {

unsigned length32(const char* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(n);
}

void to_debugger(const char* text) {
    plat_debug_output(text, length32(text));
}

}  // namespace

void trace_manager_c::_write_banner(const char* line1, const char* line2) {
    logger->write(line1, length32(line1), line2, length32(line2));
    if (screen_ranks.load(std::memory_order_relaxed) != 0) std::printf("%s%s", line1, line2);
    if (debugger_ranks.load(std::memory_order_relaxed) != 0) {
        to_debugger(line1);
        to_debugger(line2);
    }
}

bool trace_manager_c::reparse_file(const char* config_file, const char* log_directory,
                                   tr_stream_c& messages) {
    config_parser_c* fresh = new (std::nothrow) config_parser_c;
    if (!fresh) return false;
    bool opened = false;
    const bool parsed = fresh->load_file(config_file, messages, opened);
    if (!opened) {
        delete fresh;
        return false;
    }

    // Banner line 1 is built before the lock is taken.
    tr_stream_c line1;
    char when[64];
    long long now = plat_time();
    if (mix_n::ctime_r(&now, when) && when[0]) line1.append(when);
    if (config_file)
        line1.append(" JOT Trace config file \"").append(config_file).append("\" is tobe reparsed");
    else
        line1.append(" JOT Default Trace config file exe_dir/exe_name.jot is tobe reparsed");
    // A directory that neither exists nor can be created is not used at all.
    if (log_directory && !create_directories(log_directory)) log_directory = nullptr;
    if (log_directory) line1.append(", Log directory is ").append(log_directory);
    line1.append(":\n").append("(tls_index=").append(static_cast<int>(tls_index)).append(")");

    config_parser_c* old = nullptr;
    bool retry;
    {
        single_writer_lock_c hold(lock_);
        // Every load starts a new log file (force_open).
        logger->reconfigure(*fresh, &messages, OPEN_ALWAYS, log_directory, nullptr, SCAN_DIRECTORY);
        old = config;
        config = fresh;
        apply_thread_rules(nullptr);
        copy_settings();
        generation.fetch_add(1, std::memory_order_relaxed);
        tr_stream_c line2;
        config_report(*config, line2);
        line2.append("\n");
        _write_banner(line1.c_str(), line2.c_str());
        retry = logger->claim_retry();
    }
    if (retry) _retry_held_files();
    delete old;
    return parsed;
}

bool trace_manager_c::parse_buffer(const char* text, tr_stream_c& messages) {
    bool parsed, retry;
    {
        single_writer_lock_c hold(lock_);
        parsed = config->parse_text(text, messages);
        logger->reconfigure(*config, &messages, OPEN_WHEN_MOVED, nullptr, nullptr, SCAN_DIRECTORY);
        apply_thread_rules(nullptr);
        copy_settings();
        generation.fetch_add(1, std::memory_order_relaxed);
        retry = logger->claim_retry();
    }
    if (retry) _retry_held_files();
    return parsed;
}

void trace_manager_c::config_content(tr_stream_c& out) {
    // The report walks lists through their shared cursors (the additional
    // ranks, the thread rules), which other readers move as well: hold the
    // lock exclusively so that no rank query or thread judgement runs meanwhile.
    single_writer_lock_c hold(lock_);
    config_report(*config, out);
}
