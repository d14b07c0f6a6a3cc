// The thread registry: per-thread trace records, their lookup through the
// thread-local slot, the thread rules and the scope stack.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "config/config_parser.h"
#include "kor/api_call.h"
#include "kor/crit_section.h"
#include "kor/kor_thread.h"
#include "kor/mix.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"

namespace {

// The name of a thread the support library has no name for; never freed.
const char UNDEFINED_NAME[] = "Undefined";

// Stack slots and slot arrays come from the process heap, whose handle is
// fetched once and kept.
std::atomic<void*> g_heap{nullptr};

void* process_heap() {
    void* h = g_heap.load(std::memory_order_acquire);
    if (!h) {
        h = plat_process_heap();
        if (h) g_heap.store(h, std::memory_order_release);
    }
    return h;
}

void* heap_allocate(size_t size) {
    if (size == 0) return nullptr;
    void* h = process_heap();
    if (!h) {
        std::fprintf(stderr, "Error %d in GetProcessHeap\n", static_cast<int>(plat_last_error()));
        return nullptr;
    }
    return plat_heap_alloc(h, size);
}

void heap_release(void* block) {
    if (!block) return;
    void* h = process_heap();
    if (!h) {
        std::fprintf(stderr, "Error %d in \"GetProcessHeap()\"\n", static_cast<int>(plat_last_error()));
        return;
    }
    if (!plat_heap_free(h, block))
        std::fprintf(stderr, "Error %d in HeapFree\n", static_cast<int>(plat_last_error()));
}

// Slot arrays grow in steps of this many slots.
const unsigned STACK_STEP = 10;
// The 16-bit counters stop growing the array here.
const unsigned STACK_LIMIT = 65530;
// The slot header holds at most four digits ("%4ld ").
const size_t SLOT_MAX = 9999;
const size_t SLOT_HEADER = 5;

// The size a slot's header gives ("%4ld ": right-aligned decimal).
size_t slot_size(const char* slot) {
    size_t size = 0;
    for (size_t i = 0; i < SLOT_HEADER - 1; ++i)
        if (slot[i] >= '0' && slot[i] <= '9') size = size * 10 + static_cast<size_t>(slot[i] - '0');
    return size;
}

// Writes the header of a slot of size bytes (at most SLOT_MAX).
void write_slot_header(char* slot, size_t size) {
    for (size_t i = SLOT_HEADER - 1; i-- > 0;) {
        slot[i] = size || i == SLOT_HEADER - 2 ? static_cast<char>('0' + size % 10) : ' ';
        size /= 10;
    }
    slot[SLOT_HEADER - 1] = ' ';
}

// Copies text into out, at most room bytes; returns the bytes copied.
size_t copy_cut(char* out, const char* text, size_t length, size_t room) {
    const size_t n = length < room ? length : room;
    std::memcpy(out, text, n);
    return n;
}

}  // namespace

thread_trace_s* trace_manager_c::_create_record() {
    thread_trace_s* r = new (std::nothrow) thread_trace_s;
    if (!r) return nullptr;
    r->enabled.store(true, std::memory_order_relaxed);
    r->depth = 0;
    r->stack_capacity = 0;
    r->stack_count = 0;
    r->sys_id = 0;
    r->appl_id = 0;
    r->name = UNDEFINED_NAME;
    r->trace_name = nullptr;
    r->stack = nullptr;
    r->owner = this;
    r->retired_next = nullptr;
    _fill_identity(r);
    return r;
}

void trace_manager_c::_fill_identity(thread_trace_s* r) {
    unsigned long id = 0;
    unsigned long appl = 0;
    const char* name = nullptr;
    if (!kor_thread_c::get_current_thread(&id, &name, &appl)) {
        id = 0;
        appl = 0;
        name = nullptr;
    }
    r->sys_id = static_cast<unsigned>(id);
    r->appl_id = static_cast<unsigned>(appl);
    // The record keeps a copy of its own: the support library's text belongs
    // to the thread and changes with its name. Without memory it is "Undefined".
    char* copy = nullptr;
    if (name && *name) {
        const size_t n = std::strlen(name);
        copy = new (std::nothrow) char[n + 1];
        if (copy) std::memcpy(copy, name, n + 1);
    }
    _free_name(r);
    r->name = copy ? copy : UNDEFINED_NAME;
}

