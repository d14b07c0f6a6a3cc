// Free-function exports of the trace front end: the UTF-16 wrappers, the
// initialisation entry, the console test and the runtime switches.
#include <cstdio>
#include <cstring>
#include <new>

#include "front/output.h"
#include "katrace.h"
#include "kor/api_call.h"
#include "manager/trace_manager.h"
#include "platform/platform.h"
#include "support/tr_stream.h"
#include "support/utf.h"

namespace {

// Call-site variables of the two wrappers, one pair each for the whole
// process: every call of a wrapper shares its decision.
unsigned g_mix_trace_mask = KATR_RANK_SITE_DEFAULT;
unsigned g_mix_trace_generation = 0;
unsigned g_mix_long_mask = KATR_RANK_SITE_DEFAULT;
unsigned g_mix_long_generation = 0;

// A UTF-8 copy of a UTF-16 argument, freed with the object; null when the
// argument is null or cannot be converted.
class narrow_arg_c {
public:
    explicit narrow_arg_c(const katr_wchar_t* text) : text_(nullptr), length_(0) {
        if (!text) return;
        int n = plat_utf16_to_utf8(text, nullptr, 0);
        if (n < 1) return;
        text_ = new (std::nothrow) char[static_cast<size_t>(n) + 1];
        if (!text_) return;
        std::memset(text_, 0, static_cast<size_t>(n) + 1);
        int size = n;
        if (!to_utf8(text, text_, &size)) {
            delete[] text_;
            text_ = nullptr;
            return;
        }
        length_ = std::strlen(text_);
    }
    ~narrow_arg_c() { delete[] text_; }
    narrow_arg_c(const narrow_arg_c&) = delete;
    narrow_arg_c& operator=(const narrow_arg_c&) = delete;
    const char* get() const { return text_; }
    size_t length() const { return length_; }
private:
    char* text_;
    size_t length_;
};

}  // namespace

extern "C" KATR_API void mix_trace_init(const katr_wchar_t* config_file, const katr_wchar_t* log_directory) {
    narrow_arg_c config(config_file);
    narrow_arg_c directory(log_directory);
    katr_init(config.get(), directory.get());
}

extern "C" KATR_API void mix_trace(unsigned rank, int line, const katr_wchar_t* function_name,
                                   const katr_wchar_t* file_name, const katr_wchar_t* text) {
    narrow_arg_c file(file_name);
    narrow_arg_c function(function_name);
    narrow_arg_c message(text);
    {
        katr_entry_c entry(function.get(), file.get(), &g_mix_trace_mask, &g_mix_trace_generation, line, false);
        // A null text (or one that cannot be converted) prints an empty message.
        entry.print_nl(rank, line, "%s", message.get() ? message.get() : "");
    }
}

extern "C" KATR_API void mix_trace_long_str(unsigned rank, int line, const katr_wchar_t* function_name,
                                            const katr_wchar_t* file_name, const katr_wchar_t* text) {
    narrow_arg_c file(file_name);
    narrow_arg_c function(function_name);
    narrow_arg_c message(text);
    {
        katr_entry_c entry(function.get(), file.get(), &g_mix_long_mask, &g_mix_long_generation, line, false);
        entry.print_long_string(rank, line, message.get(), message.length());
    }
}

KATR_API void katr_init(const char* config_file, const char* log_directory) {
    katr_api_run([&] {
        tr_stream_c messages;
        if (trace_manager_c* m = katr_manager()) {
            // The host's arguments win over the environment's.
            m->cancel_self_start();
            m->reparse_file(config_file, log_directory, messages);
        } else
            messages.append("katrace module has not been properly set");
        if (messages.length) std::fprintf(stderr, "Error in trace initialisation:\n%s\n", messages.c_str());
    });
}

KATR_API bool katr_is_console_application() { return is_console_application(); }

extern "C" KATR_API void katr_set_verbose(int on) {
    katr_api_run([&] {
        if (trace_manager_c* m = katr_manager()) m->set_verbose(on != 0);
    });
}

KATR_API void katr_set_print_to_debug_vew(bool on) {
    katr_api_run([&] {
        if (trace_manager_c* m = katr_manager()) m->set_print_to_debug_vew(on);
    });
}

extern "C" KATR_API void katr_change_pid(unsigned pid) {
    katr_api_run([&] {
        if (trace_manager_c* m = katr_manager()) m->change_pid(pid);
    });
}

KATR_API void katr_set_callback(katr_callback_f callback) {
    g_katr_callback.store(callback, std::memory_order_release);
}

bool katr_wrapper_site(const unsigned* mask) { return mask == &g_mix_trace_mask || mask == &g_mix_long_mask; }
