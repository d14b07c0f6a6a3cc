// The configuration model: construction with the defaults, the rule records
// and lists, and the storing and merging of rank rules.
#include "config/config_parser.h"

#include <cstring>
#include <utility>

#include "kor/crit_section.h"

// ------------------------------------------------------------------ records

config_parser_c::log_rank_s::log_rank_s(const char* name_)
    : name(str_list_c::copy_string(name_)), relative(true), add_ranks(0), remove_ranks(0) {
}

config_parser_c::log_rank_s::~log_rank_s() {
    delete[] name;
}

config_parser_c::thread_rank_c::thread_rank_c(const char* name_, unsigned sys_id_,
                                              unsigned appl_id_, bool enabled_)
    : log_rank_s(name_) {
    relative = enabled_;
    add_ranks = sys_id_;
    remove_ranks = appl_id_;
}

config_parser_c::log_rank_list_c::~log_rank_list_c() {
    destroy_all();
}

void config_parser_c::log_rank_list_c::destroy_all() {
    kor_lock_c hold(cs());
    while (num() > 0) {
        log_rank_s* r = rule_of(first());
        remove_current();
        delete r;
    }
}

void config_parser_c::log_rank_list_c::append(void* data) {
    ptr_list_c::append(data);
    index_.added(*this, data, false);
}

void config_parser_c::log_rank_list_c::insert(void* data) {
    ptr_list_c::insert(data);
    index_.added(*this, data, true);
}

void* config_parser_c::log_rank_list_c::remove_current(position_t* pos) {
    index_.invalidate();
    return ptr_list_c::remove_current(pos);
}

void* config_parser_c::log_rank_list_c::remove_current_move_back(position_t* pos) {
    index_.invalidate();
    return ptr_list_c::remove_current_move_back(pos);
}

bool config_parser_c::log_rank_list_c::set_data(void* data, position_t* pos) {
    index_.invalidate();
    return ptr_list_c::set_data(data, pos);
}

bool config_parser_c::log_rank_list_c::copy(const ptr_list_c& other) {
    index_.invalidate();
    return ptr_list_c::copy(other);
}

void config_parser_c::log_rank_list_c::sort(compare_f compare) {
    index_.invalidate();
    ptr_list_c::sort(compare);
}

void config_parser_c::log_rank_list_c::clear() {
    index_.invalidate();
    ptr_list_c::clear();
}

void config_parser_c::log_rank_list_c::swap_elements(log_rank_list_c& other) {
    ptr_list_c::swap_elements(other);
    std::swap(index_, other.index_);
}

bool config_parser_c::module_rank_s::add_content(const char* item) {
    if (!item || content_index.find(content, item))
        return false;
    const bool front = !is_pattern_name(nullptr, item);
    if (front)
        content.insert_string(item);
    else
        content.append_string(item);
    ptr_list_c::position_t pos = nullptr;
    content_index.added(content, front ? content.first(&pos) : content.last(&pos), front);
    return true;
}

// ------------------------------------------------------------ configuration

config_parser_c::config_parser_c()
    : config_file_name(nullptr),
      add_pid_to_log_filename(false),
      log_file_size(0x500000),
      log_files_to_keep(5),
      default_rank(0xE),
      screen_ranks(0),
      debugger_ranks(RANK_ALL),
      print_file(false),
      print_function(true),
      print_line(false),
      print_time(true),
      keep_stack(false),
      do_indentation(false),
      log_naming_stable(false),
      log_retention_grace(0),
      print_sequence(false),
      shipping_set(0),
      black_box_size(0),
      black_box_ranks(RANK_ALL),
      black_box_on_error(0),
      black_box_set(0) {
}

config_parser_c::~config_parser_c() {
    // The members follow in reverse order of declaration: log_directory,
    // additional_ranks, the thread, function, class, file and module lists,
    // and token.
    delete[] config_file_name;
    config_file_name = nullptr;
}

unsigned config_parser_c::additional_rank_mask(const char* name) {
    unsigned p = additional_ranks.string_position(name, true);
    if (p == 0 || p > MAX_ADDITIONAL_RANKS)
        return 0;
    return 1u << (p + ADDITIONAL_RANK_SHIFT);
}

unsigned config_parser_c::rank_mask_of(const char* name) {
    unsigned m = ::find_rank_mask(name);
    return m ? m : additional_rank_mask(name);
}

// ------------------------------------------------------------------- rules

static bool plain_char(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool config_parser_c::is_pattern_name(const log_rank_s* record, const char* text) {
    if (!text)
        text = record ? record->name : nullptr;
    if (!text)
        return false;
    for (const char* p = text; *p; ++p) {
        if (plain_char(static_cast<unsigned char>(*p)))
            continue;
        if (*p == '.') {
            const char* ext = p + 1;
            if (text_stricmp(ext, "h") == 0 || text_stricmp(ext, "hpp") == 0 ||
                text_stricmp(ext, "c") == 0 || text_stricmp(ext, "cpp") == 0)
                return false;
        }
        return true;
    }
    return false;
}

void config_parser_c::merge_rank_rule(log_rank_s& stored, const log_rank_s& added) {
    if (!added.relative) {
        stored.relative = false;
        stored.add_ranks = added.add_ranks;
        stored.remove_ranks = added.remove_ranks;
    } else if (!stored.relative) {
        stored.add_ranks = (stored.add_ranks & ~added.remove_ranks) | added.add_ranks;
    } else {
        stored.add_ranks &= ~added.remove_ranks;
        stored.remove_ranks &= ~added.add_ranks;
        stored.add_ranks |= added.add_ranks;
        stored.remove_ranks |= added.remove_ranks;
    }
}

bool config_parser_c::store_rank_rule(log_rank_list_c& list, log_rank_s* record, bool merge) {
    if (!record)
        return false;
    kor_lock_c hold(list.cs());
    if (log_rank_s* stored = list.find_named(record->name)) {
        if (merge)
            merge_rank_rule(*stored, *record);
        delete record;
        return false;
    }
    if (is_pattern_name(record, nullptr))
        list.append(record);
    else
        list.insert(record);
    return true;
}
