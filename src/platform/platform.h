// The platform layer: the only code in katrace that calls the operating
// system. One flat interface, one implementation per OS (posix/, win32/).
// Every path argument is UTF-8 text; the Win32 backend converts it to UTF-16
// itself and hands full paths to the system in their extended-length form.
// Paths longer than 4196 bytes (or UTF-16 units) are refused as a failure
// before any system call. No function here prints anything; failures come
// back as false, -1 or null, with the system's code in plat_last_error.
// Every function is safe to call from any thread.
#ifndef KATRACE_PLATFORM_H
#define KATRACE_PLATFORM_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#if defined(__x86_64__) && !defined(_WIN32)
#  include <x86intrin.h>
#endif

#include "katrace.h"

// The longest path, in bytes of UTF-8 (or units of UTF-16), that the library
// handles: the size of its path buffers. Longer paths are refused.
const size_t PLAT_MAX_PATH = 4196;

// The path rules of the system: Windows (drive and network paths are full,
// names compare without regard to case) or POSIX ('/' starts a full path,
// names compare exactly).
enum plat_path_style_e {
    PLAT_PATH_POSIX,
    PLAT_PATH_WINDOWS
};
#if defined(_WIN32)
const plat_path_style_e PLAT_PATH_NATIVE = PLAT_PATH_WINDOWS;
#else
const plat_path_style_e PLAT_PATH_NATIVE = PLAT_PATH_POSIX;
#endif

// The extended-length form of a full Windows path into target (size bytes):
// "\\?\C:\..." for a drive path, "\\?\UNC\server\..." for a network path,
// '\' as the only separator and runs of separators collapsed. A path that
// already has the form is copied; other paths, and those holding "." or ".."
// components (which the extended form takes literally), keep their text with
// '\' separators. False (target empty when it has room) for a null or empty
// path or a result that does not fit. Plain text, the same on every build:
// the Win32 backend applies it to every path it hands to the system.
bool plat_long_path(const char* path, char* target, size_t size);

// Whether the library's process-detach notification comes only after every
// other thread of the process has stopped (Windows: DllMain), so that the
// manager may be freed there; false where it may run while other threads
// still trace (POSIX: the ELF destructor runs from exit()).
#if defined(_WIN32)
const bool PLAT_DETACH_AFTER_THREADS = true;
#else
const bool PLAT_DETACH_AFTER_THREADS = false;
#endif

// ---------------------------------------------------------------- log file
// A file handle: a file descriptor on POSIX, a HANDLE on Windows.
typedef intptr_t plat_file_t;
const plat_file_t PLAT_NO_FILE = -1;

// Opens (creating when missing) a file for appending; never inheritable by
// child processes; others may read it while it is open, but no second open
// may write it: Windows refuses it with a sharing violation, POSIX (where an
// exclusive advisory lock marks the file as taken) with EBUSY; both satisfy
// plat_error_in_use. Every write goes to the end (POSIX: O_APPEND; Windows:
// the pointer starts at the end).
// PLAT_NO_FILE on failure, also when anything but a regular file stands at
// path: a link (or reparse point) there is not followed and a pipe or device
// is refused without blocking.
plat_file_t plat_file_open_append(const char* path);
// Size of an open file in bytes, -1 on failure.
long long plat_file_size(plat_file_t f);
// Appends one piece, resuming after partial writes; true when every byte
// was written.
bool plat_file_write(plat_file_t f, const void* data, size_t size);
// Appends two pieces with one system call (writev on POSIX; on Windows one
// WriteFile when both fit a 4 KiB stack buffer, else two); either piece may
// be empty. True when every byte was written.
bool plat_file_write2(plat_file_t f, const void* a, size_t a_size, const void* b, size_t b_size);
// One piece of a gathered write.
struct plat_piece_s {
    const void* data;
    size_t size;
};
// Appends count pieces in order with as few system calls as the system
// allows (writev in groups of at most PLAT_MAX_PIECES on POSIX, resuming
// after partial writes; on Windows one WriteFile of the joined pieces).
// Empty pieces are skipped. True when every byte was written.
const size_t PLAT_MAX_PIECES = 256;
bool plat_file_write_pieces(plat_file_t f, const plat_piece_s* pieces, size_t count);
// Closes the file; PLAT_NO_FILE is ignored.
void plat_file_close(plat_file_t f);

