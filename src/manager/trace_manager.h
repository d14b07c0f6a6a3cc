// trace_manager_c: the process-wide trace manager.
//
// It owns the live configuration, the log file writer, the registry of
// per-thread trace records and the reader-writer lock that guards the first
// two. The hot path reads the eight setting copies, `generation` and a
// record's `enabled` flag without any lock (relaxed atomics).
//
// Locks, in the only order they are ever taken:
//   1. `lock` (reader or writer),
//   2. the `threads` critical section,
//   3. one rule list's critical section (inside the configuration),
//   4. a record's `guard` (a leaf: nothing is taken while it is held).
// No code takes `lock` while holding a critical section. A fork takes them
// all in this order (fork.cpp). Every lock marks its thread busy while held;
// an exported function that finds its thread busy (a signal handler or hook
// interrupted the library there) does nothing instead of taking a lock the
// thread may already hold.
//
// Per-record data and who may touch it:
//   - identity (`sys_id`, `appl_id`, `name`): written by the owning thread
//     while it holds the `threads` critical section; read by others under it;
//   - `stack` (the slot array) and the slot blocks, `trace_name`: replaced
//     or freed by the owning thread only while it holds the record's
//     `guard`; read by other threads only under it;
//   - `depth`, `stack_count` and the slot texts: written by the owning
//     thread without a lock inside a `stack_seq` write section (odd while it
//     writes); another thread, holding `guard` so that no block goes away,
//     copies them and keeps the copy only when `stack_seq` was even and
//     unchanged around it (a sequence lock: the owner's push and pop take no
//     atomic read-modify-write). The owner reads them freely;
//   - `enabled`: relaxed atomic, written by the thread-rule passes under the
//     manager's lock, read by the owning thread without a lock.
#ifndef KATRACE_TRACE_MANAGER_H
#define KATRACE_TRACE_MANAGER_H

#include <atomic>

#include "blackbox/box_keeper.h"
#include "kor/crit_section.h"
#include "kor/ptr_list.h"
#include "kor/rw_lock.h"
#include "kor/thread_annotations.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

class config_parser_c;
struct pending_line_s;
class logger_c;
class trace_manager_c;

// A tiny spin lock guarding one record's stack against a report that reads
// it from another thread. Uncontended it costs one atomic exchange.
// While it is held the thread counts as busy (see plat_busy_enter).
class record_guard_c {
public:
    void enter();
    void leave() {
        held_.store(false, std::memory_order_release);
        plat_busy_leave();
    }
    // Whether some thread holds it now (a plain load, no ordering).
    bool held() const { return held_.load(std::memory_order_relaxed); }
private:
    std::atomic<bool> held_{false};
};

#if defined(__SANITIZE_THREAD__)
#  define KATR_TSAN_BUILD 1
#elif defined(__has_feature)
#  if __has_feature(thread_sanitizer)
#    define KATR_TSAN_BUILD 1
#  endif
#endif

// Orders the plain slot-text accesses of a stack's sequence lock against its
// counter. The thread sanitizer models no fences (and does not watch those
// accesses): its builds get the compiler barrier, which is all x86-64 needs.
inline void stack_seq_fence() {
#if defined(KATR_TSAN_BUILD)
    std::atomic_signal_fence(std::memory_order_seq_cst);
#else
    std::atomic_thread_fence(std::memory_order_acq_rel);
#endif
}

// The per-thread trace record.
struct thread_trace_s {
    std::atomic<bool> enabled;           // lines of this thread are written; true at creation
    unsigned short depth;                // open scopes counted while KeepStack is on
    unsigned short stack_capacity;       // slots in `stack`
    unsigned short stack_count;          // slots in use
    std::atomic<unsigned> stack_seq{0};  // odd while the owner changes depth, count or a slot text
    unsigned sys_id;                     // system thread id, 0 when unknown
    unsigned appl_id;                    // application-level thread id, 0 when unknown
    const char* name;                    // support library's name, "Undefined" when none; owned copy
                                         // (freed with the record or when the name changes)
    const char* trace_name;              // host-set name, may be null; not owned
    char** stack;                        // stack_capacity slot pointers from the process heap

    // Bookkeeping of the manager (not part of the reported state).
    record_guard_c guard;          // see the header comment
    trace_manager_c* owner;        // the manager that registered the record
    thread_trace_s* retired_next;  // link in the owner's list of removed records

