// The configuration language: one keyword line at a time changes the model.
// A bad line is reported into the caller's messages and changes nothing
// (except the partial effects of AditionalRanks and ModuleContent lines);
// it never stops the parse.
#include <cstdio>
#include <cstring>

#include "config/config_parser.h"
#include "config/line_reader.h"
#include "kor/crit_section.h"
#include "kor/mix.h"

void config_parser_c::_report_line(tr_m_line_reader_c& reader, tr_stream_c& messages, const char* reason) {
    messages.append("Error in config data line \"").append(reader.current_line()).append(reason);
}

unsigned config_parser_c::parse_lines(tr_m_line_reader_c& reader, tr_stream_c& messages) {
    unsigned errors = 0;
    while (reader.next_meaningful_line()) {
        token.truncate(0);
        reader.next_token(token);
        unsigned id = keyword_id(token.c_str());
        bool* flag = nullptr;
        switch (id) {
        case KW_REFRESH_TIME:
            break;
        case KW_LOG_DIRECTORY_NAME:
            if (reader.next_token(token)) {
                log_directory.truncate(0);
                log_directory.append(token);
            } else {
                _report_line(reader, messages, "\"\n\t valid log directory name must be provided\n");
            }
            break;
        case KW_ADD_PID_TO_LOG_FILENAME: flag = &add_pid_to_log_filename; break;
        case KW_PRINT_FILE: flag = &print_file; break;
        case KW_PRINT_FUNCTION: flag = &print_function; break;
        case KW_PRINT_LINE: flag = &print_line; break;
        case KW_PRINT_TIME: flag = &print_time; break;
        case KW_KEEP_STACK: flag = &keep_stack; break;
        case KW_DO_INDENTATION: flag = &do_indentation; break;
        case KW_LOG_FILE_SIZE: {
            unsigned size = 0;
            if (reader.next_uint(size)) {
                log_file_size = size;
            } else {
                _report_line(reader, messages, "\"\n\t no valid log_file_size is provided\n");
                ++errors;
            }
            break;
        }
        case KW_LOG_FILES_TO_KEEP:
            if (!reader.next_uint(log_files_to_keep)) {
                _report_line(reader, messages, "\"\n\t no valid numver of log_files_to_keep is provided\n");
                ++errors;
            }
            break;
        case KW_THREAD_RESUME:
            thread_ranks.destroy_all();
            break;
        case KW_PRINT_SEQUENCE:
            flag = &print_sequence;
            break;
        case KW_LOG_FILE_NAMING:
            if (reader.next_token(token) && (text_stricmp(token.c_str(), "stable") == 0 ||
                                             text_stricmp(token.c_str(), "rename") == 0)) {
                log_naming_stable = text_stricmp(token.c_str(), "stable") == 0;
                shipping_set |= SHIPPING_NAMING;
            } else {
                _report_line(reader, messages, "\"\n\t LogFileNaming takes stable or rename\n");
                ++errors;
            }
            break;
        case KW_LOG_RETENTION_GRACE:
            if (reader.next_uint(log_retention_grace)) {
                shipping_set |= SHIPPING_GRACE;
            } else {
                _report_line(reader, messages, "\"\n\t no valid number of seconds for LogRetentionGrace is provided\n");
                ++errors;
            }
            break;
        case KW_BLACK_BOX_SIZE:
        case KW_BLACK_BOX_RANK:
        case KW_BLACK_BOX_ON_ERROR:
            if (!handle_black_box(id, reader, messages))
                ++errors;
            break;
        case KW_MODULE_CONTENT:
            if (!handle_module_content(reader, messages))
                ++errors;
            break;
        case KW_MODULE_RANK:
        case KW_FILE:
        case KW_CLASS:
        case KW_FUNCTION:
        case KW_DEFAULT_LOGGING_RANK:
            if (!handle_rank_rule(id, reader, messages))
                ++errors;
            break;
        case KW_THREAD_BY_NAME:
        case KW_THREAD_BY_SYS_ID:
        case KW_THREAD_BY_APPL_ID:
            if (!handle_thread_rule(id, reader, messages))
                ++errors;
            break;
        case KW_ADITIONAL_RANKS:
            if (!handle_additional_ranks(reader, messages))
                ++errors;
            break;
        case KW_PRINT_ON_SCREEN:
        case KW_PRINT_TO_DEBUG_VEW:
            if (!handle_output_ranks(id, reader, messages))
                ++errors;
            break;
        case KW_NONE:
            messages.append("Error in config data line \"").append(reader.current_line()).append("\"\n bad keyword \"").append(token).append("\" is provided\n");
            break;
        default:  // ClenAll has no handler
            _report_line(reader, messages, "\"\n");
            ++errors;
            break;
        }
        if (flag) {
            bool value = *flag;
            if (read_config_boolean(reader, value)) {
                *flag = value;
                if (flag == &print_sequence) shipping_set |= SHIPPING_SEQUENCE;
            } else
                _report_line(reader, messages, "\"\n\t valid Boolean key must be provided\n");
        }
    }
    return errors;
}

