// The C interface's scopes, start and switches (katrace_c.h): each function
// runs the matching operation of katr_entry_c or of the C++ exports. A C
// scope holds a katr_entry_c in the caller's storage, built there by
// katr_c_scope_begin and destroyed by katr_c_scope_end.
#include <cstddef>
#include <cstdio>
#include <new>

#include "katrace.h"
#include "katrace_c.h"

static_assert(sizeof(katr_entry_c) <= sizeof(katr_c_scope::katr_entry_),
              "the C scope's storage holds the entry object");
static_assert(alignof(katr_entry_c) <= alignof(void*), "the C scope's storage is aligned for the entry object");

// What the C functions need of katr_entry_c beyond its public operations
// (the class names it a friend): the entry in a scope's storage, the
// va_list forms of the print family, and the offsets of the two members the
// inline test of katrace_c.h writes (initialised flag, file name).
struct katr_c_facade_s {
    static katr_entry_c* entry(katr_c_scope* s) {
        return s && s->katr_live_ ? std::launder(reinterpret_cast<katr_entry_c*>(s->katr_entry_)) : nullptr;
    }
    static unsigned offset_of(const katr_entry_c& e, const void* member) {
        return static_cast<unsigned>(static_cast<const unsigned char*>(member) -
                                     reinterpret_cast<const unsigned char*>(&e));
    }
    static void vprint(katr_c_scope* s, katr_entry_c::line_end_e end, unsigned rank, int line, const char* format,
                       va_list arguments) {
        katr_entry_c* e = entry(s);
        // The same inline test as the C++ print family makes first.
        if (!e || !katr_may_pass(*e, rank)) return;
        e->_print_va(end, katr_entry_c::FIXED_RANK, rank, nullptr, line, format, arguments);
    }
    static void vprint_named(katr_c_scope* s, katr_entry_c::line_end_e end, const char* rank_name,
                             const char* format, va_list arguments) {
        if (katr_entry_c* e = entry(s)) e->_print_va(end, katr_entry_c::NAMED_RANK, 0, rank_name, 0, format, arguments);
    }
    static const katr_entry_c::line_end_e as_formatted = katr_entry_c::AS_FORMATTED;
    static const katr_entry_c::line_end_e new_line = katr_entry_c::NEW_LINE;
};

using facade = katr_c_facade_s;

extern "C" {

KATR_C_API void katr_c_scope_begin(katr_c_scope* s, const char* function, const char* file, unsigned* mask,
                                   unsigned* generation, int line, int enter_leave) {
    if (!s) {
        // Nothing to build the scope in; the scope's later calls find null too.
        std::fprintf(stderr, "katrace: katr_c_scope_begin called with a null scope\n");
        return;
    }
    katr_entry_c* e = new (s->katr_entry_) katr_entry_c(function, file, mask, generation, line, enter_leave != 0);
    s->mask = e->rank_mask_cache;
    s->generation = e->generation_cache;
    s->enter_leave = enter_leave != 0;
    s->katr_initialised_at_ = facade::offset_of(*e, &e->initialised);
    s->katr_file_name_at_ = facade::offset_of(*e, &e->file_name);
    s->katr_live_ = 1;
}

KATR_C_API void katr_c_scope_end(katr_c_scope* s) {
    katr_entry_c* e = facade::entry(s);
    if (!e) return;
    s->katr_live_ = 0;
    // The object's memory stays readable (a late inline test finds the
    // scope ended); only its destruction runs.
    e->~katr_entry_c();
}

KATR_C_API void katr_c_vprint(katr_c_scope* s, unsigned rank, int line, const char* format, va_list arguments) {
    facade::vprint(s, facade::as_formatted, rank, line, format, arguments);
}

KATR_C_API void katr_c_vprint_nl(katr_c_scope* s, unsigned rank, int line, const char* format,
                                 va_list arguments) {
    facade::vprint(s, facade::new_line, rank, line, format, arguments);
}

KATR_C_API void katr_c_print(katr_c_scope* s, unsigned rank, int line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    facade::vprint(s, facade::as_formatted, rank, line, format, arguments);
    va_end(arguments);
}

KATR_C_API void katr_c_print_nl(katr_c_scope* s, unsigned rank, int line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    facade::vprint(s, facade::new_line, rank, line, format, arguments);
    va_end(arguments);
}

KATR_C_API void katr_c_print_long_string(katr_c_scope* s, unsigned rank, int line, const char* text,
                                         katr_c_len_t length) {
    if (katr_entry_c* e = facade::entry(s)) e->print_long_string(rank, line, text, length);
}

KATR_C_API int katr_c_is_set(katr_c_scope* s, unsigned rank) {
    katr_entry_c* e = facade::entry(s);
    return e && e->is_set(rank);
}

KATR_C_API void katr_c_vprint_user_defined(katr_c_scope* s, const char* rank_name, const char* format,
                                           va_list arguments) {
    facade::vprint_named(s, facade::as_formatted, rank_name, format, arguments);
}

KATR_C_API void katr_c_vprint_user_defined_nl(katr_c_scope* s, const char* rank_name, const char* format,
                                              va_list arguments) {
    facade::vprint_named(s, facade::new_line, rank_name, format, arguments);
}

KATR_C_API void katr_c_print_user_defined(katr_c_scope* s, const char* rank_name, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    facade::vprint_named(s, facade::as_formatted, rank_name, format, arguments);
    va_end(arguments);
}

KATR_C_API void katr_c_print_user_defined_nl(katr_c_scope* s, const char* rank_name, const char* format,
                                             ...) {
    va_list arguments;
    va_start(arguments, format);
    facade::vprint_named(s, facade::new_line, rank_name, format, arguments);
    va_end(arguments);
}

KATR_C_API void katr_c_print_user_defined_long_string(katr_c_scope* s, const char* rank_name, const char* text,
                                                      katr_c_len_t length) {
    if (katr_entry_c* e = facade::entry(s)) e->print_user_defined_long_string(rank_name, text, length);
}

KATR_C_API int katr_c_is_set_user_defined(katr_c_scope* s, const char* rank_name) {
    katr_entry_c* e = facade::entry(s);
    return e && e->is_set_user_defined(rank_name);
}

KATR_C_API void katr_c_init(const char* config_file, const char* log_directory) {
    katr_init(config_file, log_directory);
}

KATR_C_API int katr_c_is_console_application(void) { return katr_is_console_application(); }
KATR_C_API void katr_c_set_verbose(int on) { katr_set_verbose(on); }
KATR_C_API void katr_c_set_print_to_debug_vew(int on) { katr_set_print_to_debug_vew(on != 0); }
KATR_C_API void katr_c_change_pid(unsigned pid) { katr_change_pid(pid); }
KATR_C_API void katr_c_set_callback(katr_c_callback_f callback) { katr_set_callback(callback); }
KATR_C_API void katr_c_set_thread_info(const char* name, unsigned long appl_id) {
    katr_set_thread_info(name, appl_id);
}
KATR_C_API void katr_c_remove_trace(unsigned long thread_id) { katr_remove_trace(thread_id); }
KATR_C_API void katr_c_reset_thread_trace_name(const char* name) { katr_reset_thread_trace_name(name); }

}  // extern "C"