    // The name shown for the thread: trace_name when set, else name.
    // Owning thread, or another thread holding `guard`.
    const char* display_name() const { return trace_name ? trace_name : name; }
    // The text of stack slot i (0-based, below stack_count): after its
    // 5-character size header.
    const char* slot_text(unsigned i) const { return stack[i] ? stack[i] + 5 : ""; }
};

class trace_manager_c {
public:
    // ----------------------------------------------------------- fields
    logger_c* logger KATR_PT_GUARDED_BY(lock_);                                // the log file writer
    config_parser_c* config KATR_GUARDED_BY(lock_) KATR_PT_GUARDED_BY(lock_);  // the live configuration
    std::atomic<unsigned> generation;                                          // raised by every file load and buffer parse
    unsigned last_thread_id KATR_GUARDED_BY(lock_);                            // 0 after construction
    ptr_list_c* threads;                                                       // thread_trace_s*, owned; with critical section
    unsigned tls_index;                                                        // thread-local slot holding each thread's record
    // Copies of the configuration's output settings, read without a lock.
    std::atomic<unsigned> screen_ranks;
    std::atomic<unsigned> debugger_ranks;
    std::atomic<bool> print_file;
    std::atomic<bool> print_function;
    std::atomic<bool> print_line;
    std::atomic<bool> print_time;
    std::atomic<bool> keep_stack;
    std::atomic<bool> do_indentation;
    std::atomic<bool> print_sequence;
    box_keeper_c box;  // the black box, open while the configuration gives it a size
    // The number the next line's prefix carries when print_sequence is on:
    // one counter per process, never repeated (a forked child keeps counting
    // under its own pid).
    std::atomic<unsigned long long> line_sequence;

    // Whether a thread-local slot was allocated (a slot index may be 0).
    bool has_tls;
    // Records removed by katr_remove_trace whose threads may still use them:
    // freed at their thread's detach or with the manager (guarded by the
    // `threads` critical section).
    thread_trace_s* retired;

    // ----------------------------------------------------- lifecycle
    // Builds threads, lock, logger and the default configuration, allocates
    // the thread-local slot, registers the calling thread and writes the
    // construction banner to the debugger output.
    trace_manager_c();
    virtual ~trace_manager_c();
    // Makes the host macros' inline test read this manager's generation and
    // state flags (construction does it); withdraw, when they still read
    // this manager's (destruction and process detach do it), hands them the
    // process's manager when that is another one, else the constant that
    // makes every inline test call the library and flags without a manager.
    void publish_generation();
    void withdraw_generation();
    // Whether the sites read this manager's generation.
    bool _is_published() const;
    // Writes katr_state_flags from this manager's settings.
    void _publish_flags();
    // Opens, replaces or closes the black box as the configuration says
    // (update_cs_ held); sites ask again when what they record changed.
    void _apply_black_box(tr_stream_c& messages);
    // False when one of the owned objects could not be allocated.
    bool ok() const KATR_NO_THREAD_SAFETY_ANALYSIS { return lock_.ok() && logger && config && threads; }

    // ------------------------------------------------------ settings
    // Copies the eight output settings from config (writer lock held).
    void copy_settings() KATR_REQUIRES(lock_);
    // Under the writer lock: stores id when it differs; true when it did.
    bool set_last_thread(unsigned id);
    // Under the writer lock: screen / debugger ranks to all or none.
    void set_verbose(bool on);
    void set_print_to_debug_vew(bool on);

    // ----------------------------------------------- thread registry
    // Registers a record for the calling thread (thread-attach notification).
    void on_thread_attach();
    // Releases the calling thread's record (thread-detach notification).
    void on_thread_detach();
    // The calling thread's record, created and judged on first use; for a
    // known thread one thread-local read and no lock. Never null unless
    // memory runs out.
    thread_trace_s* get_thread_record();
    // Judges one record, or every registered record when null, by the
    // configuration's thread rules. The caller holds `lock` (reader for
    // one record, writer for all).
    void apply_thread_rules(thread_trace_s* record) KATR_REQUIRES_SHARED(lock_);
    // Scope stack of the owning thread (while KeepStack is on).
    void push(thread_trace_s* record, const char* file_name, const char* function_name);
    // depth minus one, stack_count minus one when not 0; nothing at depth 0.
    void pop(thread_trace_s* record);
    // Unregisters the first record whose sys_id denotes thread_id (the
    // memory stays valid for its thread until it exits).
    void remove_trace(unsigned long thread_id);
    // Sets the calling thread's trace name (not copied; null: the support
    // library's name again) and judges the thread again by the thread rules.
    void reset_thread_trace_name(const char* name);
    // Gives the calling thread a host name and application id (through the
    // support library); an existing record takes them at once and is judged
    // again by the thread rules.
    void set_thread_info(const char* name, unsigned long appl_id);