void trace_manager_c::_free_name(thread_trace_s* r) {
    if (r->name != UNDEFINED_NAME) delete[] r->name;
    r->name = UNDEFINED_NAME;
}

void trace_manager_c::_destroy_record(thread_trace_s* r) {
    if (!r) return;
    if (r->stack) {
        for (unsigned i = 0; i < r->stack_capacity; ++i) heap_release(r->stack[i]);
        heap_release(r->stack);
    }
    _free_name(r);
    delete r;
}

thread_trace_s* trace_manager_c::_find_current() {
    unsigned long me = kor_thread_c::curr_thread_id();
    for (void* e = threads->first(); e; e = threads->next()) {
        thread_trace_s* r = static_cast<thread_trace_s*>(e);
        if (kor_thread_c::are_same_threads(r->sys_id, me)) return r;
    }
    return nullptr;
}

void trace_manager_c::on_thread_attach() {
    // A thread that already has its record (it traced before the
    // notification came) keeps it.
    if (has_tls && plat_tls_get(tls_index)) return;
    thread_trace_s* r = _create_record();
    if (!r) return;
    if (!has_tls) {
        _destroy_record(r);
        return;
    }
    kor_lock_c hold(threads->cs());
    plat_tls_set(tls_index, r);
    threads->append(r);
}

void trace_manager_c::on_thread_detach() {
    box.thread_ends();
    thread_trace_s* mine = nullptr;
    if (has_tls) {
        mine = static_cast<thread_trace_s*>(plat_tls_get(tls_index));
        plat_tls_set(tls_index, nullptr);
    }
    thread_trace_s* found = nullptr;
    {
        kor_lock_c hold(threads->cs());
        unsigned long me = kor_thread_c::curr_thread_id();
        for (void* e = threads->first(); e; e = threads->next()) {
            thread_trace_s* r = static_cast<thread_trace_s*>(e);
            if (mine ? r == mine : kor_thread_c::are_same_threads(r->sys_id, me)) {
                threads->remove_current();
                found = r;
                break;
            }
        }
        // A record removed by katr_remove_trace is freed when its thread ends.
        if (!found && mine) {
            for (thread_trace_s** link = &retired; *link; link = &(*link)->retired_next) {
                if (*link == mine) {
                    *link = mine->retired_next;
                    found = mine;
                    break;
                }
            }
        }
    }
    _destroy_record(found);
}

thread_trace_s* trace_manager_c::_lookup_current() {
    if (has_tls) return static_cast<thread_trace_s*>(plat_tls_get(tls_index));
    kor_lock_c hold(threads->cs());
    return _find_current();
}

thread_trace_s* trace_manager_c::get_thread_record() {
    thread_trace_s* r = _lookup_current();
    if (r && (r->sys_id != 0 || r->appl_id != 0)) return r;

    // Until the record is registered and judged, the thread must not come
    // here again from a signal handler. The caller's last error survives.
    busy_region_c busy;
    last_error_keeper_c keep;
    if (!r) {
        r = _create_record();
        if (!r) return nullptr;
        kor_lock_c hold(threads->cs());
        if (has_tls) plat_tls_set(tls_index, r);
        threads->append(r);
    }
    if (r->sys_id == 0 && r->appl_id == 0) {
        // Identity is read by other threads under the registry's section.
        kor_lock_c hold(threads->cs());
        _fill_identity(r);
    }
    multi_reader_lock_c hold(lock_);
    apply_thread_rules(r);
    return r;
}

