// The string table: texts and sites appended once, each published by a
// release store of its commit word after its bytes.
#include <cstring>

#include "blackbox/box_state.h"

namespace {

// Reserves span bytes of the table; its offset, or 0 when the table is
// full (the bytes handed out may then exceed the table: readers clamp).
uint64_t reserve(box_recorder_s* r, uint64_t span) {
    const uint64_t at = __atomic_fetch_add(&r->header->strings_used, span, __ATOMIC_RELAXED);
    if (at > r->header->strings_size || span > r->header->strings_size - at) return 0;
    return at;
}

uint32_t append(box_recorder_s* r, box_string_kind_e kind, const void* bytes, uint32_t length, bool nul) {
    const uint64_t span = box_string_span(length, nul);
    const uint64_t at = reserve(r, span);
    if (at == 0) return 0;
    unsigned char* e = r->strings + at;
    memcpy(e + 8, bytes, length);
    memset(e + 8 + length, 0, span - 8 - length);
    box_store(reinterpret_cast<uint64_t*>(e), box_string_commit(kind, length), __ATOMIC_RELEASE);
    return static_cast<uint32_t>(at);
}

size_t text_length(const char* text) {
    size_t n = 0;
    while (n < BOX_MAX_TEXT && text[n]) ++n;
    return n;
}

// Whether the entry at id holds exactly these bytes.
bool holds(box_recorder_s* r, uint32_t id, const char* text, size_t length) {
    const uint64_t c = box_load(reinterpret_cast<const uint64_t*>(r->strings + id), __ATOMIC_ACQUIRE);
    return c == box_string_commit(BOX_STR_TEXT, static_cast<uint32_t>(length)) && memcmp(r->strings + id + 8, text, length) == 0;
}

}  // namespace

uint32_t box_text_id(box_recorder_s* r, const char* text) {
    if (!r || !text) return 0;
    const size_t length = text_length(text);
    const uintptr_t key = reinterpret_cast<uintptr_t>(text);
    const unsigned start = static_cast<unsigned>((key >> 3) ^ (key >> 15)) % BOX_TEXT_SLOTS;
    box_text_slot_s* free_slot = nullptr;
    for (unsigned i = 0; i < BOX_TEXT_PROBES; ++i) {
        box_text_slot_s& s = r->slots[(start + i) % BOX_TEXT_SLOTS];
        const char* seen = s.text.load(std::memory_order_acquire);
        if (seen == text) {
            const uint32_t id = s.id.load(std::memory_order_acquire);
            if (id != 0 && holds(r, id, text, length)) return id;
            free_slot = &s;  // the address now holds other bytes: written again below
            break;
        }
        if (!seen && !free_slot) free_slot = &s;
        if (!seen) break;
    }
    const uint32_t id = append(r, BOX_STR_TEXT, text, static_cast<uint32_t>(length), true);
    if (id != 0 && free_slot) {
        const char* expected = nullptr;
        if (free_slot->text.compare_exchange_strong(expected, text, std::memory_order_acq_rel) || expected == text)
            free_slot->id.store(id, std::memory_order_release);
    }
    return id;
}

uint32_t box_site_id(box_recorder_s* r, const char* function, const char* file, unsigned line, const char* format) {
    if (!r) return 0;
    box_site_s site;
    site.function = box_text_id(r, function);
    site.file = box_text_id(r, file);
    site.format = box_text_id(r, format);
    site.line = line;
    return append(r, BOX_STR_SITE, &site, sizeof site, false);
}