    // --------------------------------------------------- rank filter
    // Under one hold of the reader lock: stores generation into
    // *generation_out (atomically, the host shares it) and returns the
    // configuration's mask for the site.
    unsigned get_rank_mask(const char* function_name, const char* file_name,
                           unsigned* generation_out);
    // 1 << (p + 13) for the additional rank at 1-based position p; 0 when
    // the name is not registered (exact comparison).
    unsigned get_user_rank_bit(const char* rank_name);
    // Name of the first rank-name table row with exactly this mask, else
    // "UNKNOWN" (a constant table: no lock needed).
    const char* get_rank_name(unsigned rank);

    // ------------------------------------------- configuration reload
    // Loads a configuration file into a fresh object and installs it (null
    // file: the default file beside the executable). False when the file
    // cannot be opened (nothing changes) or had errors (installed anyway).
    bool reparse_file(const char* config_file, const char* log_directory, tr_stream_c& messages);
    // The start a process environment asks for (KATRACE_CONFIG, a
    // configuration file, and KATRACE_LOG_DIR, a log directory: read at
    // construction) is made by the first rank query, as the host's
    // katr_init would make it; the host's own katr_init cancels it first
    // and then counts as a reload. Problems go to the standard error stream.
    bool self_start_pending() const { return self_start_pending_.load(std::memory_order_acquire); }
    void cancel_self_start();
    // Parses text into the live configuration (into a copy whose content
    // then replaces the live content); false for empty text or errors.
    bool parse_buffer(const char* text, tr_stream_c& messages);
    // The configuration report of the live configuration into out.
    void config_content(tr_stream_c& out);

    // ------------------------------------------------ log and ranks
    // Each takes the manager's lock itself.
    // Writes one formatted line: prefix (its first banner_length bytes the
    // thread banner, written only when another thread wrote the previous
    // line) and the line. *prefix and *prefix_length come back as written.
    // Returns when the line is in the kernel. Lines that threads finish
    // while another thread writes are written together by one of them, in
    // the order they queued (group_commit.cpp).
    void write_line(const char** prefix, size_t* prefix_length, size_t banner_length, unsigned thread_id,
                    const char* line, size_t length);
    // Writes a prefix and a text as they are.
    void write_text(const char* prefix, unsigned long long prefix_length, const char* text,
                    unsigned long long length);
    // Appends the current log file's name (empty when none).
    void log_file_name(tr_stream_c& out);
    // The log writer's add-pid switch, directory and process id changes.
    void set_add_pid(bool add_pid, tr_stream_c* messages);
    void use_log_directory(const char* canonical, tr_stream_c* messages, const char* base_name, bool skip_scan);
    void change_pid(unsigned pid);
    // Appends the names of the ranks the configuration gives a site, each
    // followed by a blank, joined by '+' (nothing when it has none).
    void rank_names(const char* function_name, const char* file_name, tr_stream_c& out);

    // ----------------------------------------------------------- fork
    // Run by the forking thread around fork(). before_fork takes every lock
    // in the documented order (writer lock, registry, the rule lists); the
    // two after_fork steps release
    // them. In the child only the forking thread exists: its record gets the
    // child's thread id and every other record is freed. A thread that is
    // busy inside the library (a fork from a signal handler) takes nothing.
    void before_fork() KATR_NO_THREAD_SAFETY_ANALYSIS;
    void after_fork_in_parent() KATR_NO_THREAD_SAFETY_ANALYSIS;
    void after_fork_in_child() KATR_NO_THREAD_SAFETY_ANALYSIS;