void trace_manager_c::_judge(thread_trace_s* r) {
    config_parser_c::log_rank_list_c& rules = config->thread_ranks;
    kor_lock_c hold(rules.cs());
    void* e = rules.first();
    if (!e) {
        r->enabled.store(true, std::memory_order_relaxed);
        return;
    }
    const bool sense = config_parser_c::thread_rank_c::from_element(e)->enabled();
    r->guard.enter();
    const char* shown = r->display_name();
    r->guard.leave();
    bool match = false;
    for (; e && !match; e = rules.next()) {
        config_parser_c::thread_rank_c* rule = config_parser_c::thread_rank_c::from_element(e);
        if (rule->sys_id() != 0 && kor_thread_c::are_same_threads(rule->sys_id(), r->sys_id))
            match = true;
        else if (rule->appl_id() != 0 && rule->appl_id() == r->appl_id)
            match = true;
        else if (rule->name && shown && mix_n::regcmp(rule->name, shown, true))
            match = true;
    }
    r->enabled.store(match ? sense : !sense, std::memory_order_relaxed);
}

void trace_manager_c::apply_thread_rules(thread_trace_s* record) {
    if (record) {
        _judge(record);
        return;
    }
    kor_lock_c hold(threads->cs());
    for (void* e = threads->first(); e; e = threads->next()) _judge(static_cast<thread_trace_s*>(e));
}

namespace {

// The owner's write section of a record's sequence lock: the sequence is odd
// from before the first store of the section until after the last, so a
// report that copied meanwhile sees a different sequence and copies again.
// Plain stores in program order, no atomic read-modify-write. While a report
// holds the guard the owner waits for it first, so that a report copying
// one record at a time is never starved by an owner that pushes and pops
// without pause.
class stack_write_c {
public:
    explicit stack_write_c(thread_trace_s* r) : r_(r), seq_(r->stack_seq.load(std::memory_order_relaxed)) {
        for (unsigned spins = 0; r_->guard.held(); ++spins)
            if (spins < 64)
                plat_spin_pause();
            else
                std::this_thread::yield();
        r_->stack_seq.store(seq_ + 1, std::memory_order_relaxed);
        stack_seq_fence();
    }
    ~stack_write_c() { r_->stack_seq.store(seq_ + 2, std::memory_order_release); }
    stack_write_c(const stack_write_c&) = delete;
    stack_write_c& operator=(const stack_write_c&) = delete;
private:
    thread_trace_s* r_;
    unsigned seq_;
};

inline void store_counter(unsigned short* p, unsigned v) {
    __atomic_store_n(p, static_cast<unsigned short>(v), __ATOMIC_RELAXED);
}

}  // namespace

void trace_manager_c::_grow_stack(thread_trace_s* r) {
    last_error_keeper_c keep;
    unsigned capacity = r->stack_capacity + STACK_STEP;
    char** grown = static_cast<char**>(heap_allocate(capacity * sizeof(char*)));
    if (!grown) return;
    for (unsigned i = 0; i < capacity; ++i) grown[i] = i < r->stack_capacity ? r->stack[i] : nullptr;
    char** old = r->stack;
    r->guard.enter();
    r->stack = grown;
    r->stack_capacity = static_cast<unsigned short>(capacity);
    r->guard.leave();
    heap_release(old);
}

char* trace_manager_c::_replace_slot(thread_trace_s* r, size_t needed) {
    last_error_keeper_c keep;
    char* old = r->stack[r->stack_count];
    char* fresh = static_cast<char*>(heap_allocate(needed));
    if (fresh) write_slot_header(fresh, needed);
    // A report with an older count may still read the old block: it is
    // replaced and freed under the guard.
    r->guard.enter();
    r->stack[r->stack_count] = fresh;
    r->guard.leave();
    heap_release(old);
    return fresh;
}

