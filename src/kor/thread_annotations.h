// Thread-safety annotations for clang's -Wthread-safety analysis: what each
// lock guards and what each function requires. Other compilers see nothing.
#ifndef KATRACE_THREAD_ANNOTATIONS_H
#define KATRACE_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#  define KATR_TSA_(x) __attribute__((x))
#else
#  define KATR_TSA_(x)
#endif

#define KATR_CAPABILITY(name)     KATR_TSA_(capability(name))
#define KATR_SCOPED_CAPABILITY    KATR_TSA_(scoped_lockable)
#define KATR_GUARDED_BY(lock)     KATR_TSA_(guarded_by(lock))
#define KATR_PT_GUARDED_BY(lock)  KATR_TSA_(pt_guarded_by(lock))
#define KATR_REQUIRES(...)        KATR_TSA_(requires_capability(__VA_ARGS__))
#define KATR_REQUIRES_SHARED(...) KATR_TSA_(requires_shared_capability(__VA_ARGS__))
#define KATR_ACQUIRE(...)         KATR_TSA_(acquire_capability(__VA_ARGS__))
#define KATR_ACQUIRE_SHARED(...)  KATR_TSA_(acquire_shared_capability(__VA_ARGS__))
#define KATR_RELEASE(...)         KATR_TSA_(release_capability(__VA_ARGS__))
#define KATR_RELEASE_SHARED(...)  KATR_TSA_(release_shared_capability(__VA_ARGS__))
#define KATR_EXCLUDES(...)        KATR_TSA_(locks_excluded(__VA_ARGS__))
// For the few functions whose locking the analysis cannot follow (a lock
// taken in one function and released in another, around fork).
#define KATR_NO_THREAD_SAFETY_ANALYSIS KATR_TSA_(no_thread_safety_analysis)

#endif
