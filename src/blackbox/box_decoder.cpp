// The decoder: the header checked against the bytes there are, strings and
// sites looked up with every bound checked, and each region's ring walked
// from its tail, record by record.
#include "blackbox/box_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::string number(unsigned long long v) { return std::to_string(v); }

// The bit of the first additional rank.
const unsigned ADDITIONAL_RANK_BIT = 14;

}  // namespace

void box_decoder_c::problem(const std::string& what) {
    if (problems_.size() < 100) problems_.push_back(what);
}

// Every read of the box is an aligned 8-byte atomic load: the bytes may be
// the live mapping, rewritten while they are read. Acquire order (a plain
// load on x86-64) pairs with the writer's release stores: a load that sees
// a word of a newer record is followed by a load of the tail that sees the
// tail moved past the older record.
uint64_t box_decoder_c::word(size_t offset) const {
    return __atomic_load_n(reinterpret_cast<const uint64_t*>(data_ + offset), __ATOMIC_ACQUIRE);
}

bool box_decoder_c::open(const unsigned char* data, size_t size) {
    *this = box_decoder_c();
    if (!data || reinterpret_cast<uintptr_t>(data) % 8 != 0) return problem("no data to read"), false;
    data_ = data;
    size_ = size & ~size_t(7);
    uint64_t magic;
    memcpy(&magic, BOX_MAGIC, 8);
    if (size_ < BOX_HEADER_SIZE || word(0) != magic) return problem("not a black box (no KATRBOX header)"), false;
    box_header_s h;
    for (size_t i = 0; i < sizeof h; i += 8) {
        const uint64_t w = word(i);
        memcpy(reinterpret_cast<unsigned char*>(&h) + i, &w, 8);
    }
    if (h.version != BOX_VERSION) return problem("black box of version " + number(h.version) + ", this reader knows version " + number(BOX_VERSION)), false;
    if (h.header_size != BOX_HEADER_SIZE || h.strings_offset != BOX_HEADER_SIZE || h.strings_size % 8 != 0 ||
        h.strings_size > BOX_MAX_SIZE || h.regions_offset != h.strings_offset + h.strings_size || h.region_size % 64 != 0 ||
        h.region_size < BOX_REGION_HEADER_SIZE + 16384 || h.region_count == 0 || h.region_count > 65536 || h.file_size > BOX_MAX_SIZE)
        return problem("damaged black-box header"), false;
    if (h.file_size > size_) problem("the box is truncated: " + number(size_) + " of " + number(h.file_size) + " bytes");
    pid_ = h.pid;
    rate_ = h.ticks_per_second;
    if (rate_ == 0) problem("damaged header: no clock rate; times are shown as counter values");
    strings_offset_ = h.strings_offset;
    uint64_t used = h.strings_used < h.strings_size ? h.strings_used : h.strings_size;
    strings_end_ = strings_offset_ + used;
    if (strings_end_ > size_) strings_end_ = size_;
    regions_offset_ = h.regions_offset;
    region_size_ = h.region_size;
    uint64_t fit = size_ > regions_offset_ ? (size_ - regions_offset_) / region_size_ : 0;
    regions_ = fit < h.region_count ? static_cast<unsigned>(fit) : h.region_count;
    if (regions_ < h.region_count) problem(number(h.region_count - regions_) + " regions lie beyond the end of the file");
    const uint32_t pairs = h.calibration_count < BOX_MAX_CALIBRATIONS ? h.calibration_count : BOX_MAX_CALIBRATIONS;
    for (uint32_t i = 0; i < pairs; ++i) calibrations_.push_back(h.calibrations[i]);
    if (calibrations_.empty()) problem("damaged header: no clock calibration");
    std::string names;
    if (text(h.rank_names, &names)) {
        for (size_t from = 0; from < names.size();) {
            const size_t end = std::min(names.find(' ', from), names.size());
            if (end > from) rank_names_.push_back(names.substr(from, end - from));
            from = end + 1;
        }
    } else {
        problem("damaged header: the names of the additional ranks cannot be read");
    }
    return true;
}

// The latest pair at or before ticks (the first pair for earlier values).
uint64_t box_decoder_c::wall_ns(uint64_t ticks) const {
    if (calibrations_.empty() || rate_ == 0) return ticks;
    const box_calibration_s* c = &calibrations_[0];
    for (const box_calibration_s& p : calibrations_)
        if (p.ticks <= ticks && p.ticks >= c->ticks) c = &p;
    const double delta = (static_cast<double>(ticks) - static_cast<double>(c->ticks)) * 1e9 / static_cast<double>(rate_);
    const double wall = static_cast<double>(c->wall_ns) + delta;
    return wall < 0 ? 0 : static_cast<uint64_t>(wall);
}

