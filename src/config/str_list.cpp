// str_list_c: an unlocked list owning copies of NUL-terminated strings.
#include "config/str_list.h"

#include <cstring>

#include "config/rank_tables.h"

str_list_c::~str_list_c() {
    // From the last element to the first; an element may be a null string.
    while (num() > 0) {
        char* s = static_cast<char*>(last());
        remove_current();
        delete[] s;
    }
}

void str_list_c::append(void* data) {
    ptr_list_c::append(data);
}

void str_list_c::insert(void* data) {
    ptr_list_c::insert(data);
}

char* str_list_c::copy_string(const char* text) {
    if (!text)
        return nullptr;
    size_t n = std::strlen(text);
    char* s = new char[n + 1];
    std::memcpy(s, text, n + 1);
    return s;
}

void str_list_c::append_string(const char* text) {
    append(copy_string(text));
}

void str_list_c::insert_string(const char* text) {
    insert(copy_string(text));
}

char* str_list_c::find_string(const char* text, bool exact) {
    if (!text)
        return nullptr;
    unsigned n = num();
    void* e = first();
    for (unsigned i = 0; i < n; ++i, e = next()) {
        const char* s = static_cast<const char*>(e);
        if (s && (exact ? std::strcmp(s, text) == 0 : text_stricmp(s, text) == 0))
            return static_cast<char*>(e);
    }
    return nullptr;
}

unsigned str_list_c::string_position(const char* text, bool exact) {
    if (!text)
        return 0;
    // An own position leaves the list's cursor alone: readers holding the
    // manager's reader lock may look names up at the same time.
    position_t pos = nullptr;
    unsigned n = num();
    void* e = first(&pos);
    for (unsigned i = 0; i < n; ++i, e = next(&pos)) {
        const char* s = static_cast<const char*>(e);
        if (s && (exact ? std::strcmp(s, text) == 0 : text_stricmp(s, text) == 0))
            return i + 1;
    }
    return 0;
}

char* str_list_c::remove_current_string() {
    char* s = static_cast<char*>(current());
    void* following = remove_current();
    delete[] s;
    return static_cast<char*>(following);
}
