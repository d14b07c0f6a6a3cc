// The recorder's private state, shared by the files of the recorder: the
// mapping and its header, the text cache, and each thread's writer.
#ifndef KATRACE_BOX_STATE_H
#define KATRACE_BOX_STATE_H

#include <atomic>

#include "blackbox/box_layout.h"
#include "blackbox/box_recorder.h"
#include "platform/platform.h"

// Texts cached by address: a slot holds the address and the id it was
// written under; the bytes are compared again before the id is reused.
const unsigned BOX_TEXT_SLOTS = 4096;
const unsigned BOX_TEXT_PROBES = 16;
struct box_text_slot_s {
    std::atomic<const char*> text;
    std::atomic<uint32_t> id;
};

struct box_recorder_s {
    plat_shared_map_s map;
    box_header_s* header;
    unsigned char* strings;  // the table's first byte
    box_text_slot_s* slots;  // BOX_TEXT_SLOTS entries
};

// A thread's writer: its region and local copies of the positions, which
// only this thread changes.
struct box_writer_s {
    box_region_s* region;
    unsigned char* ring;
    uint64_t ring_size;
    uint64_t head;
    uint64_t tail;
    uint64_t head_offset;  // head % ring_size, kept so that no record divides
    uint64_t tail_offset;  // tail % ring_size
};

// Atomic access to words of the mapping. Ring words are read by other
// threads while they are rewritten, so every ring store and load is atomic
// (a plain move on x86-64, in either order); see box_record.cpp.
inline void box_store(uint64_t* p, uint64_t v, int order = __ATOMIC_RELAXED) { __atomic_store_n(p, v, order); }
inline uint64_t box_load(const uint64_t* p, int order = __ATOMIC_RELAXED) { return __atomic_load_n(p, order); }
inline void box_store32(uint32_t* p, uint32_t v, int order = __ATOMIC_RELAXED) { __atomic_store_n(p, v, order); }
inline uint32_t box_load32a(const uint32_t* p, int order = __ATOMIC_RELAXED) { return __atomic_load_n(p, order); }

#endif