bool box_decoder_c::text(uint32_t id, std::string* out) const {
    out->clear();
    if (id == 0) return true;
    const uint64_t at = strings_offset_ + id;
    if (id % 8 != 0 || at + 8 > strings_end_) return false;
    const uint64_t c = __atomic_load_n(reinterpret_cast<const uint64_t*>(data_ + at), __ATOMIC_ACQUIRE);
    const uint64_t length = c & 0xFFFFFFFFu;
    if (c != box_string_commit(BOX_STR_TEXT, static_cast<uint32_t>(length)) || length > BOX_MAX_TEXT || at + 8 + length >= strings_end_) return false;
    out->assign(reinterpret_cast<const char*>(data_ + at + 8), length);
    return out->find('\0') == std::string::npos;
}

bool box_decoder_c::site(uint32_t id, box_event_s* e) const {
    const uint64_t at = strings_offset_ + id;
    if (id == 0 || id % 8 != 0 || at + 8 + sizeof(box_site_s) > strings_end_) return false;
    const uint64_t c = __atomic_load_n(reinterpret_cast<const uint64_t*>(data_ + at), __ATOMIC_ACQUIRE);
    if (c != box_string_commit(BOX_STR_SITE, sizeof(box_site_s))) return false;
    const uint64_t a = word(at + 8), b = word(at + 16);
    e->line = static_cast<uint32_t>(b >> 32);
    return text(static_cast<uint32_t>(a), &e->function) && text(static_cast<uint32_t>(a >> 32), &e->file) &&
           text(static_cast<uint32_t>(b), &e->format);
}

// A record copied out of its ring: its head, then the argument kinds and
// values, which must fill the record exactly.
bool box_decoder_c::decode(const uint64_t* words, uint32_t length, uint64_t commit, box_event_s* e) const {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(words);
    e->kind = static_cast<uint8_t>(box_commit_kind(commit));
    e->ticks = words[1];
    const unsigned rank_number = static_cast<unsigned>((words[2] >> 32) & 0xFF);
    if (rank_number > 32) return false;
    e->rank = rank_number ? 1u << (rank_number - 1) : 0u;
    if (rank_number > ADDITIONAL_RANK_BIT && rank_number - 1 - ADDITIONAL_RANK_BIT < rank_names_.size())
        e->rank_name = rank_names_[rank_number - 1 - ADDITIONAL_RANK_BIT];
    e->written = ((words[2] >> 40) & 1) != 0;
    e->depth = static_cast<unsigned>(words[2] >> 48);
    if (!site(static_cast<uint32_t>(words[2]), e)) return false;
    e->wall_ns = wall_ns(e->ticks);
    const uint32_t count = box_commit_args(commit);
    if (e->kind != BOX_REC_MESSAGE) return count == 0 && length == BOX_RECORD_HEAD && e->rank == 0;
    if (count > BOX_MAX_ARGS || e->rank == 0 || (e->rank & (e->rank - 1)) != 0) return false;
    uint32_t at = BOX_RECORD_HEAD + ((count + 7) & ~7u);
    if (at > length) return false;
    for (uint32_t i = 0; i < count; ++i) {
        box_value_s v;
        v.kind = bytes[BOX_RECORD_HEAD + i];
        v.bits = 0;
        v.cut = 0;
        if (v.kind == BOX_ARG_NULL_STRING) {
        } else if (v.kind == BOX_ARG_STRING) {
            if (at + 8 > length) return false;
            const uint32_t stored = box_load32(bytes + at);
            v.cut = box_load32(bytes + at + 4);
            if (stored > BOX_MAX_STRING || at + 8 + ((stored + 7) & ~7u) > length) return false;
            v.text.assign(reinterpret_cast<const char*>(bytes + at + 8), stored);
            at += 8 + ((stored + 7) & ~7u);
        } else if (v.kind >= BOX_ARG_INT && v.kind <= BOX_ARG_POINTER) {
            if (at + 8 > length) return false;
            v.bits = box_load64(bytes + at);
            at += 8;
        } else {
            return false;
        }
        e->args.push_back(std::move(v));
    }
    return at == length;
}

box_thread_info_s box_decoder_c::thread_of(unsigned i) const {
    box_thread_info_s t{0, ""};
    if (i >= regions_) return t;
    const size_t base = regions_offset_ + static_cast<size_t>(i) * region_size_;
    t.thread_id = word(base + 8);
    if (!text(static_cast<uint32_t>(word(base) >> 32), &t.name)) t.name.clear();
    return t;
}

