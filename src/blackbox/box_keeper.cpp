// The library's black box: sessions (one open box file each), the threads'
// writers and the record path of the trace sites.
#include "blackbox/box_keeper.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "blackbox/box_decoder.h"
#include "blackbox/box_format.h"
#include "blackbox/box_state.h"
#include "platform/compiler.h"
#include "platform/platform.h"

// One open box: its file, its sites, and the threads that record into it.
struct box_session_s {
    box_recorder_s* recorder = nullptr;
    box_site_table_c sites;
    std::string path;
    unsigned long long size = 0;
    unsigned users = 0;    // threads attached (under the keeper's lock)
    bool retired = false;  // replaced or closed: unmapped when the last user leaves
};

// A thread's state, in the keeper's thread-local slot.
struct box_thread_s {
    box_keeper_c* keeper = nullptr;
    box_session_s* session = nullptr;  // the box the thread is attached to
    box_writer_s* writer = nullptr;    // null when that box had no free region
    unsigned depth = 0;                // open recorded scopes
    // The site entry of the scope entered at each depth (modulo SCOPES): a
    // leave finds its enter's entry here without the table's lookup.
    // Entries of the attached box only: cleared when the thread attaches.
    static const unsigned SCOPES = 64;
    const box_site_entry_s* scopes[SCOPES] = {};
    box_wide_room_s room;  // wide-string arguments while recording
};

namespace {

// The calling thread's state, cached beside the keeper's slot so that the
// record path does not ask the slot (a pthread_getspecific or TlsGetValue
// call) for every event. The keeper's id tells a state of this keeper from
// one of a keeper that no longer exists; a state is dropped from the cache
// where it is deleted, on its own thread.
struct thread_cache_s {
    uint64_t keeper;
    box_thread_s* thread;
};
KATR_FAST_TLS thread_local thread_cache_s t_cache = {0, nullptr};
std::atomic<uint64_t> g_keeper_ids{0};

inline void forget_cached(box_thread_s* t) {
    if (t_cache.thread == t) t_cache = thread_cache_s{0, nullptr};
}

}  // namespace

box_keeper_c::box_keeper_c()
    : current_(nullptr), ranks_(0), on_error_(0), tls_index_(0), id_(g_keeper_ids.fetch_add(1) + 1), has_tls_(false),
      pruned_(false), moves_(0), namer_(nullptr),
      written_(static_cast<written_slot_s*>(std::calloc(WRITTEN_SLOTS, sizeof(written_slot_s)))) {
    has_tls_ = plat_tls_alloc(&tls_index_, &_thread_ends);
}

// Threads that still hold a writer keep their box mapped: a keeper goes
// away with its process, so only boxes no thread uses are closed here.
box_keeper_c::~box_keeper_c() {
    box_session_s* s = current_.exchange(nullptr);
    if (s) {
        kor_lock_c hold(&cs_);
        _retire(s);
    }
    if (box_thread_s* t = has_tls_ ? static_cast<box_thread_s*>(plat_tls_get(tls_index_)) : nullptr) {
        _thread_ends(t);
        plat_tls_set(tls_index_, nullptr);
    }
    if (has_tls_) plat_tls_free(tls_index_);
    std::free(written_);
}

std::string box_keeper_c::path() {
    kor_lock_c hold(&cs_);
    box_session_s* s = current_.load(std::memory_order_acquire);
    return s ? s->path : std::string();
}

// ------------------------------------------------------------- sessions

