// The configuration report: the model written back as keyword lines (LF line
// ends), for the log banner and the configuration-content control function.
// A report runs while rank evaluations read the same configuration (nobody
// changes it meanwhile): every list is walked with an own position, never
// with the list's shared cursor, so no critical section is needed and
// evaluations are not held up for the length of the report.
#include "config/config_parser.h"
#include "kor/mix.h"

namespace {

void append_word(tr_stream_c& out, bool value) {
    const char* word = value ? mix_n::True : mix_n::False;
    if (word && *word)
        out.append(word);
}

void append_text(tr_stream_c& out, const char* text) {
    if (text && *text)
        out.append(text);
}

// "<keyword> <word>\n"
void switch_line(tr_stream_c& out, unsigned id, bool value) {
    out.append(keyword_name(id)).append(' ');
    append_word(out, value);
    out.append('\n');
}

// The three forms of an output rank line.
void output_ranks_line(config_parser_c& config, tr_stream_c& out, unsigned id, unsigned mask) {
    if (mask == 0 || mask == RANK_ALL) {
        switch_line(out, id, mask != 0);
        return;
    }
    out.append('\n').append(keyword_name(id)).append(' ');
    rank_list(config, out, mask, '+', false);
    out.append('\n');
}

}  // namespace

void rank_list(config_parser_c& config, tr_stream_c& out, unsigned mask, char separator, bool leading) {
    if (mask == 0)
        return;
    bool first = true;
    unsigned written = 0;
    for (const rank_name_s& row : rank_name_table) {
        if (row.mask == RANK_ALL || (row.mask & written) || !(row.mask & mask))
            continue;
        written |= row.mask;
        if (!first || leading)
            out.append(separator);
        first = false;
        out.append(row.name).append(' ');
    }
    ptr_list_c::position_t pos = nullptr;
    unsigned n = config.additional_ranks.num();
    void* e = config.additional_ranks.first(&pos);
    for (unsigned p = 1; p <= n; ++p, e = config.additional_ranks.next(&pos)) {
        if (p > MAX_ADDITIONAL_RANKS)
            break;
        if (!(mask & (1u << (p + ADDITIONAL_RANK_SHIFT))))
            continue;
        if (!first || leading)
            out.append(separator);
        first = false;
        append_text(out, static_cast<const char*>(e));
        out.append(' ');
    }
}

void rule_list_report(config_parser_c& config, tr_stream_c& out, unsigned id,
                      config_parser_c::log_rank_list_c& list) {
    out.append('\n');
    if (list.num() == 0) {
        out.append('#').append(keyword_name(id)).append(" Absent\n");
        return;
    }
    ptr_list_c::position_t at = nullptr;
    const unsigned count = list.num();
    void* e = list.first(&at);
    for (unsigned k = 0; k < count; ++k, e = list.next(&at)) {
        config_parser_c::log_rank_s* r = config_parser_c::log_rank_list_c::rule_of(e);
        unsigned rank_id = id;
        if (id == KW_MODULE_CONTENT) {
            config_parser_c::module_rank_s* m = static_cast<config_parser_c::module_rank_s*>(r);
            out.append(keyword_name(KW_MODULE_CONTENT)).append(' ');
            append_text(out, m->name);
            out.append(' ');
            ptr_list_c::position_t pos = nullptr;
            unsigned n = m->content.num();
            void* item = m->content.first(&pos);
            for (unsigned i = 0; i < n; ++i, item = m->content.next(&pos)) {
                out.append(' ');
                append_text(out, static_cast<const char*>(item));
            }
            out.append('\n');
            rank_id = KW_MODULE_RANK;
        }
        out.append(keyword_name(rank_id)).append(' ');
        append_text(out, r->name);
        out.append(' ');
        rank_list(config, out, r->add_ranks, '+', r->relative);
        out.append(' ');
        rank_list(config, out, r->remove_ranks, '-', true);
        out.append('\n');
    }
}

