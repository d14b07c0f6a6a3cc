/* katrace C interface: the whole library for C hosts and for hosts built for
 * another compiler's ABI (an MSVC-built host of the MinGW-built DLL). Every
 * function here is a plain C export; no C++ type, no bool, no exception and
 * no structure passed by value crosses it. Compiles as C89, C99 and C++;
 * the host macros need variadic macros (C99, C++11, MSVC).
 *
 *     void send_packet(int n) {
 *         KATR_C_SCOPE(t);                                   enter line at first use
 *         KATR_C_PRINT(t, KATR_RANK_ERROR, "n=%d", n);       tested inline first
 *         KATR_C_SCOPE_END(t);                               leave line
 *     }
 *
 * A katr_c_scope is the caller's storage for one traced scope, like a
 * katr_entry_c of the C++ interface: begun once, used by the thread that
 * began it, ended once, never copied while begun. */
#ifndef KATRACE_C_H
#define KATRACE_C_H

#include <stdarg.h>

#if defined(KATRACE_STATIC)
#  define KATR_C_API
#elif defined(_WIN32)
#  if defined(KATRACE_BUILDING)
#    define KATR_C_API __declspec(dllexport)
#  else
#    define KATR_C_API __declspec(dllimport)
#  endif
#else
#  define KATR_C_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__)
#  if defined(__MINGW32__)
#    define KATR_C_FORMAT_(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#  else
#    define KATR_C_FORMAT_(fmt, first) __attribute__((format(printf, fmt, first)))
#  endif
#else
#  define KATR_C_FORMAT_(fmt, first)
#endif

#if defined(__cplusplus)
#  define KATR_C_INLINE inline
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
#  define KATR_C_INLINE static inline
#elif defined(__GNUC__)
#  define KATR_C_INLINE static __inline__
#elif defined(_MSC_VER)
#  define KATR_C_INLINE static __inline
#else
#  define KATR_C_INLINE static
#endif

/* Sizes in the reply convention and text lengths: 64 bits. */
#if defined(__GNUC__) && !defined(__cplusplus) && (!defined(__STDC_VERSION__) || __STDC_VERSION__ < 199901L)
__extension__ typedef unsigned long long katr_c_len_t;
#else
typedef unsigned long long katr_c_len_t;
#endif

/* Rank bits, the same as in katrace.h. */
#ifndef KATR_RANK_TRACE
#  define KATR_RANK_TRACE        0x0001u
#  define KATR_RANK_FATAL        0x0002u
#  define KATR_RANK_ERROR        0x0004u
#  define KATR_RANK_WARNING      0x0008u
#  define KATR_RANK_LOG          0x0010u
#  define KATR_RANK_NOTE         0x0020u
#  define KATR_RANK_VAR          0x0040u
#  define KATR_RANK_DEBUG        0x0080u
#  define KATR_RANK_DEVELOPMENT  0x0100u
#  define KATR_RANK_QA           0x0200u
#  define KATR_RANK_USER1        0x0400u
#  define KATR_RANK_USER2        0x0800u
#  define KATR_RANK_USER3        0x1000u
#  define KATR_RANK_SNC          0x2000u
#  define KATR_RANK_ALL          0xFFFFFFFFu
#  define KATR_RANK_SITE_DEFAULT (KATR_RANK_FATAL | KATR_RANK_ERROR | KATR_RANK_WARNING)
#endif
#ifndef KATR_STATE_MANAGER
#  define KATR_STATE_MANAGER    0x1u
#  define KATR_STATE_KEEP_STACK 0x2u
#endif

/* Room for the library's entry object, in pointer-sized words; the library
 * checks at compile time that its object fits. */
#define KATR_C_ENTRY_WORDS 12

/* One traced scope. mask and generation are the site's two variables as the
 * scope uses them; the other members are the library's. */
