// katr_entry_c: one traced scope of a host. The object decides with its
// site's cached rank mask, refreshed once per configuration generation,
// assembles accepted lines (prefix and message) and hands them to the output
// dispatch. Every operation leaves the thread's last error code as it was.
// An operation that finds its thread busy inside the library (a signal
// handler or a hook interrupted it there) does nothing, and no exception
// leaves an operation.
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "front/line.h"
#include "front/output.h"
#include "katrace.h"
#include "kor/api_call.h"
#include "kor/mix.h"
#include "manager/trace_manager.h"
#include "platform/compiler.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace {

// The host's call-site variables are shared by every thread passing the
// site and read and written without a lock.
inline unsigned load_site(const unsigned* p) { return katr_load_relaxed(p); }
inline void store_site(unsigned* p, unsigned v) { katr_store_relaxed(p, v); }

// Stand-ins for call-site variables a host did not give (null pointers).
unsigned g_orphan_mask = KATR_RANK_SITE_DEFAULT;
unsigned g_orphan_generation = 0;

// Asks the manager for the site's mask when its generation moved past the
// cached one; otherwise costs one relaxed load and one compare. While a
// black box is open the site's mask also holds the ranks it records, and
// the ranks the log writes are kept beside, by the box.
inline void refresh(trace_manager_c* m, const katr_entry_c* e) {
    unsigned live = m->generation.load(std::memory_order_relaxed);
    if (load_site(e->generation_cache) >= live) return;
    // The mask is stored before the generation that makes it current: a
    // thread that finds the generation current finds the new mask (the
    // scope objects decide inline from it whether the box sees their enter).
    unsigned generation = 0;
    const unsigned written = m->get_rank_mask(e->function_name, e->file_name, &generation);
    const unsigned recorded = m->box.ranks();
    if (m->box.live()) m->box.note_written_ranks(e->rank_mask_cache, generation, written);
    store_site(e->rank_mask_cache, written | recorded);
    katr_store_release(e->generation_cache, generation);
}

// The ranks the log writes at the site (its mask without a black box).
inline unsigned written_ranks(trace_manager_c* m, const katr_entry_c* e) {
    const unsigned mask = load_site(e->rank_mask_cache);
    if (!m->box.live()) return mask;
    unsigned written;
    const unsigned generation = load_site(e->generation_cache);
    if (m->box.written_ranks(e->rank_mask_cache, generation, &written)) return written;
    unsigned asked = 0;
    written = m->get_rank_mask(e->function_name, e->file_name, &asked);
    m->box.note_written_ranks(e->rank_mask_cache, asked, written);
    return written;
}

// The enter and leave lines' formats: their lines are recorded as the
// scope's enter and leave, not as messages.
const char ENTER_FORMAT[] = "enter->%s";
const char LEAVE_FORMAT[] = "<-leave%s";
// The format long strings are recorded under.
const char LONG_FORMAT[] = "%s";

// The box's key of a site. Sites that serve calls with names in temporary
// buffers (the wrappers' and the stand-in) are told apart by their names'
// bytes instead of their addresses.
box_site_key_s box_key(const katr_entry_c* e, const char* format, int line) {
    uintptr_t function = reinterpret_cast<uintptr_t>(e->function_name);
    if (katr_site_names_transient(e->rank_mask_cache)) {
        uint64_t h = 1469598103934665603ull;
        for (const char* text : {e->function_name, e->file_name}) {
            for (const char* p = text ? text : ""; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
            h = (h ^ 0xFF) * 1099511628211ull;
        }
        function = static_cast<uintptr_t>(h);
    }
    return box_site_key_s{e->rank_mask_cache, format, function, line};
}

inline const char* trimmed_file(const char* file) {
    return file && file[0] == '.' && file[1] == '\\' ? file + 2 : file;
}

// Names of the single-bit ranks, looked up once: the rank-name table is a
// constant of the library.
std::atomic<const char*> g_bit_names[32];

// The rank name shown for a fixed rank: none for trace and debug.
inline const char* fixed_rank_name(trace_manager_c* m, unsigned rank) {
    if (rank == KATR_RANK_TRACE || rank == KATR_RANK_DEBUG) return nullptr;
    if (!rank || (rank & (rank - 1))) return m->get_rank_name(rank);
    std::atomic<const char*>& slot = g_bit_names[katr_lowest_bit(rank)];
    const char* name = slot.load(std::memory_order_relaxed);
    if (!name) {
        name = m->get_rank_name(rank);
        slot.store(name, std::memory_order_relaxed);
    }
    return name;
}

}  // namespace

