// single_writer_multi_reader_c: a reader-writer lock, not recursive. Hold it
// with single_writer_lock_c (exclusive) or multi_reader_lock_c (shared).
#ifndef KATRACE_RW_LOCK_H
#define KATRACE_RW_LOCK_H

#include <shared_mutex>

class single_writer_multi_reader_c {
public:
    void lock_write() { m_.lock(); }
    void unlock_write() { m_.unlock(); }
    void lock_read() { m_.lock_shared(); }
    void unlock_read() { m_.unlock_shared(); }
private:
    std::shared_mutex m_;
};

class single_writer_lock_c {
public:
    explicit single_writer_lock_c(single_writer_multi_reader_c& l) : l_(l) { l_.lock_write(); }
    ~single_writer_lock_c() { l_.unlock_write(); }
    single_writer_lock_c(const single_writer_lock_c&) = delete;
    single_writer_lock_c& operator=(const single_writer_lock_c&) = delete;
private:
    single_writer_multi_reader_c& l_;
};

class multi_reader_lock_c {
public:
    explicit multi_reader_lock_c(single_writer_multi_reader_c& l) : l_(l) { l_.lock_read(); }
    ~multi_reader_lock_c() { l_.unlock_read(); }
    multi_reader_lock_c(const multi_reader_lock_c&) = delete;
    multi_reader_lock_c& operator=(const multi_reader_lock_c&) = delete;
private:
    single_writer_multi_reader_c& l_;
};

#endif