bool box_keeper_c::apply(const box_settings_s& settings, tr_stream_c& messages) {
    const unsigned old_ranks = ranks_.load(std::memory_order_relaxed);
    box_session_s* cur = current_.load(std::memory_order_acquire);
    box_session_s* next = cur;
    if (settings.size == 0 || !settings.directory || !*settings.directory) {
        next = nullptr;
    } else {
        std::string path = std::string(settings.directory) + (settings.name && *settings.name ? settings.name : "katrace") + "_" +
                           std::to_string(plat_pid()) + ".kbox";
        if (!cur || cur->size != settings.size || cur->path != path) {
            if (!pruned_) _prune(settings, path);
            pruned_ = true;
            // A box of another size takes the name of the one it replaces,
            // which moves to "<name>_<pid>.<n>.kbox": threads may still be
            // storing into the old mapping, so its file is never emptied.
            bool free_name = true;
            if (cur && cur->path == path) {
                const std::string moved = path.substr(0, path.size() - 5) + "." + std::to_string(++moves_) + ".kbox";
                free_name = plat_move_file(path.c_str(), moved.c_str());
                if (free_name) {
                    kor_lock_c hold(&cs_);
                    cur->path = moved;
                } else {
                    messages.append("Unable to move black box ").append(path.c_str()).append(" aside, err=").append(static_cast<unsigned>(plat_last_error())).append("; it is kept\n");
                }
            }
            next = free_name ? _open(settings, path, messages) : cur;
        } else {
            box_calibrate(cur->recorder);
        }
    }
    if (next) box_name_ranks(next->recorder, settings.rank_names);
    if (next != cur) {
        kor_lock_c hold(&cs_);
        current_.store(next, std::memory_order_release);
        if (cur) _retire(cur);
    }
    on_error_.store(next ? settings.on_error : 0, std::memory_order_relaxed);
    ranks_.store(next ? settings.ranks : 0, std::memory_order_relaxed);
    return next != cur || old_ranks != ranks();
}

box_session_s* box_keeper_c::_open(const box_settings_s& settings, const std::string& path, tr_stream_c& messages) {
    box_session_s* s = new (std::nothrow) box_session_s();
    if (s && s->sites.ok()) s->recorder = box_open(path.c_str(), settings.size, 0, settings.name);
    if (s && s->recorder) {
        s->path = path;
        s->size = settings.size;
        return s;
    }
    const unsigned long error = plat_last_error();
    messages.append("Unable to open black box ").append(path.c_str()).append(", err=").append(static_cast<unsigned>(error)).append("\n");
    delete s;
    return nullptr;
}

// Caller holds cs_.
void box_keeper_c::_retire(box_session_s* s) {
    s->retired = true;
    if (s->users != 0) return;
    box_close(s->recorder);
    delete s;
}

namespace {

struct box_listing_s {
    std::string prefix;
    std::string own;
    std::vector<std::string> names;
};

// "<name>_<digits>[.<digits>].kbox"
void collect_box(const char* name, void* ctx) {
    box_listing_s* l = static_cast<box_listing_s*>(ctx);
    const std::string n = name;
    const size_t p = l->prefix.size();
    if (n.size() <= p + 5 || n.compare(0, p, l->prefix) != 0 || n.compare(n.size() - 5, 5, ".kbox") != 0) return;
    // "<pid>" or "<pid>.<n>" (a box a process replaced)
    bool dot = false;
    for (size_t i = p; i < n.size() - 5; ++i) {
        if (n[i] == '.' && !dot && i > p && i + 1 < n.size() - 5) {
            dot = true;
            continue;
        }
        if (n[i] < '0' || n[i] > '9') return;
    }
    if (n != l->own) l->names.push_back(n);
}

}  // namespace

// Boxes of earlier processes of this executable beyond the newest keep
// are deleted, except those written to within the grace.
void box_keeper_c::_prune(const box_settings_s& settings, const std::string& own) {
    box_listing_s l;
    l.prefix = std::string(settings.name && *settings.name ? settings.name : "katrace") + "_";
    const std::string dir = settings.directory;
    l.own = own.substr(dir.size());
    if (!plat_list_files(dir.c_str(), &collect_box, &l)) return;
    std::vector<std::pair<long long, std::string>> boxes;
    for (const std::string& n : l.names) boxes.emplace_back(plat_file_mtime((dir + n).c_str()), dir + n);
    std::sort(boxes.begin(), boxes.end(), [](const std::pair<long long, std::string>& a, const std::pair<long long, std::string>& b) {
        return a.first > b.first;
    });
    const long long now = plat_time();
    for (size_t i = static_cast<size_t>(std::min<unsigned long long>(settings.keep, boxes.size())); i < boxes.size(); ++i) {
        const bool young = settings.grace && boxes[i].first >= 0 && static_cast<unsigned long long>(now - boxes[i].first) < settings.grace;
        if (!young) plat_delete_file(boxes[i].second.c_str());
    }
}

// --------------------------------------------------------------- threads