// ------------------------------------------------------------- lifecycle

bool katr_site_names_transient(const unsigned* mask) { return mask == &g_orphan_mask || katr_wrapper_site(mask); }

void katr_entry_c::_use_stand_in_site() {
    if (!rank_mask_cache) rank_mask_cache = &g_orphan_mask;
    if (!generation_cache) generation_cache = &g_orphan_generation;
}

// A copy records no leave: the black box saw one enter, the original's.
katr_entry_c::katr_entry_c(const katr_entry_c& other)
    : rank_mask_cache(other.rank_mask_cache), generation_cache(other.generation_cache), function_name(other.function_name),
      file_name(other.file_name), line(other.line), thread_record(other.thread_record), first_line(other.first_line),
      enter_leave(other.enter_leave), initialised(other.initialised), box_entered(false) {}
katr_entry_c& katr_entry_c::operator=(const katr_entry_c& other) {
    const bool entered = box_entered;
    rank_mask_cache = other.rank_mask_cache;
    generation_cache = other.generation_cache;
    function_name = other.function_name;
    file_name = other.file_name;
    line = other.line;
    thread_record = other.thread_record;
    first_line = other.first_line;
    enter_leave = other.enter_leave;
    initialised = other.initialised;
    box_entered = entered;
    return *this;
}

// Neither the pop nor the record lookup changes the last error code, and
// the leave line keeps it itself.
void katr_entry_c::_leave() {
    trace_manager_c* m = katr_manager();
    if (!m) return;
    const bool leave_line = initialised && enter_leave && !first_line && (written_ranks(m, this) & KATR_RANK_TRACE);
    if (box_entered) {
        box_entered = false;
        katr_api_run([&] { m->box.scope(false, box_key(this, nullptr, line), function_name, trimmed_file(file_name), line, leave_line); });
    }
    if (!initialised) return;
    // The leave line checks for a busy thread itself.
    if (leave_line) print(KATR_RANK_TRACE, -1, LEAVE_FORMAT, "\r\n");
    if (m->keep_stack.load(std::memory_order_relaxed)) {
        katr_api_run([&] {
            if (!thread_record) thread_record = m->get_thread_record();
            if (thread_record && thread_record->depth != 0) m->pop(thread_record);
        });
    }
}

// The enter is recorded when the box records trace or the log shows the
// enter line (an object never used shows none; it is recorded as shown).
void katr_entry_c::_box_enter() {
    trace_manager_c* m = katr_manager();
    if (!m || !enter_leave || !m->box.live()) return;
    katr_api_run([&] {
        refresh(m, this);
        const bool written = (written_ranks(m, this) & KATR_RANK_TRACE) != 0;
        if (!written && !(m->box.ranks() & KATR_RANK_TRACE)) return;
        m->box.scope(true, box_key(this, nullptr, line), function_name, trimmed_file(file_name), line, written);
        box_entered = true;
    });
}

// Called inline once the site's mask is current: the push keeps the last
// error code itself and the enter line goes through print, which keeps it.
void katr_entry_c::_first_use() {
    if (initialised || !katr_manager()) return;
    katr_api_run([&] { _check_init2(); });
}

