// kor_crit_section_c: a recursive mutual-exclusion section (the same thread
// may enter it again); kor_lock_c holds one for its own lifetime. It never
// throws; while it is held (or awaited) the thread counts as busy.
#ifndef KATRACE_CRIT_SECTION_H
#define KATRACE_CRIT_SECTION_H

#include "platform/platform.h"

class kor_crit_section_c {
public:
    kor_crit_section_c() : m_(plat_mutex_create()) {}
    ~kor_crit_section_c() { plat_mutex_destroy(m_); }
    kor_crit_section_c(const kor_crit_section_c&) = delete;
    kor_crit_section_c& operator=(const kor_crit_section_c&) = delete;
    // False when the system mutex could not be made (no memory).
    bool ok() const { return m_ != nullptr; }
    void enter() { plat_mutex_enter(m_); }
    void leave() { plat_mutex_leave(m_); }
    // In a forked child, frees the section the forking thread held once.
    void reset_in_child() { plat_mutex_reset_in_child(m_); }
private:
    plat_mutex_s* m_;
};

class kor_lock_c {
public:
    // A null section is accepted and holds nothing.
    explicit kor_lock_c(kor_crit_section_c* cs) : cs_(cs) {
        if (cs_) cs_->enter();
    }
    ~kor_lock_c() {
        if (cs_) cs_->leave();
    }
    kor_lock_c(const kor_lock_c&) = delete;
    kor_lock_c& operator=(const kor_lock_c&) = delete;
private:
    kor_crit_section_c* cs_;
};

#endif
