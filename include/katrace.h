/* katrace public interface: the one header a host includes.
 * Compiles as C++11. Everything not declared here is private to the library. */
#ifndef KATRACE_H
#define KATRACE_H

#if defined(_WIN32)
#  if defined(KATRACE_BUILDING)
#    define KATR_API __declspec(dllexport)
#  else
#    define KATR_API __declspec(dllimport)
#  endif
typedef wchar_t katr_wchar_t;
#else
#  define KATR_API __attribute__((visibility("default")))
typedef char16_t katr_wchar_t;
#endif

/* Rank bits of the fixed ranks. */
#define KATR_RANK_TRACE       0x0001u
#define KATR_RANK_FATAL       0x0002u
#define KATR_RANK_ERROR       0x0004u
#define KATR_RANK_WARNING     0x0008u
#define KATR_RANK_LOG         0x0010u
#define KATR_RANK_NOTE        0x0020u
#define KATR_RANK_VAR         0x0040u
#define KATR_RANK_DEBUG       0x0080u
#define KATR_RANK_DEVELOPMENT 0x0100u
#define KATR_RANK_QA          0x0200u
#define KATR_RANK_USER1       0x0400u
#define KATR_RANK_USER2       0x0800u
#define KATR_RANK_USER3       0x1000u
#define KATR_RANK_SNC         0x2000u
#define KATR_RANK_ALL         0xFFFFFFFFu

extern "C" {
/* Gives the calling thread a name and an application-level id; the library
 * reports them in thread banners and matches them against thread rules.
 * A null name keeps the operating system's name. */
KATR_API void katr_set_thread_info(const char* name, unsigned long appl_id);
}

#endif /* KATRACE_H */
