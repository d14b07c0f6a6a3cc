// The process's black box as the library runs it: the box file opened,
// replaced or closed as the configuration says, each thread's writer made
// with its first event and released when it ends, the sites' string-table
// ids and argument plans cached, and the events of the trace sites
// recorded. A box that the configuration replaces stays mapped until the
// last thread that recorded into it has moved on or ended.
#ifndef KATRACE_BOX_KEEPER_H
#define KATRACE_BOX_KEEPER_H

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "blackbox/box_site_table.h"
#include "kor/crit_section.h"
#include "support/tr_stream.h"

struct box_recorder_s;
struct box_writer_s;
struct box_session_s;
struct box_thread_s;

struct box_settings_s {
    unsigned long long size;   // 0: no box
    unsigned ranks;            // recorded ranks
    unsigned on_error;         // events written before an error line
    const char* directory;     // the log directory, ending in a separator
    const char* name;          // the executable's name, the box's base name
    unsigned long long keep;   // boxes of earlier processes kept
    unsigned long long grace;  // seconds a box written to lately is kept beyond keep
    const char* rank_names;    // the additional ranks' names, space-separated, in bit order
};

class box_keeper_c {
public:
    box_keeper_c();
    ~box_keeper_c();
    box_keeper_c(const box_keeper_c&) = delete;
    box_keeper_c& operator=(const box_keeper_c&) = delete;

    // Brings the box in line with settings (one caller at a time): opens
    // it, replaces it when its size or place changed, closes it for size
    // 0, calibrates the clock of one kept, and names the additional ranks
    // in the box that stays open. Problems go to messages. True
    // when the recorded ranks changed, so that the sites must ask again.
    bool apply(const box_settings_s& settings, tr_stream_c& messages);
    // The ranks recorded while a box is open, else 0.
    unsigned ranks() const { return ranks_.load(std::memory_order_relaxed); }
    unsigned on_error() const { return on_error_.load(std::memory_order_relaxed); }
    // Whether a box is open: every line written is then recorded too.
    bool live() const { return current_.load(std::memory_order_relaxed) != nullptr; }
    // Around fork: the lock is held while the process is copied; the child
    // then forgets the box (the mapping is the parent's, and the parent's
    // threads own its regions) and finds the lock free.
    void before_fork() { cs_.enter(); }
    void after_fork_in_parent() { cs_.leave(); }
    void forget_in_child();
    // The open box's path, empty when none.
    std::string path();
    // The name recorded for a thread at its first event (the library's
    // thread record knows it); null when none.
    void set_thread_namer(const char* (*namer)()) { namer_ = namer; }
    // Releases the calling thread's region (where thread exit is reported
    // by the library's load notifications rather than by its slot).
    void thread_ends();

    // ------------------------------------------------------- record path
    // An enter (depth raised first) or a leave (depth lowered after) at
    // the scope site of key.
    void scope(bool enter, const box_site_key_s& key, const char* function, const char* file, int line, bool written);
    // A message of rank at the site of key, its arguments taken by the plan
    // of format: from a copy of arguments when written (the caller formats
    // the line from them next), else from arguments themselves, which the
    // caller then only ends.
    void message(const box_site_key_s& key, const char* function, const char* file, int line, unsigned rank,
                 const char* format, va_list arguments, bool written);
    // An unformatted text of length bytes (its first BOX_MAX_STRING kept),
    // recorded as the one string argument of format (a "%s").
    void text(const box_site_key_s& key, const char* function, const char* file, int line, unsigned rank, const char* text,
              unsigned long long length, bool written);

    // ------------------------------------------- the sites' written ranks
    // The ranks the log writes at the site of mask as computed under
    // generation; false when not known for that generation.
    bool written_ranks(const unsigned* mask, unsigned generation, unsigned* written) const;
    void note_written_ranks(const unsigned* mask, unsigned generation, unsigned written);

    // The calling thread's newest events (at most n) that the log did not
    // show, oldest first, each as a line without line end.
    void unwritten_context(unsigned n, std::vector<std::string>* lines);

private:
    box_thread_s* _thread();
    box_thread_s* _attach(box_session_s* s);
    box_session_s* _open(const box_settings_s& settings, const std::string& path, tr_stream_c& messages);
    void _retire(box_session_s* s);
    void _prune(const box_settings_s& settings, const std::string& own);
    static void _thread_ends(void* value);
    void _detach(box_thread_s* t);

    std::atomic<box_session_s*> current_;
    std::atomic<unsigned> ranks_;
    std::atomic<unsigned> on_error_;
    kor_crit_section_c cs_;  // sessions' users and retirement, thread attach and detach
    unsigned tls_index_;
    uint64_t id_;  // this keeper among the process's keepers, never reused
    bool has_tls_;
    bool pruned_;     // earlier processes' boxes looked at once
    unsigned moves_;  // boxes this process replaced by one of another size
    const char* (*namer_)();
    struct written_slot_s {
        std::atomic<const unsigned*> mask;
        std::atomic<uint64_t> value;  // generation << 32 | written ranks
    };
    static const unsigned WRITTEN_SLOTS = 16384;
    written_slot_s* written_;
};

#endif
