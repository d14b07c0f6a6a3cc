/* katrace public interface: the one header a host includes.
 * Compiles as C++11. Everything not declared here is private to the library. */
#ifndef KATRACE_H
#define KATRACE_H

#if defined(_WIN32)
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

extern "C" {
/* Gives the calling thread a name and an application-level id; the library
 * reports them in thread banners and matches them against thread rules.
 * A null name keeps the operating system's name. */
KATR_API void katr_set_thread_info(const char* name, unsigned long appl_id);
}

extern "C" {
/* Forgets the trace record of a thread that no longer traces (its system
 * thread id); the thread reports stop listing it. */
KATR_API void katr_remove_trace(unsigned long thread_id);
/* Names the calling thread in trace lines and reports. The text is not
 * copied and must stay alive while the thread traces; null returns the
 * thread to its system name. */
KATR_API void katr_reset_thread_trace_name(const char* name);
}

/* ------------------------------------------------------------------ remote
 * Control functions. Reply convention: out receives the whole reply with its
 * NUL when len (in: the size of out in bytes) is large enough, else an empty
 * text (out[0] = 0); out may be null. len always comes back as the size the
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

class tr_stream_c;

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

    static const char* const key_string;   /* "!$", the prefix of every request */
    static const char* const greeting;     /* "KATR_GREETING", for the peers' own use */

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
