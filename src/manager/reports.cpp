// The thread and stack reports. Each takes a copy of the records it reports
// under the reader lock (no configuration change) and the registry's section
// (no attach, detach or removal), reading each record under its guard and
// its stack with the record's sequence lock, so that a thread pushing or
// popping meanwhile is never read half-way; the text is
// written from the copy after every lock is released, so a long report does
// not hold up threads that register or trace.
#include <string>
#include <vector>

#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "kor/kor_thread.h"
#include "manager/trace_manager.h"

namespace {

const char* const NO_THREADS = "Error, No threads data is found!";

// What a report shows of one thread record.
struct record_copy_s {
    bool enabled;
    unsigned sys_id;
    std::string name;
    unsigned appl_id;
    unsigned depth;
    std::vector<std::string> stack;  // only when the stack is reported
};

// The owner writes its slot texts while a report may copy them (a sequence
// lock, see trace_manager.h): these byte reads race by design and are
// checked afterwards, so the thread sanitizer does not watch them. At most
// the block's size is read; the copy always ends.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("thread")))
#endif
std::string
racy_slot_text(const char* slot) {
    std::string text;
    if (!slot) return text;
    const volatile char* p = slot;
    size_t size = 0;
    for (size_t i = 0; i < 4; ++i)
        if (p[i] >= '0' && p[i] <= '9') size = size * 10 + static_cast<size_t>(p[i] - '0');
    for (size_t i = 5; i < size; ++i) {
        const char c = p[i];
        if (!c) break;
        text.push_back(c);
    }
    return text;
}

inline unsigned load_counter(const unsigned short* p) { return __atomic_load_n(p, __ATOMIC_RELAXED); }

// The stack part of a record: the guard keeps the blocks alive and holds the
// owner's next write back; the copy is taken again when the owner wrote
// meanwhile, a bounded number of times (an owner stopped inside a write
// leaves what was read last).
void copy_stack(thread_trace_s* r, record_copy_s& c, bool with_stack) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const unsigned seq = r->stack_seq.load(std::memory_order_acquire);
        if (seq & 1u) {
            plat_spin_pause();
            continue;
        }
        c.depth = load_counter(&r->depth);
        c.stack.clear();
        if (with_stack) {
            const unsigned count = load_counter(&r->stack_count);
            for (unsigned i = 0; i < count && i < r->stack_capacity; ++i) c.stack.push_back(racy_slot_text(r->stack[i]));
        }
        stack_seq_fence();
        if (r->stack_seq.load(std::memory_order_relaxed) == seq) return;
    }
}

// The reported state of a record, read under its guard.
record_copy_s copy_record(thread_trace_s* r, bool with_stack) {
    record_copy_s c;
    r->guard.enter();
    c.enabled = r->enabled.load(std::memory_order_relaxed);
    c.sys_id = r->sys_id;
    const char* shown = r->display_name();
    if (shown) c.name = shown;
    c.appl_id = r->appl_id;
    c.depth = 0;
    copy_stack(r, c, with_stack);
    r->guard.leave();
    return c;
}

// Answers a report over n thread records when there is none; true then.
bool reported_empty(tr_stream_c& out, size_t n) {
    if (n != 0) return false;
    out.append(NO_THREADS);
    return true;
}

// Appends the record line (with or without the stack).
void record_line(tr_stream_c& out, const record_copy_s& c, bool with_stack) {
    out.append(c.enabled ? "+ " : "- ");
    out.append("ID=").append(c.sys_id);
    out.append(", name=");
    out.append(c.name.c_str());
    out.append(" : ").append(c.appl_id);
    out.append(", depth=").append(c.depth);
    if (!with_stack) return;
    if (c.stack.empty()) {
        out.append("; No Stack Data is found");
        return;
    }
    out.append("; Stack Data:\r\n");
    const unsigned count = static_cast<unsigned>(c.stack.size());
    for (unsigned i = 1; i <= count; ++i) {
        out.append('\t').append('#').append(i).append(' ');
        out.append(c.stack[i - 1].c_str());
        if (i < count) out.append("\r\n");
    }
}

// "Found n threads:" and one numbered record line per thread.
void numbered_records(tr_stream_c& out, const std::vector<record_copy_s>& copies, bool with_stack) {
    const unsigned n = static_cast<unsigned>(copies.size());
    out.append("Found ").append(n).append(" threads:\r\n");
    for (unsigned number = 1; number <= n; ++number) {
        out.append('#').append(number).append(' ');
        record_line(out, copies[number - 1], with_stack);
        if (number < n) out.append("\r\n");
    }
}

}  // namespace

void trace_manager_c::print_threads(tr_stream_c& out) {
    std::vector<record_copy_s> copies;
    {
        multi_reader_lock_c reading(lock_);
        kor_lock_c hold(threads->cs());
        copies.reserve(threads->num());
        for (void* e = threads->first(); e; e = threads->next())
            copies.push_back(copy_record(static_cast<thread_trace_s*>(e), false));
    }
    if (reported_empty(out, copies.size())) return;
    if (copies.size() == 1) {
        out.append("Single thread is found: ");
        record_line(out, copies[0], false);
        return;
    }
    numbered_records(out, copies, false);
}

void trace_manager_c::print_stack(tr_stream_c& out, unsigned long thread_id) {
    std::vector<record_copy_s> copies;
    unsigned n = 0;
    {
        multi_reader_lock_c reading(lock_);
        kor_lock_c hold(threads->cs());
        n = threads->num();
        for (void* e = threads->first(); e; e = threads->next()) {
            thread_trace_s* r = static_cast<thread_trace_s*>(e);
            if (thread_id != 0 && !kor_thread_c::are_same_threads(thread_id, r->sys_id)) continue;
            copies.push_back(copy_record(r, true));
            if (thread_id != 0) break;
        }
    }
    if (reported_empty(out, n)) return;
    if (thread_id == 0) {
        numbered_records(out, copies, true);
        return;
    }
    if (!copies.empty()) {
        record_line(out, copies[0], true);
        return;
    }
    out.append("Error, Appropriate thread (id=").append(thread_id).append(") is not found!");
}
