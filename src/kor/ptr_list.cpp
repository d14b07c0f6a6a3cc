// ptr_list_c: doubly linked list of untyped pointers with a cursor.
//
// The list owns its nodes, never the data they point to. Every cursor
// operation works either on the list's own cursor or, when the caller passes
// a position_t, on that external cursor, so that a walk can run without
// disturbing the list's cursor. Removing a node also moves the list's own
// cursor off it, so the list's cursor never dangles; external positions are
// their owners' business.
#include "kor/ptr_list.h"

#include <new>

ptr_list_c::ptr_list_c(bool with_cs)
    : head_(nullptr), tail_(nullptr), cursor_node_(nullptr), count_(0), cs_(nullptr) {
    if (with_cs) cs_ = new (std::nothrow) kor_crit_section_c;
    if (cs_ && !cs_->ok()) {
        // Without a system mutex the list runs unguarded, as one made without.
        delete cs_;
        cs_ = nullptr;
    }
}

ptr_list_c::~ptr_list_c() {
    clear();
    delete cs_;
}

// A locked list is held while it is sorted, so that no walk sees a half
// relinked chain.
void ptr_list_c::_sort_protection_enter() { lock(); }
void ptr_list_c::_sort_protection_leave() { unlock(); }

void ptr_list_c::unlink_(node_s* n) {
    if (n->prev) n->prev->next = n->next;
    else head_ = n->next;
    if (n->next) n->next->prev = n->prev;
    else tail_ = n->prev;
    n->prev = n->next = nullptr;
    --count_;
}

// Links n before `before`; a null `before` links it at the end.
void ptr_list_c::link_before_(node_s* n, node_s* before) {
    n->next = before;
    if (before) {
        n->prev = before->prev;
        if (before->prev) before->prev->next = n;
        else head_ = n;
        before->prev = n;
    } else {
        n->prev = tail_;
        if (tail_) tail_->next = n;
        else head_ = n;
        tail_ = n;
    }
    ++count_;
}

bool ptr_list_c::copy(const ptr_list_c& other) {
    if (&other == this) return true;
    clear();
    for (node_s* n = other.head_; n; n = n->next) {
        node_s* c = new (std::nothrow) node_s{n->data, nullptr, nullptr};
        if (!c) return false;
        link_before_(c, nullptr);
    }
    return true;
}

void* ptr_list_c::first(position_t* pos) {
    node_s*& c = cursor_(pos);
    c = head_;
    return c ? c->data : nullptr;
}

void* ptr_list_c::last(position_t* pos) {
    node_s*& c = cursor_(pos);
    c = tail_;
    return c ? c->data : nullptr;
}

// Past the end the cursor stays cleared: a further next() is null as well.
void* ptr_list_c::next(position_t* pos) {
    node_s*& c = cursor_(pos);
    if (c) c = c->next;
    return c ? c->data : nullptr;
}

void* ptr_list_c::prev(position_t* pos) {
    node_s*& c = cursor_(pos);
    if (c) c = c->prev;
    return c ? c->data : nullptr;
}

void* ptr_list_c::current(position_t* pos) {
    node_s* c = cursor_(pos);
    return c ? c->data : nullptr;
}

bool ptr_list_c::set_data(void* data, position_t* pos) {
    node_s* c = cursor_(pos);
    if (!c) return false;
    c->data = data;
    return true;
}

// Stable merge sort on the nodes themselves: the nodes are relinked, never
// copied, so the cursor and external positions stay on their elements.
void ptr_list_c::sort(compare_f compare) {
    if (!compare || count_ < 2) return;
    _sort_protection_enter();
    node_s* list = head_;
    for (unsigned width = 1;; width *= 2) {
        node_s* result = nullptr;
        node_s* result_tail = nullptr;
        node_s* p = list;
        unsigned merges = 0;
        while (p) {
            ++merges;
            node_s* q = p;
            unsigned psize = 0;
            for (unsigned i = 0; i < width && q; ++i) {
                q = q->next;
                ++psize;
            }
            unsigned qsize = width;
            while (psize > 0 || (qsize > 0 && q)) {
                node_s* e;
                // Take from the left run on ties: that keeps the sort stable.
                if (psize == 0) {
                    e = q;
                    q = q->next;
                    --qsize;
                } else if (qsize == 0 || !q) {
                    e = p;
                    p = p->next;
                    --psize;
                } else if (compare(p->data, q->data) <= 0) {
                    e = p;
                    p = p->next;
                    --psize;
                } else {
                    e = q;
                    q = q->next;
                    --qsize;
                }
                e->next = nullptr;
                e->prev = result_tail;
                if (result_tail) result_tail->next = e;
                else result = e;
                result_tail = e;
            }
            p = q;
        }
        list = result;
        if (merges <= 1) {
            head_ = result;
            tail_ = result_tail;
            break;
        }
    }
    _sort_protection_leave();
}

