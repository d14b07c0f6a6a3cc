// kor_thread_c: identity of the calling thread as the support library knows it.
#ifndef KATRACE_KOR_THREAD_H
#define KATRACE_KOR_THREAD_H

// Size of the buffers a thread's names are kept in (longer names are cut).
const unsigned KOR_THREAD_NAME_SIZE = 256;

class kor_thread_c {
public:
    // The system id of the calling thread.
    static unsigned long curr_thread_id();
    // Whether two ids denote one thread (every id comparison goes through here).
    static bool are_same_threads(unsigned long a, unsigned long b);
    // The calling thread's system id, name and application id. The name is
    // the one the host gave through katr_set_thread_info, else the OS name,
    // else null; the text belongs to the calling thread and stays valid until
    // it sets or reads its name again or ends. The application id is 0 unless
    // the host gave one. Any out pointer may be null.
    static bool get_current_thread(unsigned long* id, const char** name, unsigned long* appl_id);
    // Records the host-given name (copied; null or empty: the OS name is
    // reported again) and the application id of the calling thread.
    static void set_current_thread_info(const char* name, unsigned long appl_id);
};

#endif