// From the tail to the head, and on past the head while records are
// committed at their places (the writer may have stopped between a
// record's commit and the head's store). After each record is copied the
// tail is read again: when the writer has moved it past the record, the
// copy may mix two records and is dropped, and the walk goes on from the
// new tail.
void box_decoder_c::read_region(unsigned i, std::vector<box_event_s>* out) {
    if (i >= regions_) return;
    const size_t base = regions_offset_ + static_cast<size_t>(i) * region_size_;
    const uint64_t state = word(base) & 0xFFFFFFFFu;
    if (state == BOX_REGION_FREE) return;
    const uint64_t ring_size = word(base + 16);
    const size_t ring = base + BOX_REGION_HEADER_SIZE;
    const std::string where = "region " + number(i);
    if (ring_size != region_size_ - BOX_REGION_HEADER_SIZE || state > BOX_REGION_RELEASED) return problem(where + ": damaged header");
    const uint64_t thread_id = word(base + 8);
    uint64_t head = __atomic_load_n(reinterpret_cast<const uint64_t*>(data_ + base + 32), __ATOMIC_ACQUIRE);
    uint64_t tail = __atomic_load_n(reinterpret_cast<const uint64_t*>(data_ + base + 24), __ATOMIC_ACQUIRE);
    if (tail > head || head - tail > ring_size || tail % 8 != 0 || head % 8 != 0) return problem(where + ": damaged positions");
    uint64_t words[BOX_MAX_RECORD / 8];
    uint64_t pos = tail;
    size_t skipped = 0;
    for (uint64_t steps = 0; steps <= ring_size / 8; ++steps) {
        const uint64_t off = pos % ring_size;
        const uint64_t commit = __atomic_load_n(reinterpret_cast<const uint64_t*>(data_ + ring + off), __ATOMIC_ACQUIRE);
        const uint32_t length = box_commit_length(commit), kind = box_commit_kind(commit);
        const bool placed = box_commit_at(commit, pos) && length >= 8 && length % 8 == 0 && off + length <= ring_size &&
                            pos + length <= tail + ring_size && kind >= BOX_REC_PAD && kind <= BOX_REC_MESSAGE;
        if (!placed) {
            if (pos < head) {
                const uint64_t now = __atomic_load_n(reinterpret_cast<const uint64_t*>(data_ + base + 24), __ATOMIC_ACQUIRE);
                if (now > pos && now >= tail && now % 8 == 0) {  // overtaken by the writer: go on from its tail
                    pos = tail = now;
                    continue;
                }
                problem(where + ": damaged record at position " + number(pos) + "; the rest of the region is skipped");
            }
            break;
        }
        if (kind == BOX_REC_PAD) {
            if (length != 8) break;
            pos += ring_size - off;
            continue;
        }
        if (length < BOX_RECORD_HEAD) break;
        for (uint32_t k = 0; k < length / 8; ++k) words[k] = word(ring + off + 8 * k);
        const uint64_t now = word(base + 24);
        if (now > pos) {
            if (now % 8 != 0 || now < tail) break;
            pos = tail = now;
            continue;
        }
        box_event_s e;
        e.region = i;
        e.thread_id = thread_id;
        if (decode(words, length, commit, &e))
            out->push_back(std::move(e));
        else
            ++skipped;
        pos += length;
        if (pos > head) head = pos;
    }
    if (skipped) problem(where + ": " + number(skipped) + " records skipped as damaged");
}

void box_decoder_c::read_all(std::vector<box_event_s>* out) {
    for (unsigned i = 0; i < regions_; ++i) read_region(i, out);
}

// One walk over the commit words and head words, keeping the positions of
// the newest n unwritten records; then those records alone are decoded.
void box_decoder_c::read_unwritten(unsigned i, size_t n, std::vector<box_event_s>* out) {
    if (i >= regions_ || n == 0) return;
    const size_t base = regions_offset_ + static_cast<size_t>(i) * region_size_;
    const uint64_t ring_size = word(base + 16);
    if (ring_size != region_size_ - BOX_REGION_HEADER_SIZE) return;
    const size_t ring = base + BOX_REGION_HEADER_SIZE;
    const uint64_t head = word(base + 32), tail = word(base + 24);
    if (tail > head || head - tail > ring_size || tail % 8 != 0) return;
    std::vector<uint64_t> chosen(n);
    size_t count = 0;
    for (uint64_t pos = tail; pos < head;) {
        const uint64_t off = pos % ring_size;
        const uint64_t commit = word(ring + off);
        const uint32_t length = box_commit_length(commit);
        if (!box_commit_at(commit, pos) || length < 8 || length % 8 != 0 || off + length > ring_size) break;
        if (box_commit_kind(commit) == BOX_REC_PAD) {
            pos += ring_size - off;
            continue;
        }
        if (length >= BOX_RECORD_HEAD && !((word(ring + off + 16) >> 40) & BOX_FLAG_WRITTEN)) chosen[count++ % n] = pos;
        pos += length;
    }
    uint64_t words[BOX_MAX_RECORD / 8];
    const uint64_t thread_id = word(base + 8);
    for (size_t k = count > n ? count - n : 0; k < count; ++k) {
        const uint64_t off = chosen[k % n] % ring_size;
        const uint64_t commit = word(ring + off);
        const uint32_t length = box_commit_length(commit);
        for (uint32_t w = 0; w < length / 8; ++w) words[w] = word(ring + off + 8 * w);
        box_event_s e;
        e.region = i;
        e.thread_id = thread_id;
        if (decode(words, length, commit, &e)) out->push_back(std::move(e));
    }
}