    // -------------------------------------------------------- reports
    void print_threads(tr_stream_c& out);
    // thread_id 0: every thread.
    void print_stack(tr_stream_c& out, unsigned long thread_id);

private:
    single_writer_multi_reader_c lock_;  // guards config, logger, last_thread_id
    // Serialises every change of the configuration (file reload, buffer
    // parse, output switches, log directory and add-pid changes); taken
    // before lock_ and never by a tracing thread but for the environment's
    // start (below). While it is held the live
    // configuration neither changes nor goes away, so the holder may read it
    // without lock_, and the long work (parsing, copying, reporting) runs
    // outside lock_.
    kor_crit_section_c update_cs_;
    // The environment's start, not made yet (see self_start_pending); the
    // thread that makes it holds update_cs_, the only time a tracing
    // thread takes it, once per process.
    std::atomic<bool> self_start_pending_{false};
    tr_stream_c self_config_;   // KATRACE_CONFIG, empty when unset
    tr_stream_c self_log_dir_;  // KATRACE_LOG_DIR, empty when unset
    void _read_environment();
    void _self_start();
    // The live configuration, read under a short hold of the reader lock;
    // the caller holds update_cs_, which keeps it alive and unchanged.
    config_parser_c* _settled_config();

    trace_manager_c(const trace_manager_c&) = delete;
    trace_manager_c& operator=(const trace_manager_c&) = delete;

    thread_trace_s* _create_record();
    void _destroy_record(thread_trace_s* record);
    // Push helpers of the owning thread: ten more slots; a new block of
    // needed bytes for the slot at stack_count (null without memory).
    static void _grow_stack(thread_trace_s* record);
    static char* _replace_slot(thread_trace_s* record, size_t needed);
    // Fills identity fields from the support library ("Undefined" rule).
    // The record's name copy is replaced; the old one is freed.
    static void _fill_identity(thread_trace_s* record);
    // Frees the record's name copy; the name is "Undefined" again.
    static void _free_name(thread_trace_s* record);
    // Registry search by the calling thread's system id (cs held by caller).
    thread_trace_s* _find_current();
    // The calling thread's record, or null when it has none yet.
    thread_trace_s* _lookup_current();
    // Whether the record matches a thread rule; sets enabled accordingly.
    void _judge(thread_trace_s* record) KATR_REQUIRES_SHARED(lock_);
    // Sends line 1 and line 2 of a banner to the log file, standard output
    // and the debugger output as the current settings say.
    void _write_banner(const char* line1, const char* line2) KATR_REQUIRES(lock_);
    // Tries the log writer's moves and deletes that met a file held open
    // again, a pause apart, taking the writer lock for each attempt only:
    // tracing threads go on writing (to the file in use) during the pauses.
    // Run by the caller that claimed the retry, after releasing the lock.
    void _retry_held_files() KATR_EXCLUDES(lock_);
    // The thread banner decision: true (and id remembered) when another
    // thread wrote the previous line.
    bool _banner_due_locked(unsigned id) KATR_REQUIRES(lock_);
    // The rule lists' critical sections, entered, left or (in a forked
    // child) made anew, in one fixed order.
    enum rule_lists_e {
        LISTS_ENTER,
        LISTS_LEAVE,
        LISTS_RESET
    };
    void _rule_lists(rule_lists_e what) KATR_REQUIRES(lock_);
    // Whether before_fork took the locks (and the after steps must release).
    bool fork_locked_ = false;

    // ------------------------------------------------ group commit
    // Lines waiting for the writer: a stack of entries on their writers'
    // stacks, newest first.
    std::atomic<pending_line_s*> pending_{nullptr};
    // Set while a thread writes the waiting lines.
    std::atomic<bool> leading_{false};
    // Raised after every group written and every change of writer; the word
    // waiting threads sleep on. waiters_ counts the sleepers.
    std::atomic<unsigned> commits_{0};
    std::atomic<unsigned> waiters_{0};
    // Writes the waiting lines, group after group, under the writer lock;
    // true when the caller claimed the retry of held files (which it runs
    // after giving up the lock and the writer's role).
    bool _lead_group_commit();
    // Raises commits_ and wakes the sleepers when there are any.
    void _announce_commit();
    // Appends the record line (with or without the stack).
    static void _record_line(tr_stream_c& out, thread_trace_s* record, bool with_stack);
    // "Found n threads:" and one numbered record line per thread.
    void _numbered_records(tr_stream_c& out, unsigned n, bool with_stack);
};

// Registers the fork steps of the process's manager with the platform layer
// (once per process; every manager's construction asks).
void katr_register_fork_handlers();

// The process's manager; null before process attach and after process detach.
extern std::atomic<trace_manager_c*> g_katr_manager;
inline trace_manager_c* katr_manager() { return g_katr_manager.load(std::memory_order_acquire); }

#endif
