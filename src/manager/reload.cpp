// Configuration reloads (a file into a fresh object, a text into a copy of
// the live one), the configuration report and the banners that mark them.
//
// Every change of the configuration holds update_cs_ from start to end, so
// two reloads never interleave and none loses another's change. The long
// work (loading, parsing, copying, writing the report) runs without the
// manager's lock; the lock is held only to install the result, bring the
// log writer in line and re-judge the threads, so tracing threads wait for
// that and not for the parse.
#include <cstdio>
#include <new>
#include <string>

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

config_parser_c* trace_manager_c::_settled_config() {
    multi_reader_lock_c hold(lock_);
    return config;
}

bool trace_manager_c::reparse_file(const char* config_file, const char* log_directory,
                                   tr_stream_c& messages) {
    kor_lock_c updating(&update_cs_);
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
    // Line 2, the report of the new configuration, as well: the writer does
    // not change the configuration it is handed.
    tr_stream_c line2;
    config_report(*fresh, line2);
    line2.append("\n");

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
        _write_banner(line1.c_str(), line2.c_str());
        retry = logger->claim_retry();
    }
    if (retry) _retry_held_files();
    delete old;
    _apply_black_box(messages);
    return parsed;
}

// The text is parsed into a copy of the live configuration, whose content
// then replaces the live one's under the lock: the same replies and the same
// merged result (in the same object) as a parse into the live object,
// without the writer lock held for the parse.
bool trace_manager_c::parse_buffer(const char* text, tr_stream_c& messages) {
    kor_lock_c updating(&update_cs_);
    config_parser_c* fresh = copy_config(*_settled_config());
    bool parsed = fresh && fresh->parse_text(text, messages);
    bool retry;
    {
        single_writer_lock_c hold(lock_);
        if (fresh)
            swap_config(*config, *fresh);
        else
            parsed = config->parse_text(text, messages);  // no memory for a copy: parse in place
        logger->reconfigure(*config, &messages, OPEN_WHEN_MOVED, nullptr, nullptr, SCAN_DIRECTORY);
        apply_thread_rules(nullptr);
        copy_settings();
        generation.fetch_add(1, std::memory_order_relaxed);
        retry = logger->claim_retry();
    }
    delete fresh;  // the previous content
    if (retry) _retry_held_files();
    _apply_black_box(messages);
    return parsed;
}

// The live configuration cannot change while update_cs_ is held, and the
// report reads it with own positions only, so rank evaluations go on
// meanwhile and no manager lock is held for the report.
void trace_manager_c::config_content(tr_stream_c& out) {
    kor_lock_c updating(&update_cs_);
    config_report(*_settled_config(), out);
}

void trace_manager_c::_apply_black_box(tr_stream_c& messages) {
    std::string directory, name, rank_names;
    box_settings_s settings;
    {
        multi_reader_lock_c hold(lock_);
        // The additional ranks' names in the order of their bits, so that a
        // reader of the box names them as the log does.
        ptr_list_c::position_t pos = nullptr;
        const unsigned n = config->additional_ranks.num();
        void* e = config->additional_ranks.first(&pos);
        for (unsigned p = 0; p < n && e; ++p, e = config->additional_ranks.next(&pos))
            rank_names.append(p ? " " : "").append(static_cast<const char*>(e));
        settings.size = config->get_black_box_size();
        settings.ranks = config->get_black_box_ranks();
        settings.on_error = config->get_black_box_on_error();
        settings.keep = logger->files_to_keep;
        settings.grace = logger->retention_grace;
        directory = logger->directory.c_str();
        name = logger->module_name;
    }
    settings.directory = directory.c_str();
    settings.name = name.c_str();
    settings.rank_names = rank_names.c_str();
    if (!box.apply(settings, messages)) return;
    _publish_flags();
    generation.fetch_add(1, std::memory_order_relaxed);
}