// ---------------------------------------------------------------- waiting
// Sleeps while *word holds expected, for at most timeout_ms (futex on
// Linux, WaitOnAddress on Windows); may return early. Wakes come from
// plat_wake_word_all on the same word.
void plat_wait_word(const unsigned* word, unsigned expected, unsigned timeout_ms);
void plat_wake_word_all(const unsigned* word);
// A hint to the processor inside a spin loop.
void plat_spin_pause();

// ---------------------------------------------------------- read-only map
// A read-only view of a whole regular file followed by one NUL byte. The
// text may contain NUL bytes of its own. Windows maps the file (a mapped
// file cannot be truncated there; a file whose size is an exact multiple of
// the page size is read into a heap buffer instead). POSIX reads the file
// into a heap buffer: a mapped file truncated by another process would
// raise SIGBUS in the reader, while a read sees either bytes that were in
// the file or its end. A FIFO, a device or a directory is refused.
struct plat_mapping_s {
    const char* data;  // the file's bytes, data[size] == 0; null when not mapped
    size_t size;       // file size in bytes
    void* os_handle;   // backend bookkeeping
    void* os_extra;    // backend bookkeeping
};
// Maps the file; false (and m->data null) on failure. An empty file maps to "".
bool plat_map_file(const char* path, plat_mapping_s* m);
// As plat_map_file, for a file that another process may be writing (a live
// black box): the bytes are always copied into memory, and on Windows the
// open admits writers.
bool plat_read_live_file(const char* path, plat_mapping_s* m);
// Releases a mapping made by plat_map_file or plat_read_live_file; safe on
// a failed or released one.
void plat_unmap_file(plat_mapping_s* m);

// -------------------------------------------------- shared read-write map
// A file mapped shared and writable: every store into data is in the
// system's page cache at once and reaches the file even when the process
// is killed. The black box lives in one.
struct plat_shared_map_s {
    unsigned char* data;  // the file's bytes; null when not mapped
    size_t size;          // bytes mapped (the file's size)
    intptr_t os_handle;   // backend bookkeeping
    intptr_t os_extra;    // backend bookkeeping
};
// Creates the regular file at path, or takes the one there with its content
// dropped, gives it size bytes of zeros with the disk space reserved (POSIX
// ftruncate + posix_fallocate, so that a full disk fails here rather than
// raising SIGBUS on a later store; Windows: the mapping's size), and maps it
// whole, shared, read-write. What stands at path is refused as by
// plat_file_open_append: a link, reparse point, pipe or device is never
// opened or followed. The file is not inheritable. False (m->data null) on
// failure, also for a size of 0 or one beyond the address space.
bool plat_map_shared(const char* path, unsigned long long size, plat_shared_map_s* m);
// Unmaps and closes; safe on a failed or released map. The file stays.
void plat_unmap_shared(plat_shared_map_s* m);

// ------------------------------------------------------------ fine clock
// The time-stamp counter: plat_ticks is cheap (no system call; the rdtsc
// instruction on x86-64 Linux, QueryPerformanceCounter on Windows) and only
// grows; plat_tick_rate is its ticks per second (measured once against the
// monotonic clock on POSIX, QueryPerformanceFrequency on Windows).
#if defined(__x86_64__) && !defined(_WIN32)
inline uint64_t plat_ticks() { return __rdtsc(); }
#else
uint64_t plat_ticks();
#endif
uint64_t plat_tick_rate();
// The wall clock in nanoseconds since 1970 (UTC).
uint64_t plat_wall_ns();
// Reads clock() between two counter reads and returns its value, with the
// counter's midpoint in *ticks. Of a few tries the narrowest bracket counts:
// a thread preempted between the reads would put the midpoint up to half
// its time off.
template <class Clock>
uint64_t plat_ticks_beside(Clock clock, uint64_t* ticks) {
    uint64_t narrowest = ~0ull, value = 0;
    for (int i = 0; i < 8; ++i) {
        const uint64_t before = plat_ticks();
        const uint64_t now = clock();
        const uint64_t width = plat_ticks() - before;
        if (width >= narrowest) continue;
        narrowest = width;
        value = now;
        *ticks = before + width / 2;
    }
    return value;
}


