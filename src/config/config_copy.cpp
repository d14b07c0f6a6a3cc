// A deep copy of a configuration (every setting, every rule list in its
// order, module contents, thread rules and additional ranks) and the O(1)
// exchange of two configurations' content. A buffer parse fills such a copy
// of the live configuration outside the manager's lock and then exchanges
// it into the live object, which gives the same result as parsing into the
// live object itself.
#include <new>
#include <utility>

#include "config/config_parser.h"

namespace {

// The strings of one list, appended in order (null elements included).
void copy_strings(const str_list_c& from, str_list_c& to) {
    str_list_c& source = const_cast<str_list_c&>(from);  // own position: the list is only read
    ptr_list_c::position_t pos = nullptr;
    const unsigned n = source.num();
    void* e = source.first(&pos);
    for (unsigned i = 0; i < n; ++i, e = source.next(&pos)) to.append_string(static_cast<const char*>(e));
}

// What a rule list holds: log_rank_s, module_rank_s or thread_rank_c.
enum rule_kind_e {
    RANK_RULES,
    MODULES,
    THREAD_RULES
};

// A copy of one record of the given kind.
config_parser_c::log_rank_s* copy_rule(const config_parser_c::log_rank_s* r, rule_kind_e kind) {
    using cp = config_parser_c;
    if (kind == THREAD_RULES) {
        auto* t = cp::thread_rank_c::from_element(const_cast<cp::log_rank_s*>(r));
        return (new cp::thread_rank_c(t->name, t->sys_id(), t->appl_id(), t->enabled()))->as_rule();
    }
    cp::log_rank_s* copy;
    if (kind == MODULES) {
        auto* m = new cp::module_rank_s(r->name);
        copy_strings(static_cast<const cp::module_rank_s*>(r)->content, m->content);
        copy = m;
    } else {
        copy = new cp::log_rank_s(r->name);
    }
    copy->relative = r->relative;
    copy->add_ranks = r->add_ranks;
    copy->remove_ranks = r->remove_ranks;
    return copy;
}

// The records of one list, appended in order to an empty list.
void copy_rule_list(config_parser_c::log_rank_list_c& from, config_parser_c::log_rank_list_c& to,
                    rule_kind_e kind) {
    ptr_list_c::position_t pos = nullptr;
    const unsigned n = from.num();
    void* e = from.first(&pos);
    for (unsigned i = 0; i < n; ++i, e = from.next(&pos))
        to.append(copy_rule(config_parser_c::log_rank_list_c::rule_of(e), kind));
}

}  // namespace

config_parser_c* copy_config(config_parser_c& from) {
    config_parser_c* to = new (std::nothrow) config_parser_c;
    if (!to) return nullptr;
    copy_rule_list(from.module_ranks, to->module_ranks, MODULES);
    copy_rule_list(from.file_ranks, to->file_ranks, RANK_RULES);
    copy_rule_list(from.class_ranks, to->class_ranks, RANK_RULES);
    copy_rule_list(from.function_ranks, to->function_ranks, RANK_RULES);
    copy_rule_list(from.thread_ranks, to->thread_ranks, THREAD_RULES);
    copy_strings(from.additional_ranks, to->additional_ranks);
    to->config_file_name = str_list_c::copy_string(from.config_file_name);
    to->log_directory.append(from.log_directory);
    to->add_pid_to_log_filename = from.add_pid_to_log_filename;
    to->log_file_size = from.log_file_size;
    to->log_files_to_keep = from.log_files_to_keep;
    to->default_rank = from.default_rank;
    to->screen_ranks = from.screen_ranks;
    to->debugger_ranks = from.debugger_ranks;
    to->print_file = from.print_file;
    to->print_function = from.print_function;
    to->print_line = from.print_line;
    to->print_time = from.print_time;
    to->keep_stack = from.keep_stack;
    to->do_indentation = from.do_indentation;
    to->log_naming_stable = from.log_naming_stable;
    to->log_retention_grace = from.log_retention_grace;
    to->print_sequence = from.print_sequence;
    to->shipping_set = from.shipping_set;
    to->black_box_size = from.black_box_size;
    to->black_box_ranks = from.black_box_ranks;
    to->black_box_on_error = from.black_box_on_error;
    to->black_box_set = from.black_box_set;
    return to;
}

void swap_config(config_parser_c& a, config_parser_c& b) {
    a.module_ranks.swap_elements(b.module_ranks);
    a.file_ranks.swap_elements(b.file_ranks);
    a.class_ranks.swap_elements(b.class_ranks);
    a.function_ranks.swap_elements(b.function_ranks);
    a.thread_ranks.swap_elements(b.thread_ranks);
    a.additional_ranks.swap_elements(b.additional_ranks);
    std::swap(a.config_file_name, b.config_file_name);
    std::swap(a.log_directory.buffer, b.log_directory.buffer);
    std::swap(a.log_directory.length, b.log_directory.length);
    std::swap(a.log_directory.capacity, b.log_directory.capacity);
    std::swap(a.add_pid_to_log_filename, b.add_pid_to_log_filename);
    std::swap(a.log_file_size, b.log_file_size);
    std::swap(a.log_files_to_keep, b.log_files_to_keep);
    std::swap(a.default_rank, b.default_rank);
    std::swap(a.screen_ranks, b.screen_ranks);
    std::swap(a.debugger_ranks, b.debugger_ranks);
    std::swap(a.print_file, b.print_file);
    std::swap(a.print_function, b.print_function);
    std::swap(a.print_line, b.print_line);
    std::swap(a.print_time, b.print_time);
    std::swap(a.keep_stack, b.keep_stack);
    std::swap(a.do_indentation, b.do_indentation);
    std::swap(a.log_naming_stable, b.log_naming_stable);
    std::swap(a.log_retention_grace, b.log_retention_grace);
    std::swap(a.print_sequence, b.print_sequence);
    std::swap(a.shipping_set, b.shipping_set);
    std::swap(a.black_box_size, b.black_box_size);
    std::swap(a.black_box_ranks, b.black_box_ranks);
    std::swap(a.black_box_on_error, b.black_box_on_error);
    std::swap(a.black_box_set, b.black_box_set);
}