typedef struct katr_c_scope {
    unsigned* mask;
    unsigned* generation;
    int enter_leave;
    int katr_live_;                /* begun and not yet ended */
    unsigned katr_initialised_at_; /* byte offsets into katr_entry_ of the */
    unsigned katr_file_name_at_;   /* entry's initialised flag and file name */
    void* katr_entry_[KATR_C_ENTRY_WORDS];
} katr_c_scope;

/* The host callback: the first line of fatal, error and warning messages of
 * hosts that are not console applications. */
typedef void (*katr_c_callback_f)(const char* text, unsigned long rank);

#ifdef __cplusplus
extern "C" {
#endif

/* Written by the library only; read inline by the host macros. */
KATR_C_API extern unsigned katr_state_flags;
KATR_C_API extern const unsigned* katr_generation_source;

/* ------------------------------------------------------------- scopes */
/* Begins a scope: stores the arguments (borrowed, not copied) and does no
 * other work; the first use prints the enter line when enter_leave is not 0
 * and the site has the trace rank. A null mask or generation is replaced by
 * a stand-in of the library's. */
KATR_C_API void katr_c_scope_begin(katr_c_scope* s, const char* function, const char* file, unsigned* mask,
                                   unsigned* generation, int line, int enter_leave);
/* Ends a scope: the leave line and the scope stack's pop, as the C++
 * object's destruction. A second end does nothing. */
KATR_C_API void katr_c_scope_end(katr_c_scope* s);

/* A printf-style message when a bit of rank is enabled for the scope's site
 * and the calling thread traces; the _nl forms append CR LF to the format. */
KATR_C_API void katr_c_print(katr_c_scope* s, unsigned rank, int line, const char* format, ...) KATR_C_FORMAT_(4, 5);
KATR_C_API void katr_c_print_nl(katr_c_scope* s, unsigned rank, int line, const char* format, ...) KATR_C_FORMAT_(4, 5);
KATR_C_API void katr_c_vprint(katr_c_scope* s, unsigned rank, int line, const char* format, va_list arguments) KATR_C_FORMAT_(4, 0);
KATR_C_API void katr_c_vprint_nl(katr_c_scope* s, unsigned rank, int line, const char* format, va_list arguments) KATR_C_FORMAT_(4, 0);
/* length bytes of text, unformatted, without line end or length limit. */
KATR_C_API void katr_c_print_long_string(katr_c_scope* s, unsigned rank, int line, const char* text, katr_c_len_t length);
/* Whether a bit of rank is enabled for the scope's site (1) or not (0). */
KATR_C_API int katr_c_is_set(katr_c_scope* s, unsigned rank);

/* The same under a rank the configuration added by name (AdditionalRank). */
KATR_C_API void katr_c_print_user_defined(katr_c_scope* s, const char* rank_name, const char* format, ...) KATR_C_FORMAT_(3, 4);
KATR_C_API void katr_c_print_user_defined_nl(katr_c_scope* s, const char* rank_name, const char* format, ...) KATR_C_FORMAT_(3, 4);
KATR_C_API void katr_c_vprint_user_defined(katr_c_scope* s, const char* rank_name, const char* format, va_list arguments) KATR_C_FORMAT_(3, 0);
KATR_C_API void katr_c_vprint_user_defined_nl(katr_c_scope* s, const char* rank_name, const char* format, va_list arguments) KATR_C_FORMAT_(3, 0);
KATR_C_API void katr_c_print_user_defined_long_string(katr_c_scope* s, const char* rank_name, const char* text,
                                                      katr_c_len_t length);
KATR_C_API int katr_c_is_set_user_defined(katr_c_scope* s, const char* rank_name);

/* ------------------------------------------------- start and switches */
/* Loads the configuration file (null: the executable's path with extension
 * "jot") and opens the log file, in log_directory when the configuration
 * names none. Problems are reported on standard error. */
KATR_C_API void katr_c_init(const char* config_file, const char* log_directory);
KATR_C_API int katr_c_is_console_application(void);
/* Every line of any rank also to standard output / the debugger (on != 0),
 * or none. */
KATR_C_API void katr_c_set_verbose(int on);
KATR_C_API void katr_c_set_print_to_debug_vew(int on);
/* New process id for the log file name (0: the current process). */
KATR_C_API void katr_c_change_pid(unsigned pid);
/* Sets (null: removes) the host callback. Works also before katr_c_init. */
KATR_C_API void katr_c_set_callback(katr_c_callback_f callback);
/* The calling thread's name and application id; null keeps the OS name. */
KATR_C_API void katr_c_set_thread_info(const char* name, unsigned long appl_id);
/* Forgets the trace record of a thread (its system thread id). */
KATR_C_API void katr_c_remove_trace(unsigned long thread_id);
/* Names the calling thread (borrowed text; null: the system name). */
KATR_C_API void katr_c_reset_thread_trace_name(const char* name);

/* ---------------------------------------------------- control functions
 * Reply convention: out receives the whole reply with its NUL when *len (the
 * size of out in bytes) is large enough, else an empty text; out may be
 * null. *len always comes back as the size the reply needs, NUL included. A
 * null len is refused with a message on standard error (and 0 from the int
 * functions). The int functions return 1 on success, 0 otherwise. */
KATR_C_API void katr_c_get_log_filename(char* out, katr_c_len_t* len);
KATR_C_API void katr_c_add_PID_to_log_fn(char* out, katr_c_len_t* len, int add_pid);
KATR_C_API int katr_c_set_log_directory(char* out, katr_c_len_t* len, const char* directory, const char* base_name,
                                        int skip_scan);
KATR_C_API int katr_c_reparse_file(char* out, katr_c_len_t* len, const char* config_file);
KATR_C_API int katr_c_parse_buffer(char* out, katr_c_len_t* len, const char* text);
KATR_C_API void katr_c_config_content(char* out, katr_c_len_t* len);
KATR_C_API void katr_c_print_threads(char* out, katr_c_len_t* len);
KATR_C_API void katr_c_print_stack(char* out, katr_c_len_t* len, unsigned long thread_id);
KATR_C_API void katr_c_print_log_rank(char* out, katr_c_len_t* len, const char* function_name, const char* file_name);
/* Runs one request of the command protocol ("!$<n> argument") and answers
 * with its reply (lines ending in CR LF) in the reply convention. */
KATR_C_API void katr_c_command(const char* request, char* out, katr_c_len_t* len);

#ifdef __cplusplus
}
#endif

