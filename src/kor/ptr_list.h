// ptr_list_c: a doubly linked list of untyped pointers with a cursor; the
// list does not own what its elements point to. A list built with
// ptr_list_c(true) carries a critical section (cs()) that callers hold with
// kor_lock_c around every walk of a shared list; the "locked" operations
// (lock/unlock) take the same section.
#ifndef KATRACE_PTR_LIST_H
#define KATRACE_PTR_LIST_H

#include "kor/crit_section.h"

class ptr_list_c {
public:
    // Orders two elements for sort: negative, zero or positive.
    typedef int (*compare_f)(const void* a, const void* b);
    // Tells whether an element is the one searched for.
    typedef bool (*match_f)(const void* data, void* context);

    struct node_s {
        void* data;
        node_s* prev;
        node_s* next;
    };
    // An external cursor: walks that must not disturb the list's own cursor
    // pass one of these; a null position means the list's own cursor.
    typedef node_s* position_t;

    explicit ptr_list_c(bool with_cs = false);

    // The virtual operations, in slot order.
    virtual void _sort_protection_enter();
    virtual void _sort_protection_leave();
    virtual ~ptr_list_c();
    // Replaces the content by the other list's pointers (shallow); true on
    // success. The cursor is cleared.
    virtual bool copy(const ptr_list_c& other);
    // Set the cursor to the first/last element and return it; null when empty.
    virtual void* first(position_t* pos = nullptr);
    virtual void* last(position_t* pos = nullptr);
    // Step the cursor; null (cursor cleared) past the end.
    virtual void* next(position_t* pos = nullptr);
    virtual void* prev(position_t* pos = nullptr);
    // The element under the cursor, null when none.
    virtual void* current(position_t* pos = nullptr);
    // Replaces the data under the cursor; false when there is no cursor.
    virtual bool set_data(void* data, position_t* pos = nullptr);
    // Stable sort by the comparer.
    virtual void sort(compare_f compare);
    // Unlinks the element under the cursor (the caller frees it), moves the
    // cursor to the following element and returns that; null at the end.
    virtual void* remove_current(position_t* pos = nullptr);
    // The same, but the cursor moves to the preceding element.
    virtual void* remove_current_move_back(position_t* pos = nullptr);
    // Finds the first element holding data; cursor set on it. Null (and the
    // cursor cleared) when absent.
    virtual void* find_data(const void* data);
    // Finds from the cursor, its own element included (or from the start/end
    // when there is no cursor), forward or backward the first element for
    // which match says true; cursor set on it. Null (cursor cleared) when none.
    virtual void* find_data(match_f match, void* context, bool forward);
    virtual void append(void* data);
    virtual void insert(void* data);
    // Moves the element under the cursor to the front (to_front) or the end;
    // the cursor stays on it. False when there is no cursor.
    virtual bool move_current(bool to_front);
    // Moves the element holding data before / after the cursor's element.
    virtual bool move_before_current(void* data);
    virtual bool move_after_current(void* data);
    // Inserts before / after the cursor; with no cursor, at the front / end.
    // The cursor stays where it was.
    virtual void insert_before_current(void* data, position_t* pos = nullptr);
    virtual void insert_after_current(void* data, position_t* pos = nullptr);
    // Unlinks every element (frees nothing they point to).
    virtual void clear();
    // Takes / releases the list's critical section (no-op for an unlocked list).
    virtual void lock();
    virtual void unlock();
    // Swaps the elements at two 0-based positions; false when out of range.
    virtual bool replace_positions(unsigned a, unsigned b);

    // Exchanges the elements (not the critical sections) with other in
    // O(1); both cursors are cleared. The caller keeps both lists from use
    // meanwhile.
    void swap_elements(ptr_list_c& other);

    // Number of elements.
    unsigned num() const { return count_; }
    // The critical section, null for an unlocked list.
    kor_crit_section_c* cs() { return cs_; }

private:
    ptr_list_c(const ptr_list_c&) = delete;
    ptr_list_c& operator=(const ptr_list_c&) = delete;
    void unlink_(node_s* n);
    void link_before_(node_s* n, node_s* before);
    node_s*& cursor_(position_t* pos) { return pos ? *pos : cursor_node_; }

    node_s* head_;
    node_s* tail_;
    node_s* cursor_node_;
    unsigned count_;
    kor_crit_section_c* cs_;
};

#endif
