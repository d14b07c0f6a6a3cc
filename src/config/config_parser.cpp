// The configuration model: construction with the defaults, the rule records
// and lists, and the storing and merging of rank rules.
#include "config/config_parser.h"

#include <cstring>

#include "kor/crit_section.h"

// ------------------------------------------------------------------ records

config_parser_c::log_rank_s::log_rank_s(const char* name_)
    : name(str_list_c::copy_string(name_)), relative(true), add_ranks(0), remove_ranks(0)
{
}

config_parser_c::log_rank_s::~log_rank_s()
{
    delete[] name;
}

config_parser_c::thread_rank_c::thread_rank_c(const char* name_, unsigned sys_id_,
                                              unsigned appl_id_, bool enabled_)
    : log_rank_s(name_)
{
    relative = enabled_;
    add_ranks = sys_id_;
    remove_ranks = appl_id_;
}

config_parser_c::log_rank_list_c::~log_rank_list_c()
{
    destroy_all();
}

void config_parser_c::log_rank_list_c::destroy_all()
{
    kor_lock_c hold(cs());
    while (num() > 0) {
        log_rank_s* r = rule_of(first());
        remove_current();
        delete r;
    }
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
      do_indentation(false)
{
}

config_parser_c::~config_parser_c()
{
    // The members follow in reverse order of declaration: log_directory,
    // additional_ranks, the thread, function, class, file and module lists,
    // and token.
    delete[] config_file_name;
    config_file_name = nullptr;
}

unsigned config_parser_c::additional_rank_mask(const char* name)
{
    unsigned p = additional_ranks.string_position(name, true);
    if (p == 0 || p > MAX_ADDITIONAL_RANKS)
        return 0;
    return 1u << (p + ADDITIONAL_RANK_SHIFT);
}

unsigned config_parser_c::rank_mask_of(const char* name)
{
    unsigned m = ::find_rank_mask(name);
    return m ? m : additional_rank_mask(name);
}

// ------------------------------------------------------------------- rules

static bool plain_char(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool config_parser_c::is_pattern_name(const log_rank_s* record, const char* text)
{
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

void config_parser_c::merge_rank_rule(log_rank_s& stored, const log_rank_s& added)
{
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

bool config_parser_c::store_rank_rule(log_rank_list_c& list, log_rank_s* record, bool merge)
{
    if (!record)
        return false;
    kor_lock_c hold(list.cs());
    if (record->name) {
        unsigned n = list.num();
        void* e = list.first();
        for (unsigned i = 0; i < n; ++i, e = list.next()) {
            log_rank_s* stored = log_rank_list_c::rule_of(e);
            if (stored && stored->name && std::strcmp(stored->name, record->name) == 0) {
                if (merge)
                    merge_rank_rule(*stored, *record);
                delete record;
                return false;
            }
        }
    }
    if (is_pattern_name(record, nullptr))
        list.append(record);
    else
        list.insert(record);
    return true;
}