void katr_entry_c::_check_init2() {
    if (initialised) return;
    initialised = true;
    if (file_name && file_name[0] == '.' && file_name[1] == '\\') file_name += 2;
    trace_manager_c* m = katr_manager();
    if (!m) return;
    refresh(m, this);
    if (m->keep_stack.load(std::memory_order_relaxed)) {
        if (!thread_record) thread_record = m->get_thread_record();
        if (thread_record) m->push(thread_record, file_name ? file_name : "", function_name ? function_name : "");
    }
    if (enter_leave && (written_ranks(m, this) & KATR_RANK_TRACE)) print(KATR_RANK_TRACE, line, ENTER_FORMAT, "\r\n");
}

// ------------------------------------------------------------ messages

bool katr_entry_c::_passes(unsigned rank) {
    trace_manager_c* m = katr_manager();
    _check_init2();
    refresh(m, this);
    if (!(load_site(rank_mask_cache) & rank)) return false;
    if (!(written_ranks(m, this) & rank)) return false;
    if (!thread_record) thread_record = m->get_thread_record();
    return thread_record && thread_record->enabled.load(std::memory_order_relaxed);
}

// The formatted forms: fixed ranks are named by the rank table (trace and
// debug carry no name), user-defined ranks by the caller's name, with line 0.
void katr_entry_c::_print_va(line_end_e end, rank_kind_e kind, unsigned rank, const char* rank_name, int line_,
                             const char* format, va_list arguments) {
    trace_manager_c* m = katr_manager();
    if (!m) return;
    last_error_keeper_c keep;
    katr_api_run([&] {
        if (kind == NAMED_RANK) rank = rank_name ? m->get_user_rank_bit(rank_name) : 0u;
        const bool written = _passes(rank);
        if (m->box.live() && format != ENTER_FORMAT && format != LEAVE_FORMAT && (written || (m->box.ranks() & rank)))
            m->box.message(box_key(this, format, line_), function_name, trimmed_file(file_name), line_, rank, format, arguments,
                           written);
        if (!written) return;
        if (kind == NAMED_RANK)
            line_ = 0;
        else
            rank_name = fixed_rank_name(m, rank);
        if ((rank & (KATR_RANK_FATAL | KATR_RANK_ERROR)) && m->box.on_error()) _write_box_context(rank);
        _create_trace_buffer(end == NEW_LINE, rank, rank_name, line_, format, arguments);
    });
}

// The print family first makes the host macros' inline test: a message the
// site's current mask rejects costs no more than that test.
void katr_entry_c::print(unsigned rank, int line_, const char* format, ...) {
    if (!katr_may_pass(*this, rank)) return;
    va_list arguments;
    va_start(arguments, format);
    _print_va(AS_FORMATTED, FIXED_RANK, rank, nullptr, line_, format, arguments);
    va_end(arguments);
}

void katr_entry_c::print_nl(unsigned rank, int line_, const char* format, ...) {
    if (!katr_may_pass(*this, rank)) return;
    va_list arguments;
    va_start(arguments, format);
    _print_va(NEW_LINE, FIXED_RANK, rank, nullptr, line_, format, arguments);
    va_end(arguments);
}

void katr_entry_c::print_user_defined(const char* rank_name, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    _print_va(AS_FORMATTED, NAMED_RANK, 0, rank_name, 0, format, arguments);
    va_end(arguments);
}

void katr_entry_c::print_user_defined_nl(const char* rank_name, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    _print_va(NEW_LINE, NAMED_RANK, 0, rank_name, 0, format, arguments);
    va_end(arguments);
}

void katr_entry_c::print_long_string(unsigned rank, int line_, const char* text, unsigned long long length) {
    if (!katr_may_pass(*this, rank)) return;
    trace_manager_c* m = katr_manager();
    if (!m) return;
    last_error_keeper_c keep;
    katr_api_run([&] {
        if (!text) return;
        const bool written = _passes(rank);
        if (m->box.live() && (written || (m->box.ranks() & rank)))
            m->box.text(box_key(this, LONG_FORMAT, line_), function_name, trimmed_file(file_name), line_, rank, text, length, written);
        if (!written) return;
        tr_stream_c prefix;
        _create_prefix(prefix, line_, fixed_rank_name(m, rank));
        write_long_string(m, rank, prefix.c_str(), prefix.length, text, length);
    });
}