bool config_parser_c::read_config_boolean(tr_m_line_reader_c& reader, bool& value) {
    if (!reader.next_token(token))
        return false;
    const char* t = token.c_str();
    if (text_stricmp(t, "on") == 0 || (mix_n::True && text_stricmp(t, mix_n::True) == 0)) {
        value = true;
        return true;
    }
    if (text_stricmp(t, "off") == 0 || (mix_n::False && text_stricmp(t, mix_n::False) == 0)) {
        value = false;
        return true;
    }
    return false;
}

bool config_parser_c::read_rank_list(log_rank_s& record, tr_m_line_reader_c& reader) {
    bool result = true;
    char sign = '+';
    char c = reader.peek();
    if (c == '+' || c == '-') {
        record.relative = true;
        sign = c;
        reader.advance();
    } else {
        record.relative = false;
    }
    if (!reader.next_token(token))
        return false;
    for (;;) {
        unsigned mask = rank_mask_of(token.c_str());
        if (!mask)
            result = false;
        else if (sign == '-')
            record.remove_ranks |= mask;
        else
            record.add_ranks |= mask;

        c = reader.peek();
        if (c == 0)
            return result;
        sign = '+';
        if (c == '+' || c == '-') {
            sign = c;
            reader.advance();
        }
        if (!reader.next_token(token))
            return false;
    }
}

bool config_parser_c::check_rank_rule(log_rank_s& record, const char* line) {
    if (!record.relative && record.remove_ranks) {
        if (warnings)
            warnings->append("Warning! Entries for removal are meaningless in the line:\n\"")
                .append(line ? line : "")
                .append("\"\n");
        else
            std::fprintf(stderr, "Warning! Entries for removal are meaningless in the line:\n\"%s\"\n",
                         line ? line : "");
        record.remove_ranks = 0;
    }
    if (record.add_ranks & record.remove_ranks) {
        static const char* const same = "the same ranks are found for addition and removal";
        if (warnings)
            warnings->append("Warning! Inconsistent logging rank line, ").append(same).append("\n");
        else
            std::fprintf(stderr, "Warning! Inconsistent logging rank line, %s\n", same);
        record.remove_ranks &= ~record.add_ranks;
    }
    return true;
}

bool config_parser_c::handle_rank_rule(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages) {
    log_rank_s* record;
    if (id == KW_DEFAULT_LOGGING_RANK) {
        record = new log_rank_s(nullptr);
    } else {
        if (!reader.next_token(token)) {
            messages.append("Error in config data line \"").append(reader.current_line()).append("\"\n\t empty ").append(keyword_name(id)).append(" content line is provide\n");
            return true;
        }
        if (id == KW_MODULE_RANK)
            record = new module_rank_s(token.c_str());
        else
            record = new log_rank_s(token.c_str());
    }
    if (!read_rank_list(*record, reader)) {
        delete record;
        _report_line(reader, messages, "\"\n");
        return false;
    }
    check_rank_rule(*record, reader.current_line());
    switch (id) {
    case KW_DEFAULT_LOGGING_RANK:
        if (record->relative)
            default_rank = (default_rank | record->add_ranks) & ~record->remove_ranks;
        else
            default_rank = record->add_ranks;
        delete record;
        break;
    case KW_MODULE_RANK: store_rank_rule(module_ranks, record); break;
    case KW_FILE: store_rank_rule(file_ranks, record); break;
    case KW_CLASS: store_rank_rule(class_ranks, record); break;
    default: store_rank_rule(function_ranks, record); break;
    }
    return true;
}

