/* katrace public interface: the one header a host includes.
 * Compiles as C++11. Everything not declared here is private to the library. */
#ifndef KATRACE_H
#define KATRACE_H

/* KATRACE_VERSION_MAJOR, _MINOR, _PATCH, _STRING and _NUMBER */
#include "katrace_version.h"

/* KATRACE_STATIC: linked with the library's static parts (its own tests and
 * tools), where nothing is imported or exported. */
#if defined(KATRACE_STATIC)
#  define KATR_API
#  if defined(_WIN32)
typedef wchar_t katr_wchar_t;
#  else
typedef char16_t katr_wchar_t;
#  endif
#elif defined(_WIN32)
#  if defined(KATRACE_BUILDING)
#    define KATR_API __declspec(dllexport)
#  else
#    define KATR_API __declspec(dllimport)
#  endif
typedef wchar_t katr_wchar_t;
#else
#  define KATR_API __attribute__((visibility("default")))
typedef char16_t katr_wchar_t;
#endif

/* Rank bits of the fixed ranks. */
#define KATR_RANK_TRACE       0x0001u
#define KATR_RANK_FATAL       0x0002u
#define KATR_RANK_ERROR       0x0004u
#define KATR_RANK_WARNING     0x0008u
#define KATR_RANK_LOG         0x0010u
#define KATR_RANK_NOTE        0x0020u
#define KATR_RANK_VAR         0x0040u
#define KATR_RANK_DEBUG       0x0080u
#define KATR_RANK_DEVELOPMENT 0x0100u
#define KATR_RANK_QA          0x0200u
#define KATR_RANK_USER1       0x0400u
#define KATR_RANK_USER2       0x0800u
#define KATR_RANK_USER3       0x1000u
#define KATR_RANK_SNC         0x2000u
#define KATR_RANK_ALL         0xFFFFFFFFu
/* The mask a trace site starts with, before the library has judged it:
 * fatal, error and warning. */
#define KATR_RANK_SITE_DEFAULT (KATR_RANK_FATAL | KATR_RANK_ERROR | KATR_RANK_WARNING)

/* ------------------------------------------------------------ trace entry */
#include <stdarg.h>
#include <stddef.h>

struct thread_trace_s;
class tr_stream_c;

#if defined(__GNUC__)
#  if defined(__MINGW32__)
#    define KATR_FORMAT_CHECK(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#  else
#    define KATR_FORMAT_CHECK(fmt, first) __attribute__((format(printf, fmt, first)))
#  endif
#else
#  define KATR_FORMAT_CHECK(fmt, first)
#endif

/* One traced scope. The host makes one object per scope (a local), passing
 * the scope's function and file name (borrowed, not copied) and the addresses
 * of the two variables of its trace site: the cached rank mask and the
 * configuration generation it belongs to. The first use of the object prints
 * an "enter" line (when the site has the trace rank), its destruction the
 * matching "leave" line. No operation changes the thread's last error code.
 * Construction, destruction and the macros' test are inline; only the
 * members marked KATR_API are the library's. */
class katr_entry_c {
public:
    unsigned* rank_mask_cache;     /* the site's cached rank mask */
    unsigned* generation_cache;    /* the generation that mask was computed under */
    const char* function_name;     /* "Class::method", borrowed */
    const char* file_name;         /* source file, borrowed; a leading ".\" is skipped */
    int line;                      /* line of the scope, shown in the enter line */
    thread_trace_s* thread_record; /* the calling thread's record, fetched on first need */
    bool first_line;               /* no line with file and function shown yet */
    bool enter_leave;              /* print enter and leave lines */
    bool initialised;              /* the lazy initialisation has run */
    bool box_entered;              /* the black box recorded this scope's enter */

    /* Stores the arguments, inline; a null site variable is replaced by a
     * stand-in of the library's. While a black box is open the library
     * records the enter. */
    inline katr_entry_c(const char* function_name_, const char* file_name_, unsigned* rank_mask_cache_,
                        unsigned* generation_cache_, int line_, bool enter_leave_);
    KATR_API katr_entry_c(const katr_entry_c& other);
    KATR_API katr_entry_c& operator=(const katr_entry_c& other);
    /* Inline: calls the library only when a leave line may be due or the
     * scope stack is kept. */
    inline virtual ~katr_entry_c();