// Opening for append (above), moving, deleting and listing act only on
// regular files and never follow a link or reparse point at a file's own
// name; the directories on the way to it may be links.
//
// Renames a regular file; fails when the target exists (no replacing) and
// for anything else at from. One attempt: a file that another open holds
// (a sharing violation on Windows, a log taken by plat_file_open_append on
// POSIX) fails with a code for which plat_error_in_use is true, and the
// caller decides whether and when to try again.
bool plat_move_file(const char* from, const char* to);
// Deletes a regular file (not a link, directory, pipe...); one attempt, as
// plat_move_file.
bool plat_delete_file(const char* path);
// What stands at path, its last component not followed: PLAT_ENTRY_NONE,
// PLAT_ENTRY_FILE (a regular file), PLAT_ENTRY_OTHER (a link or reparse
// point, directory, pipe, device or socket), or -1 when it cannot be told.
enum {
    PLAT_ENTRY_NONE = 0,
    PLAT_ENTRY_FILE = 1,
    PLAT_ENTRY_OTHER = 2
};
int plat_entry_kind(const char* path);
// Existence test (_waccess / access with mode 0): 1 exists, 0 does not
// exist, -1 access denied (unknown; try plat_path_opens).
int plat_path_access(const char* path);
// True when the path can be opened (a file or a directory).
bool plat_path_opens(const char* path);
// Creates one directory (not its parents): mode 0777 under the process
// umask on POSIX, default security on Windows. False when it exists.
bool plat_create_directory(const char* path);
// Calls visit(name, ctx) with the UTF-8 name of every regular file in dir
// (links, reparse points, directories and other entries are skipped). True
// when the listing ran to its end.
typedef void (*plat_visit_f)(const char* name, void* ctx);
bool plat_list_files(const char* dir, plat_visit_f visit, void* ctx);
// Time of the last write of the regular file at path, in seconds since
// 1970 (as plat_time); -1 when it cannot be read.
long long plat_file_mtime(const char* path);

// ------------------------------------------------ links to the newest log
// Points the symbolic link at link_path to target (a name in the same
// directory), atomically: a fresh link is made beside it and renamed over
// the old one, so the name never goes missing. Something other than a link
// at link_path (a regular file, a directory...) is never replaced: false.
// Windows makes no links (they need a right a service may not have): false.
bool plat_replace_link(const char* link_path, const char* target);
// The target text of the symbolic link at path into target (size bytes,
// NUL-terminated); false when path is not a link or the text does not fit.
bool plat_read_link(const char* path, char* target, size_t size);
// Removes the symbolic link at path (never a file it points to); false when
// something else stands there.
bool plat_delete_link(const char* path);
// Swaps the regular files at a and b atomically (Linux renameat2 with
// RENAME_EXCHANGE): 1 done, 0 when the system or file system cannot (the
// caller falls back to separate moves), -1 on any other failure.
int plat_exchange_files(const char* a, const char* b);

// ------------------------------------------------------ thread-local slot
// Allocates a slot (POSIX: at most 64 at a time). On POSIX, on_exit (when
// not null) runs on each exiting thread whose slot value is not null, with
// the value still readable through plat_tls_get, and the slot is cleared
// after it; on Windows thread exit is reported by the load notifications
// instead and on_exit is never called. plat_tls_get keeps the last error.
bool plat_tls_alloc(unsigned* index, void (*on_exit)(void* value));
void* plat_tls_get(unsigned index);
bool plat_tls_set(unsigned index, void* value);
void plat_tls_free(unsigned index);

// ------------------------------------------------------------------- locks
// Locks that never throw and, once made, never fail: a reader-writer lock
// (not recursive; a waiting writer goes before new readers where the system
// allows it) and a recursive mutex. Both are made on the process heap;
// create returns null when memory runs out.
struct plat_rwlock_s;
plat_rwlock_s* plat_rwlock_create();
void plat_rwlock_destroy(plat_rwlock_s* l);
void plat_rwlock_read(plat_rwlock_s* l);
void plat_rwlock_read_unlock(plat_rwlock_s* l);
void plat_rwlock_write(plat_rwlock_s* l);
void plat_rwlock_write_unlock(plat_rwlock_s* l);
struct plat_mutex_s;
plat_mutex_s* plat_mutex_create();
void plat_mutex_destroy(plat_mutex_s* m);
void plat_mutex_enter(plat_mutex_s* m);
void plat_mutex_leave(plat_mutex_s* m);
// In a forked child: makes a lock that the forking thread took once before
// the fork new and free, as if released. Unlocking is not enough there: the
// lock still carries the waits of parent threads that do not exist in the
// child, and a reader would wait for a writer that never comes.
void plat_rwlock_reset_in_child(plat_rwlock_s* l);
void plat_mutex_reset_in_child(plat_mutex_s* m);