/* ---------------------------------------------------------- inline test */
#if defined(_MSC_VER) && !defined(__clang__)
#  define KATR_C_LOAD_U32_(p) (*(const volatile unsigned*)(p))
#  define KATR_C_LOAD_PTR_(p) (*(const unsigned* const volatile*)(p))
#else
#  define KATR_C_LOAD_U32_(p) __atomic_load_n((p), __ATOMIC_RELAXED)
#  define KATR_C_LOAD_PTR_(p) __atomic_load_n((p), __ATOMIC_RELAXED)
#endif

/* Whether a message of rank may pass at a begun scope: 0 when no manager
 * exists, or when the site's mask is current and lacks every bit of rank.
 * A scope not used yet is initialised inline when the library would do no
 * more (mask current, no scope stack kept, no enter line due); otherwise
 * the library is asked. The same test as katr_may_pass of katrace.h. */
KATR_C_INLINE int katr_c_may_pass(katr_c_scope* s, unsigned rank) {
    const unsigned flags = KATR_C_LOAD_U32_(&katr_state_flags);
    unsigned mask;
    const unsigned* live;
    unsigned char* initialised;
    if (!(flags & KATR_STATE_MANAGER) || !s || !s->katr_live_) return 0;
    mask = KATR_C_LOAD_U32_(s->mask);
    live = KATR_C_LOAD_PTR_(&katr_generation_source);
    if (KATR_C_LOAD_U32_(s->generation) < KATR_C_LOAD_U32_(live)) return 1;
    initialised = (unsigned char*)s->katr_entry_ + s->katr_initialised_at_;
    if (!*initialised) {
        const char** file = (const char**)((unsigned char*)s->katr_entry_ + s->katr_file_name_at_);
        if ((flags & KATR_STATE_KEEP_STACK) || (s->enter_leave && (mask & KATR_RANK_TRACE))) return 1;
        if (*file && (*file)[0] == '.' && (*file)[1] == '\\') *file += 2;
        *initialised = 1;
    }
    return (mask & rank) != 0;
}

