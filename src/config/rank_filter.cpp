// The rank filter: which ranks a trace site (function name, file name) has,
// from the default rank and the module, file, class and function rules.
//
// Many threads evaluate at once under the manager's reader lock. Every walk
// holds its list's critical section because it moves the list's cursor, and
// the values of the rule found are copied while that section is held.
#include <cstring>

#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "kor/mix.h"

namespace {

// A rule found by a search, copied out of its list.
struct found_rule_s {
    bool found;
    bool relative;
    unsigned add_ranks;
    unsigned remove_ranks;
};

void copy_rule(found_rule_s& out, const config_parser_c::log_rank_s& r) {
    out.found = true;
    out.relative = r.relative;
    out.add_ranks = r.add_ranks;
    out.remove_ranks = r.remove_ranks;
}

// The first rule of the list whose name (a pattern) matches text.
found_rule_s find_rule(config_parser_c::log_rank_list_c& list, const char* text) {
    found_rule_s out = {false, false, 0, 0};
    if (!text)
        return out;
    kor_lock_c hold(list.cs());
    if (list.num() == 0)
        return out;
    for (void* e = list.first(); e; e = list.next()) {
        const config_parser_c::log_rank_s* r = config_parser_c::log_rank_list_c::rule_of(e);
        if (r->name && mix_n::regcmp(r->name, text, true)) {
            copy_rule(out, *r);
            break;
        }
    }
    return out;
}

// Whether a module's content holds an item matching the file name. The
// caller holds the module list's critical section.
bool module_matches(config_parser_c::module_rank_s& m, const char* file_name) {
    ptr_list_c::position_t pos = nullptr;
    unsigned n = m.content.num();
    void* e = m.content.first(&pos);
    for (unsigned i = 0; i < n; ++i, e = m.content.next(&pos)) {
        const char* item = static_cast<const char*>(e);
        if (item && mix_n::regcmp(item, file_name, true))
            return true;
    }
    return false;
}

unsigned modify(unsigned v, const found_rule_s& r) {
    return r.found ? (v | r.add_ranks) & ~r.remove_ranks : v;
}

// Length of the class part of a function name; 0 when there is none.
size_t class_part_length(const char* function_name) {
    if (!function_name)
        return 0;
    const char* colon = std::strrchr(function_name, ':');
    if (!colon || colon - function_name < 2)
        return 0;
    size_t len = static_cast<size_t>(colon - function_name);
    if (function_name[len - 1] == ':')
        --len;
    return len;
}

// The rule of list for the class part of function_name. The class part is
// copied into a buffer of this search's own (on the stack when it is short:
// evaluating a site allocates nothing). An empty class list is found empty by
// the search itself, under its critical section.
found_rule_s find_class_rule(config_parser_c::log_rank_list_c& list, const char* function_name) {
    const size_t len = class_part_length(function_name);
    if (len == 0)
        return found_rule_s{false, false, 0, 0};
    char small[256];
    if (len < sizeof(small)) {
        std::memcpy(small, function_name, len);
        small[len] = 0;
        return find_rule(list, small);
    }
    tr_stream_c part;
    part.append_n(function_name, len);
    return find_rule(list, part.c_str());
}

}  // namespace

bool config_parser_c::class_name_of(const char* function_name, tr_stream_c& out) {
    out.truncate(0);
    size_t len = class_part_length(function_name);
    if (len == 0)
        return false;
    out.append_n(function_name, len);
    return true;
}

config_parser_c::module_rank_s* config_parser_c::find_module(const char* file_name) {
    if (!file_name)
        return nullptr;
    kor_lock_c hold(module_ranks.cs());
    for (void* e = module_ranks.first(); e; e = module_ranks.next()) {
        module_rank_s* m = static_cast<module_rank_s*>(log_rank_list_c::rule_of(e));
        if (module_matches(*m, file_name))
            return m;
    }
    return nullptr;
}

unsigned config_parser_c::evaluate_rank(const char* function_name, const char* file_name) {
    // 1. Function rule; an absolute one decides alone.
    found_rule_s function_rule = find_rule(function_ranks, function_name);
    if (function_rule.found && !function_rule.relative)
        return function_rule.add_ranks;

    // 2. Class rule, by the class part of the function name.
    found_rule_s class_rule = find_class_rule(class_ranks, function_name);
    if (class_rule.found && !class_rule.relative)
        return modify(class_rule.add_ranks, function_rule);

    // 3. File rule.
    found_rule_s file_rule = find_rule(file_ranks, file_name);
    if (file_rule.found && !file_rule.relative)
        return modify(modify(file_rule.add_ranks, class_rule), function_rule);

    // 4. Module, found by its content.
    // (The rule stays valid after the search: the configuration does not
    // change while it is evaluated.)
    found_rule_s module_rule = {false, false, 0, 0};
    if (module_rank_s* m = find_module(file_name))
        copy_rule(module_rule, *m);
    unsigned base = (module_rule.found && !module_rule.relative) ? module_rule.add_ranks : default_rank;
    base = modify(base, module_rule);

    // 5. The relative rules, least specific first.
    base = modify(base, file_rule);
    base = modify(base, class_rule);
    return modify(base, function_rule);
}