bool config_parser_c::handle_module_content(tr_m_line_reader_c& reader, tr_stream_c& messages) {
    if (!reader.next_token(token)) {
        _report_line(reader, messages, "\"\n\t empty module content line is provided\n");
        return true;
    }
    // The module list's section is held for the whole line: the content of
    // a stored module is read by evaluations under that section.
    kor_lock_c hold(module_ranks.cs());
    module_rank_s* module = static_cast<module_rank_s*>(module_ranks.find_named(token.c_str()));
    bool is_new = module == nullptr;
    if (is_new)
        module = new module_rank_s(token.c_str());

    while (reader.next_token(token))
        module->add_content(token.c_str());
    if (!is_new)
        return true;
    if (module->content.num() == 0) {
        messages.append("Error in config data line \"").append(reader.current_line()).append("\"\n\t empty module \"").append(module->name).append("\" is provided\n");
        delete module;
        return true;
    }
    if (is_pattern_name(module, nullptr))
        module_ranks.append(static_cast<log_rank_s*>(module));
    else
        module_ranks.insert(static_cast<log_rank_s*>(module));
    return true;
}

bool config_parser_c::handle_thread_rule(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages) {
    unsigned number = 0;
    tr_stream_c name;
    if (id == KW_THREAD_BY_NAME) {
        if (!reader.next_token(name)) {
            _report_line(reader, messages, "\"\n\t valid thread name must be provided\n");
            return true;
        }
    } else if (!reader.next_uint(number) || number == 0) {
        _report_line(reader, messages, "\"\n\t valid ID value must be provided\n");
        return true;
    }
    bool enabled = false;
    if (!read_config_boolean(reader, enabled)) {
        _report_line(reader, messages, "\"\n\t valid Boolean key must be provided\n");
        return true;
    }
    thread_rank_c* rule;
    if (id == KW_THREAD_BY_NAME)
        rule = new thread_rank_c(name.c_str(), 0, 0, enabled);
    else if (id == KW_THREAD_BY_SYS_ID)
        rule = new thread_rank_c(nullptr, number, 0, enabled);
    else
        rule = new thread_rank_c(nullptr, 0, number, enabled);

    kor_lock_c hold(thread_ranks.cs());
    thread_rank_c* head = thread_rank_c::from_element(thread_ranks.first());
    if (head && head->enabled() != enabled) {
        // The list only ever holds rules of one value.
        thread_ranks.destroy_all();
        head = nullptr;
    }
    if (!head) {
        thread_ranks.insert(rule->as_rule());
        return true;
    }
    if (id == KW_THREAD_BY_NAME) {
        store_rank_rule(thread_ranks, rule->as_rule(), false);
        return true;
    }
    for (void* e = thread_ranks.first(); e; e = thread_ranks.next()) {
        thread_rank_c* stored = thread_rank_c::from_element(e);
        bool same = id == KW_THREAD_BY_SYS_ID ? stored->sys_id() == number : stored->appl_id() == number;
        if (same) {
            delete rule;
            return true;
        }
    }
    thread_ranks.insert(rule->as_rule());
    return true;
}

bool config_parser_c::handle_additional_ranks(tr_m_line_reader_c& reader, tr_stream_c& messages) {
    while (reader.next_token(token)) {
        const char* name = token.c_str();
        bool add = true;
        if (*name == '+') {
            ++name;
        } else if (*name == '-') {
            add = false;
            ++name;
        }
        if (additional_ranks.find_string(name, true)) {
            if (!add)
                additional_ranks.remove_current_string();
            continue;
        }
        if (!add)
            continue;
        if (additional_ranks.num() >= MAX_ADDITIONAL_RANKS) {
            messages.append("Error in config data line \"").append(reader.current_line()).append("\"\n\t Unable to add RegistredRank \"").append(name).append("\", maximum=").append(MAX_ADDITIONAL_RANKS).append(" has been reached\n");
            return true;
        }
        additional_ranks.append_string(name);
    }
    return true;
}

bool config_parser_c::handle_output_ranks(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages) {
    unsigned& field = id == KW_PRINT_ON_SCREEN ? screen_ranks : debugger_ranks;
    unsigned value = field;
    bool accepted = false;
    bool word = false;
    if (reader.match_word("On")) {
        value = RANK_ALL;
        accepted = true;
    } else if (reader.match_word("Off")) {
        value = 0;
        accepted = true;
    } else if (reader.next_boolean(word)) {
        value = word ? RANK_ALL : 0;
        accepted = true;
    }
    if (!reader.at_line_end()) {
        log_rank_s list(nullptr);
        if (read_rank_list(list, reader)) {
            check_rank_rule(list, reader.current_line());
            if (list.relative)
                value = (value | list.add_ranks) & ~list.remove_ranks;
            else
                value = list.add_ranks;
            accepted = true;
        } else {
            accepted = false;
        }
    }
    if (!accepted) {
        _report_line(reader, messages, "\"\n");
        return false;
    }
    field = value;
    return true;
}
