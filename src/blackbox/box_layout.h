// The black-box file's layout, shared by the recorder and the decoder. Every
// field is little-endian with a fixed width and a fixed offset, the same on
// the Linux and the Windows build (both x86-64), so that a box written by
// one decodes with the other's tool. docs/blackbox.md describes the format.
//
// The file: a header, an append-only string table, then equal regions, one
// per recording thread, each a ring of records of variable size. Offsets are
// in bytes from the start of the file; every structure is 8-byte aligned.
#ifndef KATRACE_BOX_LAYOUT_H
#define KATRACE_BOX_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the box is stored in the machine's byte order, little-endian");
#endif

// "KATRBOX" and a NUL: the first eight bytes of every box.
const char BOX_MAGIC[8] = {'K', 'A', 'T', 'R', 'B', 'O', 'X', 0};
const uint32_t BOX_VERSION = 1;

const uint32_t BOX_HEADER_SIZE = 4096;        // the header's page
const uint32_t BOX_MAX_CALIBRATIONS = 64;     // counter/wall-clock pairs kept
const uint32_t BOX_REGION_HEADER_SIZE = 128;  // two cache lines: owner's fields, then the ring
const uint64_t BOX_MIN_SIZE = 1ull << 20;     // 1 MiB
const uint64_t BOX_MAX_SIZE = 4ull << 30;     // 4 GiB
const uint32_t BOX_MAX_STRING = 256;          // bytes of a string argument kept
const uint32_t BOX_MAX_ARGS = 16;             // arguments of one message kept
const uint32_t BOX_MAX_TEXT = 4096;           // bytes of a function, file, format or thread name

// One counter/wall-clock pair: the counter's value (ticks) read together
// with the wall clock (nanoseconds since 1970, UTC).
struct box_calibration_s {
    uint64_t ticks;
    uint64_t wall_ns;
};

// The file header, at offset 0. The recorder writes every field before the
// first record except strings_used, calibration_count (with the pairs),
// threads_refused and rank_names, which it updates while the box is live.
struct box_header_s {
    char magic[8];               // BOX_MAGIC
    uint32_t version;            // BOX_VERSION
    uint32_t header_size;        // BOX_HEADER_SIZE
    uint64_t file_size;          // bytes of the whole file
    uint64_t strings_offset;     // start of the string table
    uint64_t strings_size;       // bytes reserved for it
    uint64_t strings_used;       // bytes handed out (entries may still be uncommitted)
    uint64_t regions_offset;     // start of region 0
    uint64_t region_size;        // bytes of each region, header included
    uint32_t region_count;       // regions in the file
    uint32_t pid;                // the recording process
    uint64_t ticks_per_second;   // the counter's rate, measured when the box was made
    uint32_t calibration_count;  // pairs of calibrations[] in use (the oldest kept when full)
    uint32_t threads_refused;    // threads that found no free region
    uint32_t exe_name;           // string id of the executable's name, 0 when none
    uint32_t rank_names;         // string id of the additional ranks' names, 0 when none (see box_name_ranks)
    uint64_t reserved[4];
    box_calibration_s calibrations[BOX_MAX_CALIBRATIONS];
};
static_assert(sizeof(box_header_s) == 128 + 16 * BOX_MAX_CALIBRATIONS, "box header layout");
static_assert(sizeof(box_header_s) <= BOX_HEADER_SIZE, "box header fits its page");
static_assert(offsetof(box_header_s, ticks_per_second) == 72 && offsetof(box_header_s, calibrations) == 128, "box header offsets");

// ------------------------------------------------------------ string table
// An entry: one 8-byte commit word, then the bytes, a NUL, and zeros to the
// next multiple of 8. The commit word, stored last with release order, is
// BOX_STRING_MARK in its high 16 bits, the kind in bits 32..39 and the
// length (without the NUL) in its low 32 bits; 0 while the entry is being
// written. A string id is the entry's offset from the table's start; 0 is
// never an entry (the table starts with 8 zero bytes), so 0 means "none".
const uint64_t BOX_STRING_MARK = 0x5B0Cull;
enum box_string_kind_e : uint8_t {
    BOX_STR_TEXT = 1,  // a function, file, format, thread or executable name
    BOX_STR_SITE = 2,  // a site: see box_site_s
};
// A site entry's bytes (its length is sizeof(box_site_s), no NUL): the ids
// of its function, file and format (0 for enter/leave sites) and its line.
struct box_site_s {
    uint32_t function;
    uint32_t file;
    uint32_t format;
    uint32_t line;
};
inline uint64_t box_string_commit(box_string_kind_e kind, uint32_t length) {
    return (BOX_STRING_MARK << 48) | (static_cast<uint64_t>(kind) << 32) | length;
}
// Bytes an entry of this length takes in the table.
inline uint64_t box_string_span(uint64_t length, bool nul) { return 8 + ((length + (nul ? 1 : 0) + 7) & ~7ull); }

