// logger_c: the one log file of the process.
//
// The writer opens the file (byte-order mark and banner on every open),
// appends the trace lines handed to it, counts the bytes and rotates the file
// to "<name>.<number>" when the size limit is reached. It also decides where
// the file lives and what it is called, adopts the rotated files that earlier
// runs (or other processes of the same executable) left in the directory, and
// deletes the oldest rotated files beyond the configured number. The
// directory is often shared (/tmp/logs, a group-writable service directory):
// only regular files are opened, moved, deleted or counted there, and
// anything else at a name the writer wants is reported once and left alone.
// A file has one writer at a time: a name another writer holds (another
// process of the same executable) is not shared, the log goes on in the
// next free numbered file. A rotation never replaces an existing file.
//
// Locking: logger_c has no lock of its own and takes none. The trace manager
// holds its reader-writer lock as writer around every call (and as reader
// around reads of file_name); the only unlocked call is a write made while the
// manager is being constructed. set_log_directory, set_add_pid and
// change_pid are "under the manager's writer lock" operations: the manager
// takes the lock and calls them (this layer may not call the manager).
//
// Nothing is buffered in user space: every write is one system call into the
// kernel, so a line whose write returned survives a kill of the process.
#ifndef KATRACE_LOGFILE_LOGGER_H
#define KATRACE_LOGFILE_LOGGER_H

#include "config/config_parser.h"  // config_parser_c, str_list_c
#include "kor/mix.h"
#include "kor/ptr_list.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

// Whether reconfigure opens the log file also when nothing moved it (a
// configuration load starts a new file; a text parse does not).
enum open_mode_e {
    OPEN_WHEN_MOVED,
    OPEN_ALWAYS
};
// Whether a directory newly taken is scanned for the files of earlier runs.
enum scan_mode_e {
    SCAN_DIRECTORY,
    SKIP_SCAN
};

// The most bytes one system call of the writer carries (a 32-bit count on
// Windows); a longer text is written in pieces of this size.
const unsigned long long LOG_WRITE_PIECE = 1ull << 30;

// One line of a batch: its prefix and its text.
struct log_line_s {
    const char* prefix;
    size_t prefix_length;
    const char* text;
    size_t length;
};

class logger_c {
public:
    // The fields, in this order.
    plat_file_t file;                                  // open log file; PLAT_NO_FILE when none
    bool opened;                                       // set by the first successful open, never cleared
    unsigned pid;                                      // process id used in the file name
    bool add_pid;                                      // copy of the configuration's add_pid_to_log_filename
    unsigned long long max_file_size;                  // copy of log_file_size, bytes
    unsigned long long write_piece = LOG_WRITE_PIECE;  // most bytes per system call (tests lower it)
    unsigned long long files_to_keep;                  // copy of log_files_to_keep
    unsigned file_number;                              // number given by the latest rotation; 0 before any
    unsigned bytes_written;                            // bytes of the current file (banner included, BOM not); 32-bit
    char module_name[KOR_MAX_PATH];                    // base of the file name
    tr_stream_c file_name;                             // full path of the current log file
    tr_stream_c directory;                             // log directory, ending in '/'
    str_list_c rotated_files;                          // full paths of rotated files, newest first (owned copies)
    str_list_c reported_names;                         // paths reported by left_alone, each said once
    // A failed write or open closes the file and starts a failure episode:
    // one message, then the next line at least REOPEN_DELAY_MS later opens
    // the file again. The episode ends with a successful open.
    bool failing = false;                 // inside a failure episode
    bool rotate_on_reopen = false;        // the closed file holds lines: rotate it away first
    unsigned long long failed_at_ms = 0;  // plat_clock_ms() of the latest failure
    static const unsigned REOPEN_DELAY_MS = 1000;
    tr_stream_c continued;  // numbered file written while file_name is held by
                            // another writer (or always, with stable names);
                            // empty while writing file_name
    // Stable names (LogFileNaming stable): every file is born as
    // "<file_name>.<number>" and never renamed; on POSIX file_name itself
    // is a symbolic link to the newest, so followers by name find the log.
    bool stable_names = false;
    // LogRetentionGrace: a rotated file written to less than this many
    // seconds ago is kept whatever the count, up to GRACE_BOUND times
    // files_to_keep rotated files.
    unsigned long long retention_grace = 0;
    static const unsigned GRACE_BOUND = 4;
    unsigned grace_overrun = 0;  // files the bound deleted young, said in the next file
    // Renamed names: a size rotation exchanges a fresh file into place in
    // one step (where the system can), so the current name never goes
    // missing; cleared the first time the system says it cannot.
    bool exchange_ok = true;
    tr_stream_c fresh;  // private name of the file being exchanged into place