void config_report(config_parser_c& config, tr_stream_c& out) {
    out.truncate(0);
    out.append('\n');

    out.append("# Config filename ").append('"');
    if (!config.config_file_name)
        out.append("None");
    else
        append_text(out, config.config_file_name);
    out.append('"').append("\n\n");

    if (config.additional_ranks.num() > 0) {
        out.append(keyword_name(KW_ADITIONAL_RANKS));
        ptr_list_c::position_t pos = nullptr;
        unsigned n = config.additional_ranks.num();
        void* e = config.additional_ranks.first(&pos);
        for (unsigned i = 0; i < n; ++i, e = config.additional_ranks.next(&pos)) {
            out.append(' ');
            append_text(out, static_cast<const char*>(e));
        }
        out.append('\n');
    } else {
        out.append('#').append(keyword_name(KW_ADITIONAL_RANKS)).append(' ').append("Absent\n");
    }
    out.append('\n');

    switch_line(out, KW_PRINT_TIME, config.print_time);
    out.append(keyword_name(KW_LOG_FILE_SIZE)).append(' ').append(config.log_file_size).append('\n');
    out.append(keyword_name(KW_LOG_FILES_TO_KEEP)).append(' ').append(config.log_files_to_keep).append('\n');
    out.append(keyword_name(KW_LOG_DIRECTORY_NAME)).append(' ');
    append_text(out, config.log_directory.c_str());
    out.append('\n');
    switch_line(out, KW_ADD_PID_TO_LOG_FILENAME, config.add_pid_to_log_filename);
    // The shipping keywords only when the text gave them: a configuration
    // without them reports as it always did.
    if (config.shipping_set & config_parser_c::SHIPPING_NAMING)
        out.append(keyword_name(KW_LOG_FILE_NAMING)).append(config.log_naming_stable ? " stable\n" : " rename\n");
    if (config.shipping_set & config_parser_c::SHIPPING_GRACE)
        out.append(keyword_name(KW_LOG_RETENTION_GRACE)).append(' ').append(config.log_retention_grace).append('\n');
    if (config.shipping_set & config_parser_c::SHIPPING_SEQUENCE) switch_line(out, KW_PRINT_SEQUENCE, config.print_sequence);
    // The black box's keywords, likewise only when given.
    if (config.black_box_set & config_parser_c::BLACK_BOX_SIZE)
        out.append(keyword_name(KW_BLACK_BOX_SIZE)).append(' ').append(config.black_box_size).append('\n');
    if (config.black_box_set & config_parser_c::BLACK_BOX_RANK) {
        out.append(keyword_name(KW_BLACK_BOX_RANK)).append(' ');
        if (config.black_box_ranks == RANK_ALL) out.append("All ");
        else if (config.black_box_ranks == 0) out.append("-All ");
        else rank_list(config, out, config.black_box_ranks, '+', false);
        out.append('\n');
    }
    if (config.black_box_set & config_parser_c::BLACK_BOX_ON_ERROR)
        out.append(keyword_name(KW_BLACK_BOX_ON_ERROR)).append(' ').append(config.black_box_on_error).append('\n');
    switch_line(out, KW_PRINT_FILE, config.print_file);
    switch_line(out, KW_PRINT_FUNCTION, config.print_function);
    switch_line(out, KW_PRINT_LINE, config.print_line);
    switch_line(out, KW_KEEP_STACK, config.keep_stack);
    switch_line(out, KW_DO_INDENTATION, config.do_indentation);

    output_ranks_line(config, out, KW_PRINT_ON_SCREEN, config.screen_ranks);
    output_ranks_line(config, out, KW_PRINT_TO_DEBUG_VEW, config.debugger_ranks);

    out.append('\n').append(keyword_name(KW_DEFAULT_LOGGING_RANK)).append(' ');
    rank_list(config, out, config.default_rank, '+', false);
    out.append('\n');

    rule_list_report(config, out, KW_MODULE_CONTENT, config.module_ranks);
    rule_list_report(config, out, KW_FILE, config.file_ranks);
    rule_list_report(config, out, KW_CLASS, config.class_ranks);
    rule_list_report(config, out, KW_FUNCTION, config.function_ranks);

    out.append('\n');
    if (config.thread_ranks.num() == 0) {
        out.append('#').append(" Threads Configuration is Absent\n");
        return;
    }
    ptr_list_c::position_t pos = nullptr;
    unsigned n = config.thread_ranks.num();
    void* e = config.thread_ranks.first(&pos);
    for (unsigned i = 0; i < n && e; ++i, e = config.thread_ranks.next(&pos)) {
        config_parser_c::thread_rank_c* r = config_parser_c::thread_rank_c::from_element(e);
        if (r->name) {
            out.append(keyword_name(KW_THREAD_BY_NAME)).append(' ');
            append_text(out, r->name);
        } else if (r->sys_id() != 0) {
            out.append(keyword_name(KW_THREAD_BY_SYS_ID)).append(' ').append(r->sys_id());
        } else {
            out.append(keyword_name(KW_THREAD_BY_APPL_ID)).append(' ').append(r->appl_id());
        }
        out.append(r->enabled() ? " Include" : " Exclude").append('\n');
    }
}
