// The black-box decoder: reads a box (a copy of the file, or the live
// mapping in the recording process) and gives back its events. It trusts
// no byte: the header must agree with the bytes there are, every string id
// must lead to a committed entry of its kind inside the table, and every
// record must be committed at its own position, of a known kind, with a
// length that fits its ring and its arguments. What fails is skipped and
// described in problems; nothing is read outside the given bytes.
#ifndef KATRACE_BOX_DECODER_H
#define KATRACE_BOX_DECODER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "blackbox/box_layout.h"

// One decoded argument: its kind and value (text for strings).
struct box_value_s {
    uint8_t kind;  // box_arg_kind_e
    uint64_t bits;
    std::string text;  // a string's stored bytes
    uint32_t cut;      // bytes of the string left out
};

struct box_event_s {
    uint64_t ticks;
    uint64_t wall_ns;  // ticks converted with the box's calibration
    unsigned region;
    uint64_t thread_id;
    uint8_t kind;  // BOX_REC_ENTER, BOX_REC_LEAVE or BOX_REC_MESSAGE
    unsigned rank;
    std::string rank_name;  // an additional rank's name, when the box names it
    unsigned depth;
    bool written;  // the event was also written to the log
    std::string function, file, format;
    unsigned line;
    std::vector<box_value_s> args;
};

struct box_thread_info_s {
    uint64_t thread_id;
    std::string name;
};

class box_decoder_c {
public:
    // Checks the header of size bytes at data (8-byte aligned); false, with
    // the reason in problems, when they are no box at all. data must stay
    // valid while the decoder is used; it may be the live mapping, which is
    // then read with atomic word loads and each record checked again after
    // it was copied (a record the writer overtook meanwhile is dropped).
    bool open(const unsigned char* data, size_t size);
    // Appends the events of every region (in each region, oldest first).
    void read_all(std::vector<box_event_s>* out);
    // Appends the events of region i, oldest first.
    void read_region(unsigned i, std::vector<box_event_s>* out);
    // The newest n events of region i whose records say the log did not
    // show them, oldest first; only the chosen records are decoded. For the
    // region's own writer (nothing moves meanwhile).
    void read_unwritten(unsigned i, size_t n, std::vector<box_event_s>* out);
    unsigned region_count() const { return regions_; }
    // The region's thread as its header names it.
    box_thread_info_s thread_of(unsigned i) const;
    // Wall-clock nanoseconds of a counter value.
    uint64_t wall_ns(uint64_t ticks) const;
    uint32_t pid() const { return pid_; }
    const std::vector<std::string>& problems() const { return problems_; }

private:
    uint64_t word(size_t offset) const;  // offset 8-aligned and inside
    bool text(uint32_t id, std::string* out) const;
    bool site(uint32_t id, box_event_s* e) const;
    bool decode(const uint64_t* words, uint32_t length, uint64_t commit, box_event_s* e) const;
    void problem(const std::string& what);

    const unsigned char* data_ = nullptr;
    size_t size_ = 0;
    uint64_t strings_offset_ = 0, strings_end_ = 0;
    uint64_t regions_offset_ = 0, region_size_ = 0;
    unsigned regions_ = 0;
    uint32_t pid_ = 0;
    uint64_t rate_ = 0;
    std::vector<box_calibration_s> calibrations_;
    std::vector<std::string> rank_names_;  // the additional ranks', from bit 14 on
    std::vector<std::string> problems_;
};

#endif
