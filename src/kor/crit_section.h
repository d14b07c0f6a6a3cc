// kor_crit_section_c: a recursive mutual-exclusion section (the same thread
// may enter it again); kor_lock_c holds one for its own lifetime.
#ifndef KATRACE_CRIT_SECTION_H
#define KATRACE_CRIT_SECTION_H

#include <mutex>

class kor_crit_section_c {
public:
    void enter() { m_.lock(); }
    void leave() { m_.unlock(); }
private:
    std::recursive_mutex m_;
};

class kor_lock_c {
public:
    // A null section is accepted and holds nothing.
    explicit kor_lock_c(kor_crit_section_c* cs) : cs_(cs) { if (cs_) cs_->enter(); }
    ~kor_lock_c() { if (cs_) cs_->leave(); }
    kor_lock_c(const kor_lock_c&) = delete;
    kor_lock_c& operator=(const kor_lock_c&) = delete;
private:
    kor_crit_section_c* cs_;
};

#endif