void* ptr_list_c::remove_current(position_t* pos) {
    node_s*& c = cursor_(pos);
    node_s* n = c;
    if (!n) return nullptr;
    node_s* following = n->next;
    if (cursor_node_ == n) cursor_node_ = following;
    c = following;
    unlink_(n);
    delete n;
    return following ? following->data : nullptr;
}

void* ptr_list_c::remove_current_move_back(position_t* pos) {
    node_s*& c = cursor_(pos);
    node_s* n = c;
    if (!n) return nullptr;
    node_s* preceding = n->prev;
    if (cursor_node_ == n) cursor_node_ = preceding;
    c = preceding;
    unlink_(n);
    delete n;
    return preceding ? preceding->data : nullptr;
}

// Not found: null, and the cursor is cleared.
void* ptr_list_c::find_data(const void* data) {
    for (node_s* n = head_; n; n = n->next) {
        if (n->data == data) {
            cursor_node_ = n;
            return n->data;
        }
    }
    cursor_node_ = nullptr;
    return nullptr;
}

// The search includes the element under the cursor. Not found: null, and
// the cursor is cleared.
void* ptr_list_c::find_data(match_f match, void* context, bool forward) {
    if (!match) return nullptr;
    node_s* n = cursor_node_ ? cursor_node_ : (forward ? head_ : tail_);
    for (; n; n = forward ? n->next : n->prev) {
        if (match(n->data, context)) {
            cursor_node_ = n;
            return n->data;
        }
    }
    cursor_node_ = nullptr;
    return nullptr;
}

void ptr_list_c::append(void* data) {
    node_s* n = new (std::nothrow) node_s{data, nullptr, nullptr};
    if (n) link_before_(n, nullptr);
}

void ptr_list_c::insert(void* data) {
    node_s* n = new (std::nothrow) node_s{data, nullptr, nullptr};
    if (n) link_before_(n, head_);
}

bool ptr_list_c::move_current(bool to_front) {
    node_s* n = cursor_node_;
    if (!n) return false;
    unlink_(n);
    link_before_(n, to_front ? head_ : nullptr);
    return true;
}

namespace {
ptr_list_c::node_s* find_node(ptr_list_c::node_s* head, const void* data) {
    for (ptr_list_c::node_s* n = head; n; n = n->next)
        if (n->data == data) return n;
    return nullptr;
}
}

bool ptr_list_c::move_before_current(void* data) {
    node_s* c = cursor_node_;
    if (!c) return false;
    node_s* n = find_node(head_, data);
    if (!n || n == c) return false;
    unlink_(n);
    link_before_(n, c);
    return true;
}

bool ptr_list_c::move_after_current(void* data) {
    node_s* c = cursor_node_;
    if (!c) return false;
    node_s* n = find_node(head_, data);
    if (!n || n == c) return false;
    unlink_(n);
    link_before_(n, c->next);
    return true;
}

void ptr_list_c::insert_before_current(void* data, position_t* pos) {
    node_s* c = cursor_(pos);
    node_s* n = new (std::nothrow) node_s{data, nullptr, nullptr};
    if (n) link_before_(n, c ? c : head_);
}

void ptr_list_c::insert_after_current(void* data, position_t* pos) {
    node_s* c = cursor_(pos);
    node_s* n = new (std::nothrow) node_s{data, nullptr, nullptr};
    if (n) link_before_(n, c ? c->next : nullptr);
}

void ptr_list_c::swap_elements(ptr_list_c& other) {
    node_s* head = head_;
    node_s* tail = tail_;
    unsigned count = count_;
    head_ = other.head_;
    tail_ = other.tail_;
    count_ = other.count_;
    other.head_ = head;
    other.tail_ = tail;
    other.count_ = count;
    cursor_node_ = other.cursor_node_ = nullptr;
}

void ptr_list_c::clear() {
    node_s* n = head_;
    while (n) {
        node_s* following = n->next;
        delete n;
        n = following;
    }
    head_ = tail_ = cursor_node_ = nullptr;
    count_ = 0;
}

void ptr_list_c::lock() {
    if (cs_) cs_->enter();
}

void ptr_list_c::unlock() {
    if (cs_) cs_->leave();
}

bool ptr_list_c::replace_positions(unsigned a, unsigned b) {
    if (a >= count_ || b >= count_) return false;
    node_s* na = nullptr;
    node_s* nb = nullptr;
    unsigned i = 0;
    for (node_s* n = head_; n; n = n->next, ++i) {
        if (i == a) na = n;
        if (i == b) nb = n;
    }
    void* t = na->data;
    na->data = nb->data;
    nb->data = t;
    return true;
}
