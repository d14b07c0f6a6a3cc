// The thread and stack reports. Both hold the reader lock (no configuration
// change) and the registry's section (no attach, detach or removal) for
// their whole run, and each record's guard while its line is written, so
// that a thread pushing or popping meanwhile is never read half-way.
#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "kor/kor_thread.h"
#include "manager/trace_manager.h"

namespace {

const char* const NO_THREADS = "Error, No threads data is found!";

// Answers a report over n thread records when there is none; true then.
bool reported_empty(tr_stream_c& out, unsigned n) {
    if (n != 0) return false;
    out.append(NO_THREADS);
    return true;
}

}  // namespace

void trace_manager_c::_record_line(tr_stream_c& out, thread_trace_s* r, bool with_stack) {
    r->guard.enter();
    out.append(r->enabled.load(std::memory_order_relaxed) ? "+ " : "- ");
    out.append("ID=").append(r->sys_id);
    out.append(", name=");
    const char* shown = r->display_name();
    if (shown && *shown) out.append(shown);
    out.append(" : ").append(r->appl_id);
    out.append(", depth=").append(static_cast<unsigned>(r->depth));
    if (with_stack) {
        const unsigned count = r->stack_count;
        if (count == 0) {
            out.append("; No Stack Data is found");
        } else {
            out.append("; Stack Data:\r\n");
            for (unsigned i = 1; i <= count; ++i) {
                out.append('\t').append('#').append(i).append(' ');
                const char* text = r->slot_text(i - 1);
                if (*text) out.append(text);
                if (i < count) out.append("\r\n");
            }
        }
    }
    r->guard.leave();
}

void trace_manager_c::_numbered_records(tr_stream_c& out, unsigned n, bool with_stack) {
    out.append("Found ").append(n).append(" threads:\r\n");
    unsigned number = 1;
    for (void* e = threads->first(); e; e = threads->next(), ++number) {
        out.append('#').append(number).append(' ');
        _record_line(out, static_cast<thread_trace_s*>(e), with_stack);
        if (number < n) out.append("\r\n");
    }
}

void trace_manager_c::print_threads(tr_stream_c& out) {
    multi_reader_lock_c reading(lock_);
    kor_lock_c hold(threads->cs());
    const unsigned n = threads->num();
    if (reported_empty(out, n)) return;
    if (n == 1) {
        out.append("Single thread is found: ");
        _record_line(out, static_cast<thread_trace_s*>(threads->first()), false);
        return;
    }
    _numbered_records(out, n, false);
}

void trace_manager_c::print_stack(tr_stream_c& out, unsigned long thread_id) {
    multi_reader_lock_c reading(lock_);
    kor_lock_c hold(threads->cs());
    const unsigned n = threads->num();
    if (reported_empty(out, n)) return;
    if (thread_id == 0) {
        _numbered_records(out, n, true);
        return;
    }
    for (void* e = threads->first(); e; e = threads->next()) {
        thread_trace_s* r = static_cast<thread_trace_s*>(e);
        if (kor_thread_c::are_same_threads(thread_id, r->sys_id)) {
            _record_line(out, r, true);
            return;
        }
    }
    out.append("Error, Appropriate thread (id=").append(thread_id).append(") is not found!");
}
