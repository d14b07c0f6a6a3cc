// Open addressing over a fixed array: an entry is claimed with a
// compare-and-swap of its state, filled by its claimer, and published with
// a release store; readers only trust published entries.
#include "blackbox/box_site_table.h"

#include <cstdlib>

// calloc: the table's pages are touched only where entries are used.
box_site_table_c::box_site_table_c() : entries_(static_cast<box_site_entry_s*>(std::calloc(ENTRIES, sizeof(box_site_entry_s)))) {}

box_site_table_c::~box_site_table_c() { std::free(entries_); }

// One multiply: the key's words summed (a site's mask variable is its own,
// so the sum rarely meets another site's) and the product's top bits taken.
unsigned box_site_table_c::start(const box_site_key_s& key) const {
    static_assert(ENTRIES == 1u << 15, "the start takes the product's top 15 bits");
    const uint64_t sum = reinterpret_cast<uintptr_t>(key.mask) + reinterpret_cast<uintptr_t>(key.format) + key.function +
                         static_cast<uint64_t>(key.line);
    return static_cast<unsigned>((sum * 0x9E3779B97F4A7C15ull) >> (64 - 15));
}

const box_site_entry_s* box_site_table_c::find(const box_site_key_s& key) const {
    if (!entries_) return nullptr;
    const unsigned s = start(key);
    for (unsigned i = 0; i < PROBES; ++i) {
        const box_site_entry_s& e = entries_[(s + i) % ENTRIES];
        const uint32_t state = e.state.load(std::memory_order_acquire);
        if (state == 0) return nullptr;
        if (state == 2 && e.key == key) return &e;
    }
    return nullptr;
}

box_site_entry_s* box_site_table_c::claim(const box_site_key_s& key) {
    if (!entries_) return nullptr;
    const unsigned s = start(key);
    for (unsigned i = 0; i < PROBES; ++i) {
        box_site_entry_s& e = entries_[(s + i) % ENTRIES];
        uint32_t expected = 0;
        if (e.state.load(std::memory_order_relaxed) == 0 &&
            e.state.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed)) {
            e.key = key;
            return &e;
        }
    }
    return nullptr;
}