// Each thread counts the regions it is in that must not be entered again on
// the same thread: every hold of a lock above (counted from before it is
// taken until after it is released) and the regions marked with
// plat_busy_enter/plat_busy_leave. Code that finds its thread busy has
// interrupted the library on its own thread (a signal handler, a hook called
// from inside) and must not take a lock or touch the thread's state.
void plat_busy_enter();
void plat_busy_leave();
bool plat_thread_busy();

// --------------------------------------------------------------------- fork
// Registers, once per process, functions that run around fork() in the
// forking thread: prepare before it, parent and child after it in the two
// processes. Registering again does nothing. On Windows (no fork) nothing
// is registered and the result is false.
bool plat_on_fork(void (*prepare)(), void (*parent)(), void (*child)());

// --------------------------------------------------------------- last error
// errno on POSIX, GetLastError on Windows.
#if defined(_WIN32)
unsigned long plat_last_error();
void plat_set_last_error(unsigned long code);
#else
// errno, inline: the entry object reads it before and after every call
// into the library, and the compiler then asks libc for its place once.
inline unsigned long plat_last_error() { return static_cast<unsigned long>(errno); }
inline void plat_set_last_error(unsigned long code) { errno = static_cast<int>(code); }
#endif
// True when code says that another open holds the file, so that a later
// attempt may succeed: ERROR_SHARING_VIOLATION or ERROR_LOCK_VIOLATION on
// Windows, EBUSY on POSIX.
bool plat_error_in_use(unsigned long code);

// ------------------------------------------------------------- process heap
// The process heap's handle, null on failure (error code in plat_last_error).
// On POSIX a constant token for malloc/free; other handles are refused.
void* plat_process_heap();
void* plat_heap_alloc(void* heap, size_t size);
// False on failure (error code in plat_last_error).
bool plat_heap_free(void* heap, void* block);

// --------------------------------------------------------- debugger output
// True when a text sent now could reach someone: always on Windows; on POSIX
// only while a viewer listens on the per-user endpoint. Cheap (no system call
// on the common path).
bool plat_debug_output_active();
// Sends one UTF-8 text to the debugger output: length bytes, or fewer when
// a NUL byte comes first; nothing for a null or empty text. Windows widens
// it for OutputDebugStringW; POSIX sends it as one datagram, without
// blocking, while a viewer listens (a viewer that is gone is noticed here,
// a full one loses the text). Keeps the last error.
void plat_debug_output(const char* text, size_t length);
// Name of the POSIX viewer endpoint for the calling user, a Unix datagram
// socket path: $XDG_RUNTIME_DIR/katrace-debug.sock, else
// /tmp/katrace-<uid>/debug.sock (the directory is created 0700; texts go
// there only while it belongs to the user and admits no one else). A viewer
// binds a SOCK_DGRAM socket at this path. Empty on Windows.
const char* plat_debug_endpoint();
// For tests: makes path the endpoint (null restores the default) and lets
// the next plat_debug_output_active probe it at once. Nothing on Windows.
void plat_set_debug_endpoint(const char* path);

// ------------------------------------------------------------- executable
// The first bytes of the running executable's image (the module base on
// Windows), or null. On POSIX this is an ELF image, never a PE one.
const unsigned char* plat_exe_image();
// Full path of the running executable, UTF-8; false (buf empty) when it
// does not fit.
bool plat_exe_path(char* buf, size_t size);

// ------------------------------------------------------------- environment
// The value of an environment variable the process may act on, UTF-8; false
// (buf empty) when it is unset or empty, does not fit, or (POSIX) the
// process runs set-user-id or set-group-id, where the environment of the
// caller must not choose what the process opens.
bool plat_environment(const char* name, char* buf, size_t size);