// The calling thread's state attached to the current box; null when there
// is no box, or no region or memory for this thread. Inline: every event
// asks, and once attached the answer is two loads and a compare.
inline box_thread_s* box_keeper_c::_thread() {
    box_session_s* s = current_.load(std::memory_order_acquire);
    if (!s) return nullptr;
    if (t_cache.keeper == id_ && t_cache.thread->session == s) return t_cache.thread->writer ? t_cache.thread : nullptr;
    return _attach(s);
}

// The state from the slot, made for a thread's first event; attached to
// the current box when it was attached to none or to an earlier one.
box_thread_s* box_keeper_c::_attach(box_session_s* s) {
    if (!has_tls_) return nullptr;
    box_thread_s* t = t_cache.keeper == id_ ? t_cache.thread : static_cast<box_thread_s*>(plat_tls_get(tls_index_));
    if (t && t->session == s) return t->writer ? t : nullptr;
    if (!t) {
        t = new (std::nothrow) box_thread_s();
        if (!t) return nullptr;
        t->keeper = this;
        if (!plat_tls_set(tls_index_, t)) {
            delete t;
            return nullptr;
        }
    }
    t_cache = thread_cache_s{id_, t};
    const char* name = namer_ ? namer_() : nullptr;
    kor_lock_c hold(&cs_);
    _detach(t);
    s = current_.load(std::memory_order_acquire);
    if (!s) return nullptr;
    t->session = s;
    std::fill(t->scopes, t->scopes + box_thread_s::SCOPES, nullptr);
    ++s->users;
    t->writer = box_thread_attach(s->recorder, plat_thread_id(), name);
    return t->writer ? t : nullptr;
}

// Caller holds cs_.
void box_keeper_c::_detach(box_thread_s* t) {
    box_session_s* s = t->session;
    if (!s) return;
    box_thread_detach(s->recorder, t->writer);
    t->writer = nullptr;
    t->session = nullptr;
    if (--s->users == 0 && s->retired) _retire(s);
}

void box_keeper_c::_thread_ends(void* value) {
    box_thread_s* t = static_cast<box_thread_s*>(value);
    if (!t) return;
    {
        kor_lock_c hold(&t->keeper->cs_);
        t->keeper->_detach(t);
    }
    forget_cached(t);
    delete t;
}

void box_keeper_c::thread_ends() {
    if (!has_tls_) return;
    box_thread_s* t = static_cast<box_thread_s*>(plat_tls_get(tls_index_));
    if (!t) return;
    plat_tls_set(tls_index_, nullptr);
    _thread_ends(t);
}

// The child's box state starts empty: its thread's writer, its sessions and
// the lock (which a thread that is not copied may have held) are dropped
// without touching the parent's mapping.
void box_keeper_c::forget_in_child() {
    current_.store(nullptr, std::memory_order_relaxed);
    ranks_.store(0, std::memory_order_relaxed);
    on_error_.store(0, std::memory_order_relaxed);
    cs_.reset_in_child();
    if (has_tls_) plat_tls_set(tls_index_, nullptr);
    t_cache = thread_cache_s{0, nullptr};
}

// ----------------------------------------------------------- record path

namespace {

// A site entry made for key: its plan and its string-table id.
const box_site_entry_s* add_site(box_session_s* s, const box_site_key_s& key, const char* function, const char* file, int line,
                                 const char* format) {
    box_site_entry_s* e = s->sites.claim(key);
    if (!e) return nullptr;
    box_plan_format(format, &e->plan);
    e->site = box_site_id(s->recorder, function, file, line < 0 ? 0u : static_cast<unsigned>(line), format);
    box_site_table_c::publish(e);
    return e;
}

}  // namespace

void box_keeper_c::scope(bool enter, const box_site_key_s& key, const char* function, const char* file, int line, bool written) {
    box_thread_s* t = _thread();
    if (!t) return;
    const box_site_entry_s* e = enter ? nullptr : t->scopes[t->depth % box_thread_s::SCOPES];
    if (!e || !(e->key == key)) e = t->session->sites.find(key);
    if (!e) e = add_site(t->session, key, function, file, line, nullptr);
    if (enter) {
        ++t->depth;
        t->scopes[t->depth % box_thread_s::SCOPES] = e;
    }
    if (e && e->site) box_record_scope(t->writer, enter ? BOX_REC_ENTER : BOX_REC_LEAVE, e->site, t->depth, written);
    if (!enter && t->depth > 0) --t->depth;
}

