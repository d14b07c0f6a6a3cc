// trace_manager_c: construction, destruction, the output settings and the
// rank queries of trace call sites.
#include "manager/trace_manager.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "config/config_parser.h"
#include "kor/crit_section.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "platform/compiler.h"
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
    return katr_load_relaxed(&katr_generation_source) ==
           reinterpret_cast<const unsigned*>(&generation);
}

void trace_manager_c::_publish_flags() {
    const unsigned flags = KATR_STATE_MANAGER | (keep_stack.load(std::memory_order_relaxed) ? KATR_STATE_KEEP_STACK : 0u) |
                           (box.live() ? KATR_STATE_BLACK_BOX : 0u);
    katr_store_relaxed(&katr_state_flags, flags);
}

void trace_manager_c::publish_generation() {
    katr_store_relaxed(&katr_generation_source, reinterpret_cast<const unsigned*>(&generation));
    _publish_flags();
}

void trace_manager_c::withdraw_generation() {
    const unsigned* mine = reinterpret_cast<const unsigned*>(&generation);
    if (!katr_compare_exchange_pointer(&katr_generation_source, mine, &g_no_generation)) return;
    // The process's manager, when another one, is read by the sites again.
    trace_manager_c* global = g_katr_manager.load(std::memory_order_acquire);
    if (global && global != this)
        global->publish_generation();
    else
        katr_store_relaxed(&katr_state_flags, 0u);
}

void record_guard_c::enter() {
    plat_busy_enter();
    while (held_.exchange(true, std::memory_order_acquire)) {
        // Only a report holds the guard of a record it does not own, and
        // only for the few appends of one record line.
        std::this_thread::yield();
    }
}

namespace {
// The name the black box records for a thread: the one its record shows.
const char* box_thread_name() {
    trace_manager_c* m = katr_manager();
    thread_trace_s* r = m ? m->get_thread_record() : nullptr;
    return r ? r->display_name() : nullptr;
}
}  // namespace

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
    box.set_thread_namer(&box_thread_name);
    _read_environment();
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

void trace_manager_c::_read_environment() {
    char value[KOR_MAX_PATH];
    if (plat_environment("KATRACE_CONFIG", value, sizeof value)) self_config_.append(value);
    if (plat_environment("KATRACE_LOG_DIR", value, sizeof value)) self_log_dir_.append(value);
    if (!self_config_.length && !self_log_dir_.length) return;
    // Sites ask the manager at their next use only once the generation is
    // above theirs: the first of them makes the start.
    generation.store(1, std::memory_order_relaxed);
    self_start_pending_.store(true, std::memory_order_release);
}

void trace_manager_c::_self_start() {
    kor_lock_c updating(&update_cs_);
    if (!self_start_pending_.load(std::memory_order_relaxed)) return;
    tr_stream_c messages;
    reparse_file(self_config_.length ? self_config_.c_str() : nullptr,
                 self_log_dir_.length ? self_log_dir_.c_str() : nullptr, messages);
    self_start_pending_.store(false, std::memory_order_release);
    if (messages.length) std::fprintf(stderr, "Error in trace initialisation:\n%s\n", messages.c_str());
}

void trace_manager_c::cancel_self_start() {
    kor_lock_c updating(&update_cs_);
    self_start_pending_.store(false, std::memory_order_release);
}

unsigned trace_manager_c::get_rank_mask(const char* function_name, const char* file_name,
                                        unsigned* generation_out) {
    if (self_start_pending()) _self_start();
    multi_reader_lock_c hold(lock_);
    // The host shares this variable between every thread passing the site.
    if (generation_out)
        katr_store_relaxed(generation_out, generation.load(std::memory_order_relaxed));
    return config->evaluate_rank(function_name, file_name);
}

unsigned trace_manager_c::get_user_rank_bit(const char* rank_name) {
    if (!rank_name) return 0;
    if (self_start_pending()) _self_start();
    multi_reader_lock_c hold(lock_);
    return config->additional_rank_mask(rank_name);
}

const char* trace_manager_c::get_rank_name(unsigned rank) {
    return config_parser_c::find_rank_name(rank);
}