/* The file name part of a path ('/' or '\' separated). */
KATR_C_INLINE const char* katr_c_base_name(const char* path) {
    const char* base = path;
    const char* p;
    if (!path) return path;
    for (p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

/* ------------------------------------------------------------ host macros
 * KATR_C_SCOPE declares the site's two variables (mask 0x0E: fatal, error,
 * warning; generation 0) as statics and begins the scope with enter and
 * leave lines, named by __func__. KATR_C_PRINT tests inline and calls the
 * library only when the line may pass; KATR_C_SCOPE_END ends the scope.
 * KATR_C_SCOPE_AUTO (GCC and clang, and C++) ends it when var goes out of
 * scope. */
#if defined(__FILE_NAME__)
#  define KATR_C_FILE_ __FILE_NAME__
#else
#  define KATR_C_FILE_ katr_c_base_name(__FILE__)
#endif
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L) || defined(_MSC_VER)
#  define KATR_C_SITE_(var)                                   \
    static unsigned var##_katr_mask = KATR_RANK_SITE_DEFAULT; \
    static unsigned var##_katr_gen = 0u
#  define KATR_C_SCOPE(var) \
    KATR_C_SITE_(var);      \
    katr_c_scope var;       \
    katr_c_scope_begin(&(var), __func__, KATR_C_FILE_, &var##_katr_mask, &var##_katr_gen, __LINE__, 1)
#  define KATR_C_SCOPE_END(var) katr_c_scope_end(&(var))
#  define KATR_C_PRINT(var, rank, ...)                                                          \
    do {                                                                                        \
      if (katr_c_may_pass(&(var), (rank))) katr_c_print(&(var), (rank), __LINE__, __VA_ARGS__); \
    } while (0)
#  define KATR_C_PRINT_NL(var, rank, ...)                                                          \
    do {                                                                                           \
      if (katr_c_may_pass(&(var), (rank))) katr_c_print_nl(&(var), (rank), __LINE__, __VA_ARGS__); \
    } while (0)
#  if defined(__cplusplus)
#    define KATR_C_SCOPE_AUTO(var) \
      KATR_C_SITE_(var);           \
      katr_c_scoped_c var(__func__, KATR_C_FILE_, &var##_katr_mask, &var##_katr_gen, __LINE__, 1)
#  elif defined(__GNUC__)
#    define KATR_C_SCOPE_AUTO(var)                                 \
      KATR_C_SITE_(var);                                           \
      katr_c_scope var __attribute__((cleanup(katr_c_scope_end))); \
      katr_c_scope_begin(&(var), __func__, KATR_C_FILE_, &var##_katr_mask, &var##_katr_gen, __LINE__, 1)
#  endif
#endif

#ifdef __cplusplus
/* A C scope ended by its destructor: scopes for a C++ host built for another
 * compiler's ABI, without the library's C++ class. Usable wherever a
 * katr_c_scope* is (KATR_C_PRINT(var, ...) included). */
class katr_c_scoped_c : public katr_c_scope {
public:
    katr_c_scoped_c(const char* function, const char* file, unsigned* site_mask, unsigned* site_generation, int line,
                    int enter_leave) {
        katr_c_scope_begin(this, function, file, site_mask, site_generation, line, enter_leave);
    }
    ~katr_c_scoped_c() { katr_c_scope_end(this); }

private:
    katr_c_scoped_c(const katr_c_scoped_c&);
    katr_c_scoped_c& operator=(const katr_c_scoped_c&);
};
#endif

#endif /* KATRACE_C_H */
