// The recorder's file: made, sized into header, string table and regions,
// calibrated, closed; regions claimed and released by threads.
#include <cstring>
#include <initializer_list>
#include <new>

#include "blackbox/box_state.h"

namespace {

uint64_t round_down(uint64_t v, uint64_t to) { return v / to * to; }

// The string table takes a sixteenth of the box (64 KiB to 64 MiB); the
// rest is split into regions of at least 64 KiB (at most 256 of them
// unless asked), each a multiple of 64 bytes so that no two threads share
// a cache line.
bool plan(box_header_s* h, uint64_t size, unsigned regions) {
    uint64_t strings = size / 16;
    if (strings < (64u << 10)) strings = 64u << 10;
    if (strings > (64u << 20)) strings = 64u << 20;
    strings = round_down(strings, 64);
    const uint64_t rest = size - BOX_HEADER_SIZE - strings;
    if (regions == 0) {
        uint64_t n = rest / (256u << 10);
        regions = static_cast<unsigned>(n < 4 ? 4 : n > 256 ? 256
                                                            : n);
    }
    const uint64_t region = round_down(rest / regions, 64);
    if (region < BOX_REGION_HEADER_SIZE + 16384) return false;  // the largest record fits many times
    h->strings_offset = BOX_HEADER_SIZE;
    h->strings_size = strings;
    h->strings_used = 8;  // id 0 is never an entry
    h->regions_offset = BOX_HEADER_SIZE + strings;
    h->region_size = region;
    h->region_count = regions;
    return true;
}

box_region_s* region_at(box_recorder_s* r, unsigned i) {
    return reinterpret_cast<box_region_s*>(r->map.data + r->header->regions_offset + i * r->header->region_size);
}

}  // namespace

box_recorder_s* box_open(const char* path, unsigned long long size, unsigned regions, const char* exe_name) {
    if (size < BOX_MIN_SIZE || size > BOX_MAX_SIZE || regions > 65536) {
        plat_set_last_error(0);
        return nullptr;
    }
    box_recorder_s* r = new (std::nothrow) box_recorder_s();
    box_text_slot_s* slots = new (std::nothrow) box_text_slot_s[BOX_TEXT_SLOTS]();
    if (!r || !slots || !plat_map_shared(path, size, &r->map)) {
        delete[] slots;
        delete r;
        return nullptr;
    }
    r->slots = slots;
    box_header_s* h = reinterpret_cast<box_header_s*>(r->map.data);
    r->header = h;
    if (!plan(h, size, regions)) {
        box_close(r);
        return nullptr;
    }
    r->strings = r->map.data + h->strings_offset;
    h->version = BOX_VERSION;
    h->header_size = BOX_HEADER_SIZE;
    h->file_size = size;
    h->pid = static_cast<uint32_t>(plat_pid());
    h->ticks_per_second = plat_tick_rate();
    for (unsigned i = 0; i < h->region_count; ++i) region_at(r, i)->ring_size = h->region_size - BOX_REGION_HEADER_SIZE;
    h->exe_name = box_text_id(r, exe_name);
    box_calibrate(r);
    // The magic last: a reader that finds it finds a complete header.
    uint64_t magic;
    memcpy(&magic, BOX_MAGIC, 8);
    box_store(reinterpret_cast<uint64_t*>(h->magic), magic, __ATOMIC_RELEASE);
    return r;
}

void box_close(box_recorder_s* r) {
    if (!r) return;
    plat_unmap_shared(&r->map);
    delete[] r->slots;
    delete r;
}

const unsigned char* box_bytes(const box_recorder_s* r, size_t* size) {
    if (size) *size = r ? r->map.size : 0;
    return r ? r->map.data : nullptr;
}

// The pair is written before the count that makes it visible; when the
// table is full the newest pair replaces the last one. The wall clock is
// read between two counter reads (the narrowest bracket of a few), so that
// a preemption between the reads does not shift every time the box shows.
void box_calibrate(box_recorder_s* r) {
    if (!r) return;
    box_header_s* h = r->header;
    uint32_t n = box_load32a(&h->calibration_count);
    const uint32_t at = n < BOX_MAX_CALIBRATIONS ? n : BOX_MAX_CALIBRATIONS - 1;
    uint64_t ticks = 0;
    const uint64_t wall = plat_ticks_beside(&plat_wall_ns, &ticks);
    box_store(&h->calibrations[at].ticks, ticks);
    box_store(&h->calibrations[at].wall_ns, wall);
    if (n < BOX_MAX_CALIBRATIONS) box_store32(&h->calibration_count, n + 1, __ATOMIC_RELEASE);
}

void box_name_ranks(box_recorder_s* r, const char* names) {
    if (!r) return;
    box_store32(&r->header->rank_names, names && *names ? box_text_id(r, names) : 0, __ATOMIC_RELEASE);
}

// A free region first, then one released by a thread that ended. A reused
// region keeps counting positions from its old head, so that no record of
// the thread before passes for one of the new owner.
box_writer_s* box_thread_attach(box_recorder_s* r, unsigned long long thread_id, const char* name) {
    if (!r) return nullptr;
    box_writer_s* w = new (std::nothrow) box_writer_s();
    if (!w) return nullptr;
    const uint32_t name_id = box_text_id(r, name);
    for (uint32_t wanted : {uint32_t(BOX_REGION_FREE), uint32_t(BOX_REGION_RELEASED)}) {
        for (unsigned i = 0; i < r->header->region_count; ++i) {
            box_region_s* g = region_at(r, i);
            uint32_t expected = wanted;
            if (!__atomic_compare_exchange_n(&g->state, &expected, uint32_t(BOX_REGION_OWNED), false, __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
                continue;
            w->region = g;
            w->ring = reinterpret_cast<unsigned char*>(g) + BOX_REGION_HEADER_SIZE;
            w->ring_size = g->ring_size;
            w->head = (box_load(&g->head) + 7) & ~7ull;
            w->tail = w->head;
            w->head_offset = w->tail_offset = w->head % w->ring_size;
            box_store(&g->tail, w->tail, __ATOMIC_RELEASE);
            box_store(&g->head, w->head, __ATOMIC_RELEASE);
            box_store(&g->thread_id, thread_id);
            box_store32(&g->thread_name, name_id);
            box_store(&g->owner_count, box_load(&g->owner_count) + 1, __ATOMIC_RELEASE);
            return w;
        }
    }
    __atomic_fetch_add(&r->header->threads_refused, 1u, __ATOMIC_RELAXED);
    delete w;
    return nullptr;
}

void box_thread_detach(box_recorder_s* r, box_writer_s* w) {
    if (!w) return;
    if (r) box_store32(&w->region->state, BOX_REGION_RELEASED, __ATOMIC_RELEASE);
    delete w;
}
