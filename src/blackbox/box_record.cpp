// The record path: a record is placed in the thread's ring, older records
// it overwrites are retired first, its words are stored, and its commit
// word is stored last with release order. No lock, no system call, no
// allocation.
#include <cstring>

#include "blackbox/box_state.h"
#include "platform/compiler.h"

namespace {

// Stores a record's words, one atomic word at a time.
class word_writer_c {
public:
    explicit word_writer_c(uint64_t* at) : at_(at) {}
    // Release order costs nothing on x86-64 (every store is one there) and
    // orders each word after the tail's store: a reader that sees a word of
    // the new record also sees the tail that retired the old one.
    void word(uint64_t v) { box_store(at_++, v, __ATOMIC_RELEASE); }
    // Bytes packed into words, the last one padded with zeros.
    void bytes(const char* p, size_t n) {
        for (; n >= 8; n -= 8, p += 8) word(load_n<uint64_t>(p));
        if (n > 0) word(tail_word(p, n));
    }

private:
    template <class T>
    static uint64_t load_n(const char* p) {
        T v;
        memcpy(&v, p, sizeof v);
        return v;
    }
    // The last 1 to 7 bytes as a word, built in a register from two loads
    // that may overlap (a word assembled in memory from a few byte stores
    // and read back whole stalls the store forwarding).
    static uint64_t tail_word(const char* p, size_t n) {
        if (n >= 4) return load_n<uint32_t>(p) | load_n<uint32_t>(p + n - 4) << (8 * (n - 4));
        if (n >= 2) return load_n<uint16_t>(p) | load_n<uint16_t>(p + n - 2) << (8 * (n - 2));
        return static_cast<unsigned char>(*p);
    }

    uint64_t* at_;
};

uint64_t* word_at(box_writer_s* w, uint64_t offset) { return reinterpret_cast<uint64_t*>(w->ring + offset); }

// Makes room for length bytes at the head and returns the record's offset
// in the ring (its position in *position): a record never wraps, so one
// that does not fit before the end of the ring is preceded by a pad. The
// tail is moved past the records the new bytes overwrite and published
// before any of their bytes change: a reader that finds the tail beyond a
// record it read drops what it read. Their commit words need no clearing:
// a record left from an earlier lap names its own position, never one of
// this lap. Offsets are kept beside the positions, so nothing divides.
uint64_t place(box_writer_s* w, uint32_t length, uint64_t* position) {
    const uint64_t off = w->head_offset;
    const bool pad = off + length > w->ring_size;
    const uint64_t start = pad ? w->head + (w->ring_size - off) : w->head;
    const uint64_t end = start + length;
    if (w->tail + w->ring_size < end) {
        while (w->tail + w->ring_size < end) {
            const uint64_t commit = box_load(word_at(w, w->tail_offset));
            uint64_t span = box_commit_length(commit);
            if (box_commit_kind(commit) == BOX_REC_PAD || span == 0 || w->tail_offset + span > w->ring_size) span = w->ring_size - w->tail_offset;
            w->tail += span;
            w->tail_offset += span;
            if (w->tail_offset == w->ring_size) w->tail_offset = 0;
        }
        box_store(&w->region->tail, w->tail);
    }
    if (pad) box_store(word_at(w, off), box_record_commit(8, BOX_REC_PAD, 0, w->head), __ATOMIC_RELEASE);
    *position = start;
    return pad ? 0 : off;
}

void publish(box_writer_s* w, uint64_t offset, uint64_t position, uint32_t length, box_record_kind_e kind, uint32_t args) {
    box_store(word_at(w, offset), box_record_commit(length, kind, args, position), __ATOMIC_RELEASE);
    w->head = position + length;
    w->head_offset = offset + length == w->ring_size ? 0 : offset + length;
    box_store(&w->region->head, w->head, __ATOMIC_RELEASE);
}

// Site, rank (its lowest bit's number plus one), flags and depth in one word.
inline uint64_t head_word(uint32_t site, unsigned rank, bool written, unsigned depth) {
    const uint64_t number = rank ? static_cast<uint64_t>(katr_lowest_bit(rank)) + 1 : 0;
    return site | (number << 32) | (static_cast<uint64_t>(written ? BOX_FLAG_WRITTEN : 0) << 40) |
           (static_cast<uint64_t>(depth > 0xFFFF ? 0xFFFF : depth) << 48);
}

}  // namespace

void box_record_scope(box_writer_s* w, box_record_kind_e kind, uint32_t site, unsigned depth, bool written) {
    if (!w || (kind != BOX_REC_ENTER && kind != BOX_REC_LEAVE)) return;
    const uint64_t ticks = plat_ticks();
    uint64_t position;
    const uint64_t at = place(w, BOX_RECORD_HEAD, &position);
    word_writer_c out(word_at(w, at) + 1);
    out.word(ticks);
    out.word(head_word(site, 0, written, depth));
    publish(w, at, position, BOX_RECORD_HEAD, kind, 0);
}

void box_record_message(box_writer_s* w, uint32_t site, unsigned rank, unsigned depth, const box_arg_s* args, unsigned count,
                        bool written) {
    if (!w) return;
    const uint64_t ticks = plat_ticks();
    if (!args) count = 0;
    if (count > BOX_MAX_ARGS) count = BOX_MAX_ARGS;
    // Lengths first: the record's size, and each string's stored and cut bytes.
    uint32_t stored[BOX_MAX_ARGS], cut[BOX_MAX_ARGS];
    uint32_t length = BOX_RECORD_HEAD + ((count + 7) & ~7u);
    for (unsigned i = 0; i < count; ++i) {
        if (args[i].kind == BOX_ARG_STRING && args[i].s) {
            const size_t n = args[i].limit == SIZE_MAX ? strlen(args[i].s) : strnlen(args[i].s, args[i].limit);
            stored[i] = n > BOX_MAX_STRING ? BOX_MAX_STRING : static_cast<uint32_t>(n);
            cut[i] = n - stored[i] > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n - stored[i]);
            length += 8 + ((stored[i] + 7) & ~7u);
        } else if (args[i].kind == BOX_ARG_STRING || args[i].kind == BOX_ARG_NULL_STRING) {
            length += 0;
        } else {
            length += 8;
        }
    }
    uint64_t position;
    const uint64_t at = place(w, length, &position);
    word_writer_c out(word_at(w, at) + 1);
    out.word(ticks);
    out.word(head_word(site, rank, written, depth));
    // The kind bytes, eight to a word, packed in a register.
    uint8_t kinds[BOX_MAX_ARGS];
    uint64_t packed = 0;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t k = args[i].kind;
        uint8_t kind = k >= BOX_ARG_INT && k <= BOX_ARG_NULL_STRING ? k : uint8_t(BOX_ARG_UINT);
        if (k == BOX_ARG_STRING && !args[i].s) kind = BOX_ARG_NULL_STRING;
        kinds[i] = kind;
        packed |= static_cast<uint64_t>(kind) << (8 * (i & 7));
        if ((i & 7) == 7 || i + 1 == count) {
            out.word(packed);
            packed = 0;
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        switch (kinds[i]) {
        case BOX_ARG_NULL_STRING: break;
        case BOX_ARG_STRING:
            out.word(stored[i] | (static_cast<uint64_t>(cut[i]) << 32));
            out.bytes(args[i].s, stored[i]);
            break;
        default: out.word(args[i].u); break;
        }
    }
    publish(w, at, position, length, BOX_REC_MESSAGE, count);
}