// ------------------------------------------------------- time and identity
// Seconds since the epoch.
long long plat_time();
// Milliseconds of a clock that only moves forward (not the wall clock), for
// measuring waits.
unsigned long long plat_clock_ms();
// Breaks a time down into local time (thread-safe); false on failure.
bool plat_localtime(long long t, struct tm* out);
unsigned long plat_pid();
// The system thread id (gettid on Linux, cached per thread).
unsigned long plat_thread_id();
// The OS name of the calling thread, UTF-8; false (and buf empty) when none
// or when it does not fit.
bool plat_thread_name(char* buf, size_t size);
// Sleeps for the given milliseconds.
void plat_sleep_ms(unsigned ms);

// ------------------------------------------------------- UTF-8 <-> UTF-16
// The semantics of MultiByteToWideChar / WideCharToMultiByte with code page
// 65001, flags 0 and NUL-terminated input (length -1): with a null dst or a
// size of 0 the result is the number of units (bytes) needed, terminator
// included; otherwise the number written, or 0 when dst is too small (its
// content is then unspecified). Invalid input becomes U+FFFD; the result
// always ends in a terminator. A null src or a negative size gives 0.
int plat_utf8_to_utf16(const char* src, katr_wchar_t* dst, int dst_units);
int plat_utf16_to_utf8(const katr_wchar_t* src, char* dst, int dst_bytes);

// ---------------------------------------------------------- fault injection
// For tests: the system calls behind this interface, each of which a test
// may make fail (or, for writes, write less) before the real call runs, to
// reach error paths that no ordinary environment produces.
enum plat_call_e {
    PLAT_CALL_OPEN,        // opening the log file for appending
    PLAT_CALL_WRITE,       // each write / writev / WriteFile of the log file
    PLAT_CALL_RENAME,      // plat_move_file
    PLAT_CALL_UNLINK,      // plat_delete_file
    PLAT_CALL_LIST,        // plat_list_files
    PLAT_CALL_MAP,         // plat_map_file (the read or the mapping)
    PLAT_CALL_MKDIR,       // plat_create_directory
    PLAT_CALL_TLS_ALLOC,   // plat_tls_alloc
    PLAT_CALL_HEAP,        // plat_heap_alloc
    PLAT_CALL_MAP_SHARED,  // plat_map_shared (the open)
    PLAT_CALL_COUNT
};
// Portable errors a hook can make a call fail with; each backend turns them
// into its own code (errno: ENOSPC, EMFILE, EINTR, EACCES; Win32:
// ERROR_DISK_FULL, ERROR_TOO_MANY_OPEN_FILES, ERROR_OPERATION_ABORTED,
// ERROR_ACCESS_DENIED). An interrupted call is retried where the backend
// retries a real interruption (POSIX); elsewhere it fails.
enum plat_fault_e {
    PLAT_FAULT_NONE = 0,
    PLAT_FAULT_NO_SPACE,
    PLAT_FAULT_TOO_MANY_FILES,
    PLAT_FAULT_INTERRUPTED,
    PLAT_FAULT_ACCESS_DENIED
};
// Called before the real call: the fault to fail it with, or PLAT_FAULT_NONE
// to let it run. For PLAT_CALL_WRITE, *size holds the bytes the call is
// about to write and may be lowered (not to 0) for a short write; for the
// other calls size is null.
typedef plat_fault_e (*plat_fault_hook_f)(plat_call_e call, size_t* size);
// Installs hook for call; null restores the real behaviour. A hook runs on
// whichever thread makes the call.
void plat_set_fault_hook(plat_call_e call, plat_fault_hook_f hook);

// ------------------------------------------------------------------ threads
// A thread the library starts itself (the control endpoint's listener).
// Only companion libraries start threads; the trace library never does.
typedef intptr_t plat_thread_t;
const plat_thread_t PLAT_NO_THREAD = 0;
// Starts a thread that runs fn(arg). POSIX: every signal is blocked in it,
// so that the host's signal handlers run on the host's threads, and it is
// named name (at most 15 bytes kept). Windows: the module holding fn stays
// loaded for the rest of the process. PLAT_NO_THREAD on failure.
plat_thread_t plat_thread_start(void (*fn)(void*), void* arg, const char* name);
// Waits for the thread to end and releases it; PLAT_NO_THREAD is ignored.
void plat_thread_join(plat_thread_t t);

