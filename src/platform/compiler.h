// Compiler builtins behind one name each, for GCC and clang and for MSVC:
// relaxed atomic access to plain variables the library shares with hosts
// (a trace site's two variables, the published generation pointer and
// state flags), the lowest set bit, and the branch hint. The rest of the
// library uses these names only; the OS backends may use their own
// compiler's builtins.
#ifndef KATRACE_COMPILER_H
#define KATRACE_COMPILER_H

#if defined(_MSC_VER) && !defined(__clang__)
#  include <intrin.h>
#  pragma intrinsic(_BitScanForward)
#endif

#if defined(_MSC_VER) && !defined(__clang__)
#  define KATR_LIKELY(x)   (x)
#  define KATR_UNLIKELY(x) (x)
#else
#  define KATR_LIKELY(x)   __builtin_expect(!!(x), 1)
#  define KATR_UNLIKELY(x) __builtin_expect(!!(x), 0)
#endif

// Relaxed load and store of an aligned 32-bit value or pointer. On x86-64
// MSVC an aligned volatile access of that size is one plain move, which is
// what the GCC builtins compile to as well.
template <class T>
inline T katr_load_relaxed(const T* p) {
#if defined(_MSC_VER) && !defined(__clang__)
    return *static_cast<const volatile T*>(p);
#else
    return __atomic_load_n(p, __ATOMIC_RELAXED);
#endif
}

template <class T>
inline void katr_store_relaxed(T* p, T value) {
#if defined(_MSC_VER) && !defined(__clang__)
    *static_cast<volatile T*>(p) = value;
#else
    __atomic_store_n(p, value, __ATOMIC_RELAXED);
#endif
}

// A store that no earlier store passes (a plain store on x86-64).
template <class T>
inline void katr_store_release(T* p, T value) {
#if defined(_MSC_VER) && !defined(__clang__)
    *static_cast<volatile T*>(p) = value;
#else
    __atomic_store_n(p, value, __ATOMIC_RELEASE);
#endif
}

// Replaces *p by desired when it holds expected; true when it did.
template <class T>
inline bool katr_compare_exchange_pointer(T** p, T* expected, T* desired) {
#if defined(_MSC_VER) && !defined(__clang__)
    return _InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(const_cast<void**>(
                                                  reinterpret_cast<const void* const*>(p))),
                                              const_cast<void*>(static_cast<const void*>(desired)),
                                              const_cast<void*>(static_cast<const void*>(expected))) == expected;
#else
    return __atomic_compare_exchange_n(p, &expected, desired, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED);
#endif
}

// The index of the lowest set bit of a value that is not 0.
inline unsigned katr_lowest_bit(unsigned value) {
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long index;
    _BitScanForward(&index, value);
    return static_cast<unsigned>(index);
#else
    return static_cast<unsigned>(__builtin_ctz(value));
#endif
}

// A thread_local of the library read on a hot path: on ELF the initial-exec
// model makes it one load off the thread pointer instead of a call to
// __tls_get_addr (the library is linked at start or loaded early, and the
// static TLS it takes is a few words).
#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#  define KATR_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#  define KATR_FAST_TLS
#endif

#endif