    // Moves and deletes that met a file another open holds, to be tried
    // again after a pause that the caller spends without its lock. Owns its
    // records.
    struct retry_list_s : public ptr_list_c {
        struct item_s {
            tr_stream_c from;   // file to move or delete
            tr_stream_c to;     // new name of a move; empty for a delete
            unsigned attempts;  // attempts made so far
        };
        retry_list_s() : ptr_list_c(false) {}
        ~retry_list_s() override;
    };
    retry_list_s retries;
    bool retrying = false;  // a caller owns the retry of retries

    // Rotated files found by one directory scan, sorted by number, highest
    // first; entries of equal number keep the order in which they were added.
    // Owns its records, not the names they point to.
    struct si_list_s : public ptr_list_c {
        struct item_s {
            const char* name;  // file name, owned by the directory listing
            unsigned number;   // rotation number
        };
        si_list_s() : ptr_list_c(false) {}
        ~si_list_s() override;
        // Inserts before the first entry whose number is strictly smaller.
        void add(const char* name, unsigned number);
        // Appends without ordering; after the last one order_by_number()
        // gives the order a series of add() calls would have made, in
        // O(n log n) rather than O(n^2) for a large directory.
        void add_unordered(const char* name, unsigned number);
        // Highest number first; equal numbers keep the order they came in.
        void order_by_number();
    };

    logger_c();
    ~logger_c();
    logger_c(const logger_c&) = delete;
    logger_c& operator=(const logger_c&) = delete;

    // ---------------------------------------------------------- writer
    // Rotates the current file away when one was open before, then opens
    // file_name, writes the byte-order mark and the banner. Failures go to
    // error_text when given, else to the standard error stream.
    void open_file(tr_stream_c* error_text);
    // Opens file_name as it is, without rotating: byte-order mark and banner
    // behind any earlier content (the second half of open_file); reopen:
    // content found at the name is not this writer's (see open_own_file).
    void start_file(tr_stream_c* error_text, bool reopen = false);
    // Rotates the current file away (without retention) and builds the new
    // file_name; opens nothing.
    void close_for_rename();
    // Records a new process id (0: the current process); when the name
    // carries the id and a file is in use, moves to the file of the new name.
    void set_pid(unsigned process_id);
    // Writes first and then second (either may be null or of length 0) with
    // one system call, a text longer than LOG_WRITE_PIECE with one call per
    // piece; rotates when bytes_written reaches max_file_size, only after the
    // whole text, so that a line never spans two files. Inside a failure
    // episode the file is first opened again when the delay has passed;
    // until then lines are dropped.
    void write(const char* first, unsigned long long first_len, const char* second,
               unsigned long long second_len);
    // Writes count lines (each a prefix and a text, either empty) in file
    // order with one system call per file: the lines up to the one that
    // reaches max_file_size go to the current file, which then rotates, and
    // the rest to the next. The same bytes, counts, rotations and failure
    // handling as count calls of write().
    void write_lines(const log_line_s* lines, size_t count);
    // A write of the open file failed with code: says so on the standard
    // error stream, closes the file and starts a failure episode.
    void write_failed(unsigned long code);

    // Records a failure that left the file closed: starts or continues an
    // episode. A failed open inside an episode says nothing on the standard
    // error stream; the episode's first failure did.
    void note_failure();
    // Inside an episode whose delay has passed: opens the file again,
    // rotating a file that holds lines away first. True when it is open.
    bool reopen_after_failure();

