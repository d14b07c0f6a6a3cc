// single_writer_multi_reader_c: a reader-writer lock, not recursive. Hold it
// with single_writer_lock_c (exclusive) or multi_reader_lock_c (shared). It
// never throws; while it is held (or awaited) the thread counts as busy.
#ifndef KATRACE_RW_LOCK_H
#define KATRACE_RW_LOCK_H

#include "kor/thread_annotations.h"
#include "platform/platform.h"

class KATR_CAPABILITY("mutex") single_writer_multi_reader_c {
public:
    single_writer_multi_reader_c() : l_(plat_rwlock_create()) {}
    ~single_writer_multi_reader_c() { plat_rwlock_destroy(l_); }
    single_writer_multi_reader_c(const single_writer_multi_reader_c&) = delete;
    single_writer_multi_reader_c& operator=(const single_writer_multi_reader_c&) = delete;
    // False when the system lock could not be made (no memory).
    bool ok() const { return l_ != nullptr; }
    void lock_write() KATR_ACQUIRE() { plat_rwlock_write(l_); }
    void unlock_write() KATR_RELEASE() { plat_rwlock_write_unlock(l_); }
    void lock_read() KATR_ACQUIRE_SHARED() { plat_rwlock_read(l_); }
    void unlock_read() KATR_RELEASE_SHARED() { plat_rwlock_read_unlock(l_); }
    // In a forked child, frees the lock the forking thread held for writing.
    void reset_in_child() KATR_RELEASE() { plat_rwlock_reset_in_child(l_); }
private:
    plat_rwlock_s* l_;
};

class KATR_SCOPED_CAPABILITY single_writer_lock_c {
public:
    explicit single_writer_lock_c(single_writer_multi_reader_c& l) KATR_ACQUIRE(l) : l_(l) { l_.lock_write(); }
    ~single_writer_lock_c() KATR_RELEASE() { l_.unlock_write(); }
    single_writer_lock_c(const single_writer_lock_c&) = delete;
    single_writer_lock_c& operator=(const single_writer_lock_c&) = delete;
private:
    single_writer_multi_reader_c& l_;
};

class KATR_SCOPED_CAPABILITY multi_reader_lock_c {
public:
    explicit multi_reader_lock_c(single_writer_multi_reader_c& l) KATR_ACQUIRE_SHARED(l) : l_(l) { l_.lock_read(); }
    ~multi_reader_lock_c() KATR_RELEASE() { l_.unlock_read(); }
    multi_reader_lock_c(const multi_reader_lock_c&) = delete;
    multi_reader_lock_c& operator=(const multi_reader_lock_c&) = delete;
private:
    single_writer_multi_reader_c& l_;
};

#endif