    /* A printf-style message when a bit of rank is enabled for this site and
     * the calling thread traces; print_nl appends CR LF to the format. */
    KATR_API void print(unsigned rank, int line, const char* format, ...) KATR_FORMAT_CHECK(4, 5);
    KATR_API void print_nl(unsigned rank, int line, const char* format, ...) KATR_FORMAT_CHECK(4, 5);
    /* length bytes of text, unformatted, without line end or length limit. */
    KATR_API void print_long_string(unsigned rank, int line, const char* text, unsigned long long length);
    /* The same under a rank the configuration added by name (AdditionalRank).
     * Each call takes the manager's reader lock and walks the additional-rank
     * list to find the name's bit, also when that rank is disabled. */
    KATR_API void print_user_defined(const char* rank_name, const char* format, ...) KATR_FORMAT_CHECK(3, 4);
    KATR_API void print_user_defined_nl(const char* rank_name, const char* format, ...) KATR_FORMAT_CHECK(3, 4);
    KATR_API void print_user_defined_long_string(const char* rank_name, const char* text,
                                                 unsigned long long length);
    /* Whether a bit of rank (or the named rank) is enabled for this site. */
    KATR_API bool is_set(unsigned rank, int unused = 0);
    KATR_API bool is_set_user_defined(const char* rank_name);

    /* The inline part of the first use: the file name's leading ".\" is
     * skipped and the object counts as initialised. Only valid when the
     * library's initialisation would do nothing more (see katr_may_pass). */
    void _initialise_quietly() {
        if (file_name && file_name[0] == '.' && file_name[1] == '\\') file_name += 2;
        initialised = true;
    }
    /* The library's part of the first use when more is due: the scope
     * stack push (KeepStack) or the enter line. */
    KATR_API void _first_use();
    /* Records the scope's enter in the black box (only while one is open). */
    KATR_API void _box_enter();

private:
    /* The C interface's scopes (katrace_c.h) reach the va_list forms. */
    friend struct katr_c_facade_s;
    void _check_init2();
    KATR_API void _use_stand_in_site();
    /* The destructor's work in the library: leave line and stack pop. */
    KATR_API void _leave();
    /* The steps every message shares: lazy initialisation, mask refresh,
     * the rank test and the thread's enabled flag; true when it passes. */
    bool _passes(unsigned rank);
    /* The formatted forms; a named rank is given by rank_name. */
    enum line_end_e {
        AS_FORMATTED,
        NEW_LINE
    };
    enum rank_kind_e {
        FIXED_RANK,
        NAMED_RANK
    };
    void _print_va(line_end_e end, rank_kind_e kind, unsigned rank, const char* rank_name, int line,
                   const char* format, va_list arguments);
    void _create_trace_buffer(bool new_line, unsigned rank, const char* rank_name, int line,
                              const char* format, va_list arguments);
    void _create_prefix(tr_stream_c& out, int line, const char* rank_name);
    void _write_box_context(unsigned rank);
};

/* The host callback: receives the first line of fatal, error and warning
 * messages of hosts that are not console applications. */
typedef void (*katr_callback_f)(const char* text, unsigned long rank);

/* Where trace sites read the library's configuration generation without a
 * call: a counter that never goes down. The host macros compare a site's
 * cached generation with it inline. Until the library has published its
 * counter it points to a value above every generation, so sites ask. */
extern "C" KATR_API const unsigned* katr_generation_source;

/* The library's state as trace sites read it inline, written by the library
 * only: KATR_STATE_MANAGER while a trace manager exists, KATR_STATE_KEEP_STACK
 * while its KeepStack setting is on, KATR_STATE_BLACK_BOX while a black box
 * is open. */
#define KATR_STATE_MANAGER    0x1u
#define KATR_STATE_KEEP_STACK 0x2u
#define KATR_STATE_BLACK_BOX  0x4u
extern "C" KATR_API unsigned katr_state_flags;