// A null text prints nothing (the same rule as print_long_string).
void katr_entry_c::print_user_defined_long_string(const char* rank_name, const char* text,
                                                  unsigned long long length) {
    trace_manager_c* m = katr_manager();
    if (!m) return;
    last_error_keeper_c keep;
    katr_api_run([&] {
        unsigned rank = rank_name ? m->get_user_rank_bit(rank_name) : 0u;
        if (!_passes(rank) || !text) return;
        tr_stream_c prefix;
        _create_prefix(prefix, 0, rank_name);
        write_long_string(m, rank, prefix.c_str(), prefix.length, text, length);
    });
}

bool katr_entry_c::is_set(unsigned rank, int) {
    trace_manager_c* m = katr_manager();
    if (!m) return false;
    last_error_keeper_c keep;
    return katr_api_call(false, [&] {
        _check_init2();
        refresh(m, this);
        return (load_site(rank_mask_cache) & rank) != 0;
    });
}

bool katr_entry_c::is_set_user_defined(const char* rank_name) {
    trace_manager_c* m = katr_manager();
    if (!m) return false;
    last_error_keeper_c keep;
    return katr_api_call(false, [&] {
        _check_init2();
        refresh(m, this);
        unsigned rank = rank_name ? m->get_user_rank_bit(rank_name) : 0;
        return (load_site(rank_mask_cache) & rank) != 0;
    });
}

// ------------------------------------------------------- line assembly

namespace {

// The prefix of a formatted line, built on the stack; only a prefix longer
// than the stack buffer (very long names) moves to a heap stream.
class prefix_builder_c {
public:
    prefix_builder_c() : length_(0), spill_(nullptr) { buf_[0] = 0; }
    ~prefix_builder_c() { delete spill_; }
    prefix_builder_c(const prefix_builder_c&) = delete;
    prefix_builder_c& operator=(const prefix_builder_c&) = delete;

    void append(const char* text, size_t n) {
        if (!n) return;
        if (!spill_ && length_ + n < sizeof buf_) {
            std::memcpy(buf_ + length_, text, n);
            length_ += n;
            buf_[length_] = 0;
            return;
        }
        if (!spill_) {
            spill_ = new (std::nothrow) tr_stream_c;
            if (!spill_) return;  // no memory: the prefix stays cut
            spill_->append_n(buf_, length_);
        }
        spill_->append_n(text, n);
    }
    void append_unsigned(unsigned long long v) {
        char digits[mix_n::DECIMAL_DIGITS];
        const char* start = mix_n::format_decimal(v, digits);
        append(start, static_cast<size_t>(digits + sizeof digits - start));
    }
    const char* text() const { return spill_ ? spill_->c_str() : buf_; }
    size_t length() const { return spill_ ? static_cast<size_t>(spill_->length) : length_; }