void box_keeper_c::message(const box_site_key_s& key, const char* function, const char* file, int line, unsigned rank,
                           const char* format, va_list arguments, bool written) {
    box_thread_s* t = _thread();
    if (!t) return;
    const box_site_entry_s* e = t->session->sites.find(key);
    if (!e) e = add_site(t->session, key, function, file, line, format);
    if (!e || !e->site) return;
    box_arg_s args[BOX_MAX_ARGS];
    unsigned n;
    if (written) {
        // The line is formatted from the arguments afterwards.
        va_list copy;
        va_copy(copy, arguments);
        n = box_take_arguments(e->plan, copy, args, &t->room);
        va_end(copy);
    } else {
        n = box_take_arguments(e->plan, arguments, args, &t->room);
    }
    box_record_message(t->writer, e->site, rank, t->depth, args, n, written);
}

void box_keeper_c::text(const box_site_key_s& key, const char* function, const char* file, int line, unsigned rank, const char* text,
                        unsigned long long length, bool written) {
    box_thread_s* t = _thread();
    if (!t || !text) return;
    const box_site_entry_s* e = t->session->sites.find(key);
    if (!e) e = add_site(t->session, key, function, file, line, static_cast<const char*>(key.format));
    if (!e || !e->site) return;
    box_arg_s arg;
    arg.kind = BOX_ARG_STRING;
    arg.s = text;
    arg.limit = static_cast<size_t>(length);
    box_record_message(t->writer, e->site, rank, t->depth, &arg, 1, written);
}

// --------------------------------------------------------- written ranks

namespace {
unsigned written_start(const unsigned* mask, unsigned slots) {
    uint64_t h = reinterpret_cast<uintptr_t>(mask) * 0x9E3779B97F4A7C15ull;
    return static_cast<unsigned>((h >> 32) % slots);
}
const unsigned WRITTEN_PROBES = 16;
}  // namespace

bool box_keeper_c::written_ranks(const unsigned* mask, unsigned generation, unsigned* written) const {
    if (!written_) return false;
    const unsigned s = written_start(mask, WRITTEN_SLOTS);
    for (unsigned i = 0; i < WRITTEN_PROBES; ++i) {
        const written_slot_s& w = written_[(s + i) % WRITTEN_SLOTS];
        const unsigned* m = w.mask.load(std::memory_order_acquire);
        if (!m) return false;
        if (m != mask) continue;
        const uint64_t v = w.value.load(std::memory_order_acquire);
        if (static_cast<unsigned>(v >> 32) != generation) return false;
        *written = static_cast<unsigned>(v);
        return true;
    }
    return false;
}

void box_keeper_c::note_written_ranks(const unsigned* mask, unsigned generation, unsigned written) {
    if (!written_) return;
    const unsigned s = written_start(mask, WRITTEN_SLOTS);
    for (unsigned i = 0; i < WRITTEN_PROBES; ++i) {
        written_slot_s& w = written_[(s + i) % WRITTEN_SLOTS];
        const unsigned* m = w.mask.load(std::memory_order_acquire);
        if (!m) {
            const unsigned* expected = nullptr;
            if (!w.mask.compare_exchange_strong(expected, mask, std::memory_order_acq_rel) && expected != mask) continue;
        } else if (m != mask) {
            continue;
        }
        w.value.store(static_cast<uint64_t>(generation) << 32 | written, std::memory_order_release);
        return;
    }
}

// ------------------------------------------------------- error context

void box_keeper_c::unwritten_context(unsigned n, std::vector<std::string>* lines) {
    box_thread_s* t = n ? _thread() : nullptr;
    if (!t) return;
    size_t size = 0;
    const unsigned char* bytes = box_bytes(t->session->recorder, &size);
    box_decoder_c decoder;
    if (!decoder.open(bytes, size)) return;
    const box_header_s* h = reinterpret_cast<const box_header_s*>(bytes);
    const unsigned region =
        static_cast<unsigned>((reinterpret_cast<const unsigned char*>(t->writer->region) - bytes - h->regions_offset) / h->region_size);
    std::vector<box_event_s> events;
    decoder.read_unwritten(region, n, &events);
    for (const box_event_s& e : events) lines->push_back(box_context_line(e));
}