    // ---------------------------------------------- naming and retention
    // Takes a new directory (null or empty: keep the current one, or the
    // default exe_dir/log/ when none is set) and module name, creates the
    // directory and scans it unless skip_scan. True when the directory changed.
    bool set_directory(const char* dir, const char* name, bool skip_scan);
    // Adopts the rotated files in the directory and rotates away a current
    // file left there. False when the directory cannot be listed.
    bool _check_log_dir_content();
    // Deletes the oldest rotated files beyond files_to_keep.
    void apply_retention();
    // file_name = directory + module_name [+ "_" + pid] + ".log"
    void make_file_name();
    // Stable names: points the link at file_name to the numbered file in
    // use (nothing on Windows, and nothing when something other than a link
    // stands there: a file of a writer with renamed names is never replaced).
    void link_newest();
    // Renamed names: removes a link at file_name that a run with stable
    // names left (one that names "<its own name>.<number>"), so the current
    // file can be made there; any other link is left alone.
    void drop_stable_link();
    // True when something other than a regular file stands at path: a link,
    // pipe, device or directory that someone else made in the (often
    // shared) directory. The writer leaves it alone; the first time for a
    // path it says so on the standard error stream, with what it does
    // instead.
    bool left_alone(const char* path, const char* instead);
    // The first number above after whose name "<base>.<number>" is free,
    // with that name in name. Names on the way that hold a file stay as they
    // are (a rotation never replaces a file); those taken by anything else
    // are reported and skipped. 0, said once on the standard error stream,
    // when the numbers run out (no wrapping onto the files of earlier runs)
    // or a run of planted names is too long.
    unsigned next_rotation(const char* base, unsigned after, tr_stream_c& name);
    // Moves from to to (never replacing a file) or deletes path, one attempt
    // each; one that meets a file held open is queued for retry_held_files.
    bool move_or_queue(const char* from, const char* to);
    bool delete_or_queue(const char* path);
    // True when moves or deletes wait for another attempt and no other
    // caller is trying them; the caller then owns the retry: it calls
    // retry_held_files up to RETRY_ROUNDS times, each RETRY_PAUSE_MS after
    // the last, without holding its lock across the pause.
    bool claim_retry();
    // One more attempt at every queued move and delete; drops those that
    // succeed, fail for another reason, have had their last attempt, or
    // would now take the file in use. True while some wait still; the claim
    // ends when it answers false or after the last round.
    bool retry_held_files(bool last_round);
    static const unsigned RETRY_ROUNDS = 4;
    static const unsigned RETRY_PAUSE_MS = 10;
    // Brings the logger in line with a configuration: copies the settings,
    // sets the directory (the configuration's, else fallback_dir), rotates
    // when the directory or the process-id flag changed, applies retention
    // and opens the file when open is OPEN_ALWAYS or a file in use was renamed.
    void reconfigure(config_parser_c& config, tr_stream_c* error_text, open_mode_e open,
                     const char* fallback_dir, const char* name, scan_mode_e scan);

    // ---------------- control operations (caller holds the manager's lock as writer)
    // Validates dir (must be a full path), creates it, stores its canonical
    // form in the configuration and reconfigures. Messages go to error_text.
    bool set_log_directory(config_parser_c& config, const char* dir, tr_stream_c* error_text,
                           const char* name, scan_mode_e scan);
    // Stores the process-id flag in the configuration and reconfigures.
    void set_add_pid(config_parser_c& config, bool flag, tr_stream_c* error_text);
    // set_pid (0: the current process id).
    void change_pid(unsigned process_id);

    // The two halves of set_log_directory, for a caller that wants to validate
    // and create the directory before taking its lock: prepare_log_directory
    // needs no lock and leaves the canonical path in canonical (KOR_MAX_PATH
    // bytes); use_log_directory runs under the lock.
    static bool prepare_log_directory(const char* dir, tr_stream_c* error_text, char* canonical);
    void use_log_directory(config_parser_c& config, const char* canonical, tr_stream_c* error_text,
                           const char* name, scan_mode_e scan);
};

#endif