// --------------------------------------------------------- control endpoint
// A per-process endpoint through which a tool of the same user talks to the
// process: a Unix stream socket on POSIX, a named pipe on Windows. Both
// carry a byte stream; listeners and connections are handles, -1 for none.
//
// POSIX: the socket <dir>/<pid>.sock, where <dir> is $XDG_RUNTIME_DIR/katrace
// when that variable holds a full path, else /tmp/katrace-<uid>. The
// directory is created 0700 and used only while it is a directory of the
// calling user that admits no one else (the rule of the debugger output's
// directory); the socket file is 0600, and a connection whose peer runs
// under another effective uid (SO_PEERCRED) is closed unanswered.
// Windows: the pipe \\.\pipe\katrace-<pid>, whose security descriptor
// grants access to the current user only; local clients only.
const intptr_t PLAT_NO_ENDPOINT = -1;
// The endpoint's name for process pid (the socket path or the pipe name);
// false (buf empty) when it does not fit or no directory can be named.
bool plat_control_endpoint(unsigned long pid, char* buf, size_t size);
// Creates the calling process's endpoint, replacing a socket file that no
// process listens on. -1 on failure, with a reason in why (UTF-8, NUL-
// terminated, cut to why_size) naming the endpoint and what is wrong.
intptr_t plat_control_listen(char* why, size_t why_size);
// Waits up to timeout_ms for a client and returns its connection; -1 on
// timeout, on error and for a client of another user (closed unanswered).
intptr_t plat_control_accept(intptr_t listener, unsigned timeout_ms);
// Closes the endpoint; with remove, its socket file is removed too (not in
// a forked child, whose parent still listens there).
void plat_control_close(intptr_t listener, bool remove);
// A client's connection to process pid's endpoint, waiting up to timeout_ms
// while the endpoint is busy. -1 when there is none, when it belongs to
// another user (POSIX: the directory is not private or the peer's uid
// differs; Windows: the pipe's server is not process pid), or on failure.
intptr_t plat_control_connect(unsigned long pid, unsigned timeout_ms);
// Receives up to size bytes, waiting up to timeout_ms for the first: the
// count received, 0 on timeout, -1 when the peer closed or on error.
int plat_conn_receive(intptr_t conn, void* buf, size_t size, unsigned timeout_ms);
// Sends every byte within timeout_ms; false on failure or timeout. A peer
// that has gone never raises a signal.
bool plat_conn_send(intptr_t conn, const void* data, size_t size, unsigned timeout_ms);
// Closes a connection; -1 is ignored.
void plat_conn_close(intptr_t conn);
// Calls visit(pid, ctx) for every process of the calling user with a live
// endpoint, in no particular order. POSIX: a socket file nobody listens on
// whose process has ended is removed. False when the listing failed.
typedef void (*plat_pid_visit_f)(unsigned long pid, void* ctx);
bool plat_control_list(plat_pid_visit_f visit, void* ctx);
// The file name of process pid's executable (UTF-8); false (buf empty)
// when it cannot be read or does not fit.
bool plat_process_name(unsigned long pid, char* buf, size_t size);

// ------------------------------------------------------ load notifications
// Implemented by the trace manager; the backends' library entry points
// (DllMain, or the ELF constructor/destructor plus the thread-exit hook)
// call them.
void katr_on_process_attach();
void katr_on_process_detach();
void katr_on_thread_attach();
void katr_on_thread_detach();

// ------------------------------------------------- debugger output viewer
// The receiving end of the POSIX debugger output, for viewer tools and
// tests. On Windows the texts go to OutputDebugStringW, which the system's
// own debuggers read: there every function fails (-1, ERROR_NOT_SUPPORTED).
//
// Binds a Unix datagram socket at endpoint, or at plat_debug_endpoint() for
// null. For null the endpoint's directory is prepared as the senders expect:
// created 0700 when missing, refused unless it is a directory of the calling
// user, and closed to group and others. An explicit endpoint is bound as
// given. A socket file left by a viewer that ended without closing is
// replaced; a live viewer's is not. The handle, or -1 on failure.
intptr_t plat_debug_viewer_open(const char* endpoint);
// Waits up to timeout_ms for one datagram and stores it in buf, cut to
// size - 1 bytes (the rest is lost) and NUL-terminated. The number of bytes
// stored; 0 on timeout, on an interrupting signal or for an empty datagram;
// -1 on error (also for a null buf or a size of 0).
int plat_debug_viewer_receive(intptr_t viewer, char* buf, size_t size, unsigned timeout_ms);
// Closes the viewer and removes its socket file; -1 is ignored.
void plat_debug_viewer_close(intptr_t viewer);

#endif