    // The thread banner of a formatted line is appended unconditionally at
    // the head of the prefix; whether it is due is decided later, by
    // write_line, in the same hold of the writer lock as the file write.
    bool banner_due(trace_manager_c*, unsigned thread_id) {
        thread_id_ = thread_id;
        return true;
    }
    void banner_done() { banner_length_ = length(); }
    size_t banner_length() const { return banner_length_; }
    unsigned thread_id() const { return thread_id_; }

private:
    char buf_[512];
    size_t length_;
    tr_stream_c* spill_;
    size_t banner_length_ = 0;
    unsigned thread_id_ = 0;
};

// The same operations on a caller's stream (the long-string forms).
class stream_builder_c {
public:
    explicit stream_builder_c(tr_stream_c& out) : out_(out) {}
    void append(const char* text, size_t n) {
        if (n) out_.append_n(text, n);
    }
    void append_unsigned(unsigned long long v) { append_decimal(out_, v); }
    // The banner decision of the long-string forms: taken at once.
    bool banner_due(trace_manager_c* m, unsigned thread_id) { return m->set_last_thread(thread_id); }
    void banner_done() {}
private:
    tr_stream_c& out_;
};

template <class B>
inline void put(B& out, const char* text) {
    if (text && *text) out.append(text, std::strlen(text));
}

// Appends the pieces of the prefix in their order: thread banner, sequence, time,
// line number, rank name, indentation, then either the continuation spaces
// or file and function.
template <class B>
void assemble_prefix(katr_entry_c& e, B& out, int line, const char* rank_name) {
    trace_manager_c* m = katr_manager();
    if (!m) return;
    if (!e.thread_record) e.thread_record = m->get_thread_record();
    thread_trace_s* record = e.thread_record;

    // The thread banner, due when another thread produced the previous
    // line (the decision is made under the manager's writer lock).
    if (record && out.banner_due(m, record->sys_id)) {
        out.append("== Thread ", 10);
        out.append_unsigned(record->sys_id);
        out.append(" (", 2);
        put(out, record->display_name());
        out.append(") ==\r\n", 6);
        out.banner_done();
    }
    // "<pid>:<sequence> " in front of everything else, so that a log store
    // can find gaps, duplicates and the order of lines across files.
    if (m->print_sequence.load(std::memory_order_relaxed)) {
        out.append_unsigned(static_cast<unsigned long long>(plat_pid()));
        out.append(":", 1);
        out.append_unsigned(m->line_sequence.fetch_add(1, std::memory_order_relaxed));
        out.append(" ", 1);
    }
    if (m->print_time.load(std::memory_order_relaxed)) {
        size_t n = 0;
        const char* time_text = current_time_piece(&n);
        out.append(time_text, n);
    }
    if (line >= 1 && m->print_line.load(std::memory_order_relaxed)) {
        out.append_unsigned(static_cast<unsigned long long>(line));
        out.append(":", 1);
    }
    if (rank_name) {
        put(out, rank_name);
        out.append(line >= 0 ? "->" : "<-", 2);
    }
    if (record && m->do_indentation.load(std::memory_order_relaxed))
        for (unsigned d = record->depth; d > 0; --d) out.append(" . ", 3);
    if (!e.first_line && line >= 0 && (written_ranks(m, &e) & KATR_RANK_TRACE)) {
        out.append("   ", 3);
        return;
    }
    e.first_line = false;
    if (m->print_file.load(std::memory_order_relaxed)) {
        put(out, e.file_name);
        out.append(":", 1);
    }
    if (m->print_function.load(std::memory_order_relaxed)) {
        put(out, e.function_name);
        out.append(":", 1);
    }
}

}  // namespace

// The thread's latest events that the log did not show, written before its
// error line as lines of rank "box"; the error line then shows file and
// function as it would have without them.
void katr_entry_c::_write_box_context(unsigned rank) {
    trace_manager_c* m = katr_manager();
    std::vector<std::string> lines;
    m->box.unwritten_context(m->box.on_error(), &lines);
    const bool first = first_line;
    for (std::string& text : lines) {
        tr_stream_c prefix;
        _create_prefix(prefix, 0, "box");
        text += "\r\n";
        write_long_string(m, rank, prefix.c_str(), prefix.length, text.c_str(), text.size());
    }
    first_line = first;
}

void katr_entry_c::_create_prefix(tr_stream_c& out, int line_, const char* rank_name) {
    out.truncate(0);
    stream_builder_c builder(out);
    assemble_prefix(*this, builder, line_, rank_name);
}

void katr_entry_c::_create_trace_buffer(bool new_line, unsigned rank, const char* rank_name, int line_,
                                        const char* format, va_list arguments) {
    trace_manager_c* m = katr_manager();
    if (!m) return;
    prefix_builder_c prefix;
    assemble_prefix(*this, prefix, line_, rank_name);
    // The message is the format itself (with CR LF behind it for the _nl
    // forms, which then counts against the length limit); the dispatch
    // formats it, so no copy of the format is made here.
    va_list for_line;
    va_copy(for_line, arguments);
    write_line(m, rank, prefix.text(), prefix.length(), prefix.banner_length(), prefix.thread_id(),
               format ? format : "", new_line, for_line);
    va_end(for_line);
    run_callback(rank, format, arguments);
}