void trace_manager_c::push(thread_trace_s* r, const char* file_name, const char* function_name) {
    if (!r) return;
    // The owner changes its stack outside the guard, so the whole push is a
    // region the thread must not enter again.
    busy_region_c busy;
    if (!file_name) file_name = "";
    if (!function_name) function_name = "";

    // Only the owning thread changes its stack. Blocks are allocated
    // outside the guard and swapped in under it; the text and the counters
    // are written in a sequence-lock section.
    if (r->stack_count >= r->stack_capacity && r->stack_capacity + STACK_STEP <= STACK_LIMIT) _grow_stack(r);

    char* slot = nullptr;
    size_t size = 0;
    bool slot_taken = false;
    size_t file_length = 0, function_length = 0;
    if (r->stack_count < r->stack_capacity) {
        file_length = std::strlen(file_name);
        function_length = std::strlen(function_name);
        size_t needed = file_length + function_length + 20;
        if (needed > SLOT_MAX) needed = SLOT_MAX;
        // The slot at this depth is reused while the text fits.
        slot = r->stack[r->stack_count];
        size = slot ? slot_size(slot) : 0;
        if (size < needed) {
            slot = _replace_slot(r, needed);
            size = slot ? needed : 0;
        }
        // A slot that could not be allocated stays empty but still counts,
        // so that the counters stay in step with the open scopes.
        slot_taken = true;
    }

    stack_write_c section(r);
    if (slot) {
        // "file:function", cut to the slot with its NUL.
        char* text = slot + SLOT_HEADER;
        const size_t room = size - SLOT_HEADER - 1;
        size_t t = copy_cut(text, file_name, file_length, room);
        if (t < room) text[t++] = ':';
        t += copy_cut(text + t, function_name, function_length, room - t);
        text[t] = 0;
    }
    if (r->depth < 0xFFFF) store_counter(&r->depth, r->depth + 1u);
    if (slot_taken) store_counter(&r->stack_count, r->stack_count + 1u);
}

void trace_manager_c::pop(thread_trace_s* r) {
    if (!r || r->depth == 0) return;
    stack_write_c section(r);
    store_counter(&r->depth, r->depth - 1u);
    if (r->stack_count != 0) store_counter(&r->stack_count, r->stack_count - 1u);
}

void trace_manager_c::remove_trace(unsigned long thread_id) {
    kor_lock_c hold(threads->cs());
    for (void* e = threads->first(); e; e = threads->next()) {
        thread_trace_s* r = static_cast<thread_trace_s*>(e);
        if (kor_thread_c::are_same_threads(r->sys_id, thread_id)) {
            threads->remove_current();
            // Its thread may still hold the pointer (thread-local slot, open
            // entry objects): keep the memory until the thread ends or the
            // manager goes.
            r->retired_next = retired;
            retired = r;
            return;
        }
    }
}

void trace_manager_c::reset_thread_trace_name(const char* name) {
    thread_trace_s* r = get_thread_record();
    if (!r) return;
    r->guard.enter();
    r->trace_name = name;
    r->guard.leave();
    // Thread rules match the shown name.
    multi_reader_lock_c hold(lock_);
    _judge(r);
}

void trace_manager_c::set_thread_info(const char* name, unsigned long appl_id) {
    kor_thread_c::set_current_thread_info(name, appl_id);
    thread_trace_s* r = _lookup_current();
    // A thread without a record yet gets the new identity when it is made.
    if (!r) return;
    {
        kor_lock_c hold(threads->cs());
        _fill_identity(r);
    }
    multi_reader_lock_c hold(lock_);
    _judge(r);
}

extern "C" KATR_API void katr_remove_trace(unsigned long thread_id) {
    katr_api_run([&] {
        if (trace_manager_c* m = katr_manager()) m->remove_trace(thread_id);
    });
}

extern "C" KATR_API void katr_reset_thread_trace_name(const char* name) {
    katr_api_run([&] {
        if (trace_manager_c* m = katr_manager()) m->reset_thread_trace_name(name);
    });
}

extern "C" KATR_API void katr_set_thread_info(const char* name, unsigned long appl_id) {
    katr_api_run([&] {
        if (trace_manager_c* m = katr_manager())
            m->set_thread_info(name, appl_id);
        else
            kor_thread_c::set_current_thread_info(name, appl_id);
    });
}
