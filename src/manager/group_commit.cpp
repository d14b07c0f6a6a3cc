// Group commit of trace lines. Every line is in the kernel before its call
// returns, and lines never interleave; but while one thread is in the write
// system call, the lines other threads finish queue up, and the next write
// carries all of them in one gathered call, as a database commits a group
// of transactions with one log write.
//
// A writing thread puts its line (which lives on its own stack until the
// call returns) on the pending stack. The first thread to find no writer
// becomes the writer: under the manager's writer lock it takes the pending
// lines, makes the thread-banner decision for each in file order, hands
// them to the log file writer (which splits the group where the file
// rotates) and marks them done. The others spin briefly, since a sleep and a
// wake cost a system call each, then sleep on commits_ until their line is
// done or the writer has gone, when one of them writes next.
#include <atomic>

#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"

// A line waiting for the writer.
struct pending_line_s {
    const char* prefix;
    size_t prefix_length;
    size_t banner_length;
    unsigned thread_id;
    const char* line;
    size_t length;
    pending_line_s* next;
    std::atomic<bool> done;
};

namespace {

// Spins before a waiting thread sleeps: about the time of a short write.
const unsigned SPIN_LIMIT = 64;
// Groups one writer writes before it hands over, so that a stream of lines
// does not keep one caller from returning.
const unsigned GROUPS_PER_WRITER = 8;
// Lines per call to the log file writer.
const size_t GROUP_LINES = 64;
// The longest sleep; a lost wake costs at most this.
const unsigned SLEEP_MS = 10;

}  // namespace

void trace_manager_c::write_line(const char** prefix, size_t* prefix_length, size_t banner_length,
                                 unsigned thread_id, const char* line, size_t length) {
    pending_line_s me;
    me.prefix = *prefix;
    me.prefix_length = *prefix_length;
    me.banner_length = banner_length;
    me.thread_id = thread_id;
    me.line = line;
    me.length = length;
    me.done.store(false, std::memory_order_relaxed);
    pending_line_s* head = pending_.load(std::memory_order_relaxed);
    do {
        me.next = head;
    } while (!pending_.compare_exchange_weak(head, &me, std::memory_order_release, std::memory_order_relaxed));

    for (unsigned spins = 0; !me.done.load(std::memory_order_acquire);) {
        bool idle = false;
        if (!leading_.load(std::memory_order_relaxed) &&
            leading_.compare_exchange_strong(idle, true, std::memory_order_acquire)) {
            const bool retry = _lead_group_commit();
            leading_.store(false, std::memory_order_release);
            _announce_commit();
            if (retry) _retry_held_files();
            continue;
        }
        if (++spins < SPIN_LIMIT) {
            plat_spin_pause();
            continue;
        }
        waiters_.fetch_add(1, std::memory_order_seq_cst);
        const unsigned seen = commits_.load(std::memory_order_seq_cst);
        if (!me.done.load(std::memory_order_acquire) && leading_.load(std::memory_order_seq_cst))
            plat_wait_word(reinterpret_cast<const unsigned*>(&commits_), seen, SLEEP_MS);
        waiters_.fetch_sub(1, std::memory_order_relaxed);
    }
    *prefix = me.prefix;
    *prefix_length = me.prefix_length;
}

void trace_manager_c::_announce_commit() {
    commits_.fetch_add(1, std::memory_order_seq_cst);
    if (waiters_.load(std::memory_order_seq_cst) != 0)
        plat_wake_word_all(reinterpret_cast<const unsigned*>(&commits_));
}

bool trace_manager_c::_lead_group_commit() {
    single_writer_lock_c hold(lock_);
    bool retry = false;
    for (unsigned group = 0; group < GROUPS_PER_WRITER; ++group) {
        pending_line_s* taken = pending_.exchange(nullptr, std::memory_order_acquire);
        if (!taken) break;
        // Newest first on the stack: turned around, the lines go in the
        // order they queued.
        pending_line_s* ordered = nullptr;
        while (taken) {
            pending_line_s* next = taken->next;
            taken->next = ordered;
            ordered = taken;
            taken = next;
        }
        while (ordered) {
            log_line_s lines[GROUP_LINES];
            pending_line_s* members[GROUP_LINES];
            size_t n = 0;
            for (; ordered && n < GROUP_LINES; ordered = ordered->next, ++n) {
                pending_line_s* p = ordered;
                if (p->banner_length && !_banner_due_locked(p->thread_id)) {
                    p->prefix += p->banner_length;
                    p->prefix_length -= p->banner_length;
                }
                lines[n] = {p->prefix, p->prefix_length, p->line, p->length};
                members[n] = p;
            }
            logger->write_lines(lines, n);
            retry = logger->claim_retry() || retry;
            // A line marked done may leave its writer's stack at once: the
            // next one was read before.
            for (size_t i = 0; i < n; ++i) members[i]->done.store(true, std::memory_order_release);
        }
        _announce_commit();
    }
    return retry;
}
