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

#include "config/config_parser.h"   // config_parser_c, str_list_c
#include "kor/mix.h"
#include "kor/ptr_list.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

// Whether reconfigure opens the log file also when nothing moved it (a
// configuration load starts a new file; a text parse does not).
enum open_mode_e { OPEN_WHEN_MOVED, OPEN_ALWAYS };
// Whether a directory newly taken is scanned for the files of earlier runs.
enum scan_mode_e { SCAN_DIRECTORY, SKIP_SCAN };

class logger_c {
public:
    // The fields, in this order.
    plat_file_t file;                  // open log file; PLAT_NO_FILE when none
    bool opened;                       // set by the first successful open, never cleared
    unsigned pid;                      // process id used in the file name
    bool add_pid;                      // copy of the configuration's add_pid_to_log_filename
    unsigned long long max_file_size;  // copy of log_file_size, bytes
    unsigned long long files_to_keep;  // copy of log_files_to_keep
    unsigned file_number;              // number given by the latest rotation; 0 before any
    unsigned bytes_written;            // bytes of the current file (banner included, BOM not); 32-bit
    char module_name[KOR_MAX_PATH];    // base of the file name
    tr_stream_c file_name;             // full path of the current log file
    tr_stream_c directory;             // log directory, ending in '/'
    str_list_c rotated_files;          // full paths of rotated files, newest first (owned copies)
    str_list_c reported_names;         // paths reported by left_alone, each said once

    // Rotated files found by one directory scan, sorted by number, highest
    // first; entries of equal number keep the order in which they were added.
    // Owns its records, not the names they point to.
    struct si_list_s : public ptr_list_c {
        struct item_s {
            const char* name;   // file name, owned by the directory listing
            unsigned number;    // rotation number
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
    // Rotates the current file away (without retention) and builds the new
    // file_name; opens nothing.
    void close_for_rename();
    // Records a new process id (0: the current process); when the name
    // carries the id and a file is in use, moves to the file of the new name.
    void set_pid(unsigned process_id);
    // Writes first and then second (either may be null or of length 0) with
    // one system call; rotates when bytes_written reaches max_file_size.
    void write(const char* first, unsigned first_len, const char* second, unsigned second_len);

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
    // True when something other than a regular file stands at path: a link,
    // pipe, device or directory that someone else made in the (often
    // shared) directory. The writer leaves it alone; the first time for a
    // path it says so on the standard error stream, with what it does
    // instead.
    bool left_alone(const char* path, const char* instead);
    // The first number above after whose name "<base>.<number>" is free or a
    // regular file, with that name in name; names on the way that are taken
    // by anything else are reported and skipped. 0 when a run of them is too
    // long.
    unsigned next_rotation(const char* base, unsigned after, tr_stream_c& name);
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
