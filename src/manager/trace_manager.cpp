// trace_manager_c: construction, destruction, the output settings and the
// rank queries of trace call sites.
#include "manager/trace_manager.h"

#include <cstring>
#include <new>
#include <thread>

#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "logfile/logger.h"
#include "platform/platform.h"

std::atomic<trace_manager_c*> g_katr_manager{nullptr};

namespace {

// What katr_generation_source points to while no manager is known: a
// generation above every cached one, so that the hosts' inline test always
// calls the library.
const unsigned g_no_generation = 0xFFFFFFFFu;

static_assert(sizeof(std::atomic<unsigned>) == sizeof(unsigned),
              "the generation counter is read as a plain unsigned by hosts");

// Thread-exit hook of the manager's thread-local slot (POSIX backends call
// it on the exiting thread with the slot still readable). The record names
// its manager, so every manager releases its own records.
void tls_exit_hook(void* value) {
    thread_trace_s* record = static_cast<thread_trace_s*>(value);
    if (record && record->owner) record->owner->on_thread_detach();
}

}  // namespace

// Declared extern "C" in katrace.h.
KATR_API const unsigned* katr_generation_source = &g_no_generation;
KATR_API unsigned katr_state_flags = 0;

bool trace_manager_c::_is_published() const {
    return __atomic_load_n(&katr_generation_source, __ATOMIC_RELAXED) ==
           reinterpret_cast<const unsigned*>(&generation);
}

void trace_manager_c::_publish_flags() {
    const unsigned flags = KATR_STATE_MANAGER | (keep_stack.load(std::memory_order_relaxed) ? KATR_STATE_KEEP_STACK : 0u);
    __atomic_store_n(&katr_state_flags, flags, __ATOMIC_RELAXED);
}

void trace_manager_c::publish_generation() {
    __atomic_store_n(&katr_generation_source, reinterpret_cast<const unsigned*>(&generation), __ATOMIC_RELAXED);
    _publish_flags();
}

void trace_manager_c::withdraw_generation() {
    const unsigned* mine = reinterpret_cast<const unsigned*>(&generation);
    if (!__atomic_compare_exchange_n(&katr_generation_source, &mine, &g_no_generation, false, __ATOMIC_RELAXED,
                                     __ATOMIC_RELAXED))
        return;
    // The process's manager, when another one, is read by the sites again.
    trace_manager_c* global = g_katr_manager.load(std::memory_order_acquire);
    if (global && global != this)
        global->publish_generation();
    else
        __atomic_store_n(&katr_state_flags, 0u, __ATOMIC_RELAXED);
}

void record_guard_c::enter() {
    plat_busy_enter();
    while (held_.exchange(true, std::memory_order_acquire)) {
        // Only a report holds the guard of a record it does not own, and
        // only for the few appends of one record line.
        std::this_thread::yield();
    }
}

trace_manager_c::trace_manager_c()
    : logger(nullptr), config(nullptr), generation(0), last_thread_id(0), threads(nullptr), tls_index(0),
      screen_ranks(0), debugger_ranks(0), print_file(false), print_function(false), print_line(false),
      print_time(false), keep_stack(false), do_indentation(false), print_sequence(false), line_sequence(0),
      has_tls(false), retired(nullptr) {
    threads = new (std::nothrow) ptr_list_c(true);
    logger = new (std::nothrow) logger_c;
    config = new (std::nothrow) config_parser_c;
    if (!ok()) return;
    copy_settings();
    publish_generation();

    has_tls = plat_tls_alloc(&tls_index, &tls_exit_hook);
    katr_register_fork_handlers();

    // The constructing thread gets its record at once; it sees no
    // thread-attach notification of its own.
    thread_trace_s* record = _create_record();
    if (record) {
        if (has_tls) {
            kor_lock_c hold(threads->cs());
            plat_tls_set(tls_index, record);
            threads->append(record);
        } else {
            _destroy_record(record);
        }
    }

    tr_stream_c line1;
    line1.append("JOT Trace is initialised:(tls_index=").append(static_cast<int>(tls_index)).append(")");
    tr_stream_c line2;
    config_report(*config, line2);
    line2.append("\n");
    _write_banner(line1.c_str(), line2.c_str());
}

trace_manager_c::~trace_manager_c() {
    withdraw_generation();
    delete config;
    config = nullptr;
    delete logger;
    logger = nullptr;
    if (threads) {
        on_thread_detach();
        kor_lock_c hold(threads->cs());
        while (void* e = threads->first()) {
            threads->remove_current();
            _destroy_record(static_cast<thread_trace_s*>(e));
        }
        while (thread_trace_s* r = retired) {
            retired = r->retired_next;
            _destroy_record(r);
        }
    }
    if (has_tls) plat_tls_free(tls_index);
    has_tls = false;
    delete threads;
    threads = nullptr;
}

void trace_manager_c::copy_settings() {
    const std::memory_order r = std::memory_order_relaxed;
    screen_ranks.store(config->screen_ranks, r);
    debugger_ranks.store(config->debugger_ranks, r);
    print_file.store(config->print_file, r);
    print_function.store(config->print_function, r);
    print_line.store(config->print_line, r);
    print_time.store(config->print_time, r);
    keep_stack.store(config->keep_stack, r);
    do_indentation.store(config->do_indentation, r);
    print_sequence.store(config->print_sequence, r);
    if (_is_published()) _publish_flags();
}

bool trace_manager_c::set_last_thread(unsigned id) {
    single_writer_lock_c hold(lock_);
    return _banner_due_locked(id);
}

bool trace_manager_c::_banner_due_locked(unsigned id) {
    if (last_thread_id == id) return false;
    last_thread_id = id;
    return true;
}

void trace_manager_c::set_verbose(bool on) {
    kor_lock_c updating(&update_cs_);
    single_writer_lock_c hold(lock_);
    config->screen_ranks = on ? KATR_RANK_ALL : 0u;
    screen_ranks.store(config->screen_ranks, std::memory_order_relaxed);
}

void trace_manager_c::set_print_to_debug_vew(bool on) {
    kor_lock_c updating(&update_cs_);
    single_writer_lock_c hold(lock_);
    config->debugger_ranks = on ? KATR_RANK_ALL : 0u;
    debugger_ranks.store(config->debugger_ranks, std::memory_order_relaxed);
}

unsigned trace_manager_c::get_rank_mask(const char* function_name, const char* file_name,
                                        unsigned* generation_out) {
    multi_reader_lock_c hold(lock_);
    // The host shares this variable between every thread passing the site.
    if (generation_out)
        __atomic_store_n(generation_out, generation.load(std::memory_order_relaxed), __ATOMIC_RELAXED);
    return config->evaluate_rank(function_name, file_name);
}

unsigned trace_manager_c::get_user_rank_bit(const char* rank_name) {
    if (!rank_name) return 0;
    multi_reader_lock_c hold(lock_);
    return config->additional_rank_mask(rank_name);
}

const char* trace_manager_c::get_rank_name(unsigned rank) {
    return config_parser_c::find_rank_name(rank);
}