/* --------------------------------------------------- free-function exports */
extern "C" {
/* katr_init with UTF-16 arguments (either may be null). */
KATR_API void mix_trace_init(const katr_wchar_t* config_file, const katr_wchar_t* log_directory);
/* One message line (text printed as it is, CR LF appended) without an entry
 * object; all calls share one trace site. Any text may be null. */
KATR_API void mix_trace(unsigned rank, int line, const katr_wchar_t* function_name,
                        const katr_wchar_t* file_name, const katr_wchar_t* text);
/* The same for an unformatted text of any length, without line end. */
KATR_API void mix_trace_long_str(unsigned rank, int line, const katr_wchar_t* function_name,
                                 const katr_wchar_t* file_name, const katr_wchar_t* text);
/* Every line of any rank also to standard output (on != 0), or none. */
KATR_API void katr_set_verbose(int on);
/* New process id for the log file name (0: the current process). */
KATR_API void katr_change_pid(unsigned pid);
/* Gives the calling thread a name and an application-level id; the library
 * reports them in thread banners and matches them against thread rules, also
 * when the thread traced before. A null name keeps the operating system's
 * name. */
KATR_API void katr_set_thread_info(const char* name, unsigned long appl_id);
/* Forgets the trace record of a thread that no longer traces (its system
 * thread id); the thread reports stop listing it. */
KATR_API void katr_remove_trace(unsigned long thread_id);
/* Names the calling thread in trace lines and reports. The text is not
 * copied and must stay alive while the thread traces; null returns the
 * thread to its system name. */
KATR_API void katr_reset_thread_trace_name(const char* name);
/* The qualified name ("ns::Class::method") inside a compiler signature such
 * as "virtual int ns::Class::method(char) const" or "void __cdecl f(void)",
 * copied into buf (size bytes, cut to fit); returns buf. The host macros
 * call it once per trace site. */
KATR_API const char* katr_function_name(const char* signature, char* buf, size_t size);
}
/* Loads the configuration file (null: the executable's path with extension
 * "jot") and opens the log file, in log_directory when the configuration
 * names none. Problems are reported on standard error. */
KATR_API void katr_init(const char* config_file, const char* log_directory);
/* Whether the executable is built for the console subsystem. */
KATR_API bool katr_is_console_application();
/* Every line of any rank also to the debugger output (on), or none. */
KATR_API void katr_set_print_to_debug_vew(bool on);
/* Sets (null: removes) the host callback. Works also before katr_init. */
KATR_API void katr_set_callback(katr_callback_f callback);

/* ------------------------------------------------------------ host macros
 * One line per traced scope:
 *
 *     void Conn::send(int n) {
 *         KATR_SCOPE(t);                                  // enter/leave lines
 *         KATR_PRINT(t, KATR_RANK_ERROR, "n=%d", n);      // disabled: inline test only
 *         t.print(KATR_RANK_DEBUG, __LINE__, "n=%d", n);  // always calls the library
 *     }
 *
 * KATR_SCOPE declares the site's two variables (mask 0x0E: fatal, error,
 * warning; generation 0) as statics beside the scope and names the scope
 * "Class::method" (qualified, without return type and parameters), so that
 * class and function rules apply. KATR_PRINT tests the site's cached mask
 * and generation inline and calls the library only when the line may pass
 * or the object has not been used yet. */
#if defined(_MSC_VER) && !defined(__clang__)
#  define KATR_RARELY_(c)   (c)
#  define KATR_SIGNATURE_   __FUNCSIG__
#  define KATR_LOAD_U32_(p) (*(const volatile unsigned*)(p))
#  define KATR_LOAD_PTR_(p) (*(const unsigned* const volatile*)(p))
#else
/* The branch the traced function takes while tracing is off is laid out
 * straight; the library's cases jump away. */
#  define KATR_RARELY_(c)   __builtin_expect(!!(c), 0)
#  define KATR_SIGNATURE_   __PRETTY_FUNCTION__
#  define KATR_LOAD_U32_(p) __atomic_load_n((p), __ATOMIC_RELAXED)
#  define KATR_LOAD_PTR_(p) __atomic_load_n((p), __ATOMIC_RELAXED)
#endif
#if defined(__FILE_NAME__)
#  define KATR_FILE_ __FILE_NAME__
#else
#  define KATR_FILE_ katr_base_name(__FILE__)
#endif

