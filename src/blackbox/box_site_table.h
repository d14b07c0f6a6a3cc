// The sites a box knows, found by their addresses without a lock: each
// entry holds a site's string-table id and, for a message site, the plan of
// its format's arguments. The table has a fixed number of entries, made
// once with the box; when it is full, events at new sites are not recorded.
#ifndef KATRACE_BOX_SITE_TABLE_H
#define KATRACE_BOX_SITE_TABLE_H

#include <atomic>
#include <cstdint>

#include "blackbox/box_arguments.h"

// A site's identity: the host's mask variable, the format (null for the
// enter/leave site), the function name's address and the line. Sites whose
// names live in temporary buffers put a hash of the names in place of the
// function's address.
struct box_site_key_s {
    const void* mask;
    const void* format;
    uintptr_t function;
    intptr_t line;
    bool operator==(const box_site_key_s& o) const {
        return mask == o.mask && format == o.format && function == o.function && line == o.line;
    }
};

struct alignas(64) box_site_entry_s {
    std::atomic<uint32_t> state;  // 0 free, 1 being filled, 2 ready
    uint32_t site;                // string id of the site, 0 when the string table is full
    box_site_key_s key;
    box_plan_s plan;
};

class box_site_table_c {
public:
    static const unsigned ENTRIES = 32768;
    static const unsigned PROBES = 64;
    box_site_table_c();
    ~box_site_table_c();
    box_site_table_c(const box_site_table_c&) = delete;
    box_site_table_c& operator=(const box_site_table_c&) = delete;
    bool ok() const { return entries_ != nullptr; }
    // The ready entry of key; null when there is none.
    const box_site_entry_s* find(const box_site_key_s& key) const;
    // Claims a free entry for key: the caller fills site and plan, then
    // calls publish. Null when the probed entries are all taken.
    box_site_entry_s* claim(const box_site_key_s& key);
    static void publish(box_site_entry_s* e) { e->state.store(2, std::memory_order_release); }

private:
    unsigned start(const box_site_key_s& key) const;
    box_site_entry_s* entries_;
};

#endif
