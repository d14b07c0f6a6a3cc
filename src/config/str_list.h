// str_list_c: a list without a critical section that owns NUL-terminated
// strings (each a copy allocated as a character array).
#ifndef KATRACE_CONFIG_STR_LIST_H
#define KATRACE_CONFIG_STR_LIST_H

#include "kor/ptr_list.h"

class str_list_c : public ptr_list_c {
public:
    str_list_c() : ptr_list_c(false) {}
    // Frees every string, from the last to the first.
    ~str_list_c() override;
    // Same behaviour as the base; elements must be strings allocated with new[].
    void append(void* data) override;
    void insert(void* data) override;

    // Appends a copy of text at the end; a null text appends a null element.
    virtual void append_string(const char* text);
    // Inserts a copy of text at the front; a null text inserts a null element.
    virtual void insert_string(const char* text);
    // Walks from first(): the first element equal to text (byte-wise when
    // exact, else ignoring ASCII case), with the cursor left on it; null when
    // none or when text is null.
    virtual char* find_string(const char* text, bool exact);
    // The same comparison: 1-based position of the first equal element; 0
    // when none or when text is null. Leaves the list's cursor alone, so
    // that concurrent readers may call it.
    virtual unsigned string_position(const char* text, bool exact);

    // Unlinks the element under the cursor and frees its string; returns the
    // next element (cursor on it), null at the end.
    char* remove_current_string();

    // A copy of text allocated with new[]; null for a null text.
    static char* copy_string(const char* text);
};

#endif