// ----------------------------------------------------------------- regions
// A region's header. The state word says who owns the region; the other
// fields are written by the owning thread only. head and tail are absolute
// byte positions in the ring (they only grow; the offset in the ring is the
// position modulo ring_size): the records from tail to head are intact.
enum box_region_state_e : uint32_t {
    BOX_REGION_FREE = 0,      // never used
    BOX_REGION_OWNED = 1,     // a live thread records here
    BOX_REGION_RELEASED = 2,  // its thread ended; records kept until reused
};
struct box_region_s {
    uint32_t state;        // box_region_state_e
    uint32_t thread_name;  // string id, 0 when none
    uint64_t thread_id;    // system thread id of the owner
    uint64_t ring_size;    // bytes of the ring (region_size - BOX_REGION_HEADER_SIZE)
    uint64_t tail;         // oldest intact record; stored before a record overwrites older ones
    uint64_t head;         // end of the newest record; stored after its commit word
    uint64_t owner_count;  // how many threads owned the region so far
    uint64_t reserved[10];
};
static_assert(sizeof(box_region_s) == BOX_REGION_HEADER_SIZE && offsetof(box_region_s, head) == 32, "region header layout");

// ----------------------------------------------------------------- records
// A record starts with its commit word, stored last with release order:
//   bits  0..15  length of the record in bytes (a multiple of 8, >= 8)
//   bits 16..23  kind (box_record_kind_e)
//   bits 24..31  argument count (messages)
//   bits 32..63  the low 32 bits of (position / 8), position being the
//                record's absolute position in its ring
// The position binds a record to its lap: bytes left from an earlier lap
// never pass as a record of this one. A pad record (length 8) says that the
// rest of the ring up to its end is unused; the next record is at offset 0.
// Then, for the other kinds:
//   uint64_t ticks          the time-stamp counter when the event happened
//   uint32_t site           string id of a BOX_STR_SITE entry
//   uint8_t  rank           the message's rank as bit number + 1 (0 for enter and leave)
//   uint8_t  flags          BOX_FLAG_WRITTEN when the event was also written to the log
//   uint16_t depth          scope depth of the thread at the event
// and, for a message, one kind byte per argument, zeros up to a multiple of
// 8, then the arguments in order, each a multiple of 8 bytes:
//   INT, UINT, DOUBLE, POINTER: 8 bytes (int64, uint64, IEEE double, address)
//   STRING: uint32_t stored, uint32_t cut (bytes left out), the stored bytes,
//           zeros up to a multiple of 8
//   NULL_STRING: nothing (a null char pointer)
enum box_record_kind_e : uint8_t {
    BOX_REC_PAD = 1,
    BOX_REC_ENTER = 2,
    BOX_REC_LEAVE = 3,
    BOX_REC_MESSAGE = 4,
};
enum box_arg_kind_e : uint8_t {
    BOX_ARG_INT = 1,
    BOX_ARG_UINT = 2,
    BOX_ARG_DOUBLE = 3,
    BOX_ARG_POINTER = 4,
    BOX_ARG_STRING = 5,
    BOX_ARG_NULL_STRING = 6,
};
const uint8_t BOX_FLAG_WRITTEN = 1;
const uint32_t BOX_RECORD_HEAD = 24;     // commit word, ticks, site, rank, depth
const uint32_t BOX_MAX_RECORD = 0xFFF8;  // the largest length the commit word holds

inline uint64_t box_record_commit(uint32_t length, box_record_kind_e kind, uint32_t args, uint64_t position) {
    return length | (static_cast<uint64_t>(kind) << 16) | (static_cast<uint64_t>(args & 0xFF) << 24) |
           (static_cast<uint64_t>(static_cast<uint32_t>(position >> 3)) << 32);
}
inline uint32_t box_commit_length(uint64_t c) { return static_cast<uint32_t>(c & 0xFFFF); }
inline uint32_t box_commit_kind(uint64_t c) { return static_cast<uint32_t>((c >> 16) & 0xFF); }
inline uint32_t box_commit_args(uint64_t c) { return static_cast<uint32_t>((c >> 24) & 0xFF); }
inline bool box_commit_at(uint64_t c, uint64_t position) { return static_cast<uint32_t>(c >> 32) == static_cast<uint32_t>(position >> 3); }

// Little-endian loads from bytes of any alignment (the decoder's only way
// of reading a box). Both builds run on little-endian x86-64, where these
// are plain loads.
inline uint64_t box_load64(const unsigned char* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}
inline uint32_t box_load32(const unsigned char* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline uint16_t box_load16(const unsigned char* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

#endif