/* The file name part of a path ('/' or '\' separated). */
inline const char* katr_base_name(const char* path) {
    const char* base = path;
    if (!path) return path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

/* Whether a message of rank at an entry may pass: false when no manager
 * exists, or when the site's mask is current and lacks every bit of rank
 * (the library would print nothing either). An object not used yet is
 * initialised once the mask is current: inline when the library's
 * initialisation would do nothing more, else by the library (scope stack
 * push, enter line). A stale mask always asks the library. */
inline bool katr_may_pass(katr_entry_c& e, unsigned rank) {
    const unsigned flags = KATR_LOAD_U32_(&katr_state_flags);
    if (KATR_RARELY_(!(flags & KATR_STATE_MANAGER))) return false;
    const unsigned mask = KATR_LOAD_U32_(e.rank_mask_cache);
    const unsigned* live = KATR_LOAD_PTR_(&katr_generation_source);
    if (KATR_RARELY_(KATR_LOAD_U32_(e.generation_cache) < KATR_LOAD_U32_(live))) return true;
    if (!e.initialised) {
        if (KATR_RARELY_((flags & KATR_STATE_KEEP_STACK) || (e.enter_leave && (mask & KATR_RANK_TRACE))))
            e._first_use();
        else
            e._initialise_quietly();
    }
    return (mask & rank) != 0;
}

inline katr_entry_c::katr_entry_c(const char* function_name_, const char* file_name_, unsigned* rank_mask_cache_,
                                  unsigned* generation_cache_, int line_, bool enter_leave_)
    : rank_mask_cache(rank_mask_cache_), generation_cache(generation_cache_), function_name(function_name_),
      file_name(file_name_), line(line_), thread_record(0), first_line(true), enter_leave(enter_leave_),
      initialised(false), box_entered(false) {
    if (!rank_mask_cache_ || !generation_cache_) _use_stand_in_site();
    if (KATR_RARELY_((KATR_LOAD_U32_(&katr_state_flags) & KATR_STATE_BLACK_BOX) && enter_leave_)) _box_enter();
}

inline katr_entry_c::~katr_entry_c() {
    if (KATR_RARELY_(box_entered)) {
        _leave();
        return;
    }
    if (!initialised) return;
    if (KATR_RARELY_((KATR_LOAD_U32_(&katr_state_flags) & KATR_STATE_KEEP_STACK) ||
                     (enter_leave && !first_line && (KATR_LOAD_U32_(rank_mask_cache) & KATR_RANK_TRACE))))
        _leave();
}
/* The same test for a site without an entry object. */
inline bool katr_site_may_pass(const unsigned* mask, const unsigned* generation, unsigned rank) {
    if (KATR_LOAD_U32_(mask) & rank) return true;
    const unsigned* live = KATR_LOAD_PTR_(&katr_generation_source);
    return KATR_LOAD_U32_(generation) < KATR_LOAD_U32_(live);
}

#define KATR_SITE_(id)                                     \
  static unsigned id##_katr_mask = KATR_RANK_SITE_DEFAULT; \
  static unsigned id##_katr_gen = 0u;                      \
  static char id##_katr_fnbuf[sizeof(KATR_SIGNATURE_)];    \
  static const char* const id##_katr_fn =                  \
      katr_function_name(KATR_SIGNATURE_, id##_katr_fnbuf, sizeof(id##_katr_fnbuf))

/* A traced scope with enter and leave lines; var is the entry object. While
 * the site's ranks lack trace and KeepStack is off, the library is not
 * called unless a message passes. */
#define KATR_SCOPE(var)                                                          \
  KATR_SITE_(var);                                                               \
  katr_entry_c var(var##_katr_fn, KATR_FILE_, &var##_katr_mask, &var##_katr_gen, \
                   __LINE__, true)
/* A trace site without enter and leave lines. */
#define KATR_SCOPE_QUIET(var)                                                    \
  KATR_SITE_(var);                                                               \
  katr_entry_c var(var##_katr_fn, KATR_FILE_, &var##_katr_mask, &var##_katr_gen, \
                   __LINE__, false)
/* Messages through an entry object, tested inline first; the arguments after
 * rank are the format and its values. */
#define KATR_PRINT(var, rank, ...)                                                              \
  do {                                                                                          \
    if (KATR_RARELY_(katr_may_pass((var), (rank)))) (var).print((rank), __LINE__, __VA_ARGS__); \
  } while (0)
#define KATR_PRINT_NL(var, rank, ...)                                                              \
  do {                                                                                             \
    if (KATR_RARELY_(katr_may_pass((var), (rank)))) (var).print_nl((rank), __LINE__, __VA_ARGS__); \
  } while (0)
/* A one-off message line (CR LF appended) with a site of its own. */
#define KATR_MSG(rank, ...)                                                      \
  do {                                                                           \
    KATR_SITE_(katr_msg);                                                        \
    if (katr_site_may_pass(&katr_msg_katr_mask, &katr_msg_katr_gen, (rank))) {   \
      katr_entry_c katr_msg_e(katr_msg_katr_fn, KATR_FILE_, &katr_msg_katr_mask, \
                              &katr_msg_katr_gen, __LINE__, false);              \
      katr_msg_e.print_nl((rank), __LINE__, __VA_ARGS__);                        \
    }                                                                            \
  } while (0)

/* ------------------------------------------------------------------ remote
 * Control functions. Reply convention: out receives the whole reply with its
 * NUL when len (in: the size of out in bytes) is large enough, else an empty
 * text (out[0] = 0, unless len is 0); out may be null. len always comes back as the size the
 * reply needs, NUL included. A function that changes state does so on every
 * call, also when the buffer is too small. Without a trace manager the reply
 * is "katrace module has not been properly set" and the bool functions
 * return false. */
KATR_API void katr_get_log_filename(char* out, unsigned long long& len);
KATR_API void katr_add_PID_to_log_fn(char* out, unsigned long long& len, bool add_pid);
KATR_API bool katr_set_log_directory(char* out, unsigned long long& len, const char* directory,
                                     const char* base_name, bool flag);
KATR_API bool katr_reparse_file(char* out, unsigned long long& len, const char* config_file);
KATR_API bool katr_parse_buffer(char* out, unsigned long long& len, const char* text);
KATR_API void katr_config_content(char* out, unsigned long long& len);
KATR_API void katr_print_threads(char* out, unsigned long long& len);
KATR_API void katr_print_stack(char* out, unsigned long long& len, unsigned long thread_id);
KATR_API void katr_print_log_rank(char* out, unsigned long long& len, const char* function_name,
                                  const char* file_name);


/* The text command protocol: a controlling tool builds requests with
 * prepare_string_to_send, the host passes each received request to
 * process_received_string and sends the reply back. Returned texts live in
 * the object until its next operation or its destruction. Copies are deep. */
class KATR_API katr_remote_proc_c {
public:
    enum katr_test_comand_e : int {
        tc_reparse_file = 0,
        tc_parse_buffer = 1,
        tc_set_verbose = 2,
        tc_set_print_to_debug_vew = 3,
        tc_add_pid_to_log_fn = 4,
        tc_set_log_directory = 5,
        tc_get_log_filename = 6,
        tc_print_log_rank = 7,
        tc_config_content = 8,
        tc_print_threads = 9,
        tc_print_stack = 10,
        tc_version = 11
    };

    static const char* const key_string; /* "!$", the prefix of every request */
    static const char* const greeting;   /* "KATR_GREETING", for the peers' own use */

    katr_remote_proc_c();
    katr_remote_proc_c(const katr_remote_proc_c& other);
    katr_remote_proc_c& operator=(const katr_remote_proc_c& other);
    ~katr_remote_proc_c();

    /* 6, 8, 9: "!$<n>"; 11: "!$"; otherwise null. */
    const char* prepare_string_to_send(katr_test_comand_e cmd);
    /* 0: "!$0" [+ " " arg]; 1, 5: "!$<n> arg" (null without arg); 11: "!$". */
    const char* prepare_string_to_send(katr_test_comand_e cmd, const char* arg);
    /* 7 only: "!$7 arg1 arg2"; null when either is null or empty. */
    const char* prepare_string_to_send(katr_test_comand_e cmd, const char* arg1, const char* arg2);
    /* 2, 3, 4: "!$<n> t" or "!$<n> f"; 10: "!$10 <value>"; otherwise null. */
    const char* prepare_string_to_send(katr_test_comand_e cmd, unsigned int value);
    /* Runs one request and returns its reply, lines ending in CR LF. */
    const char* process_received_string(const char* request);

private:
    tr_stream_c* buffer_;
};

#endif /* KATRACE_H */
