// The exported control functions: each builds its reply in a stream of its
// own and hands it over whole, or not at all, through the caller's buffer.
// A call from a thread busy inside the library (a signal handler, a hook),
// or one that fails for want of memory, gets the empty reply.
#include <cstring>

#include "katrace.h"
#include "kor/api_call.h"
#include "kor/mix.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"
#include "remote/remote_internal.h"
#include "support/tr_stream.h"

namespace {

const char* const reply_no_manager = "katrace module has not been properly set";

void hand_over(const tr_stream_c& reply, char* out, unsigned long long& len) {
    remote_hand_over(reply.c_str(), static_cast<size_t>(reply.length), out, len);
}

// The reply without a manager.
void no_manager(char* out, unsigned long long& len) {
    tr_stream_c reply;
    reply.append(reply_no_manager);
    hand_over(reply, out, len);
}

// Success text when the operation left no message.
void hand_over_or(tr_stream_c& reply, const char* success, char* out, unsigned long long& len) {
    if (reply.length == 0)
        reply.append(success);
    hand_over(reply, out, len);
}

// Runs a control function's body with the manager and a fresh reply, handed
// over afterwards (as the success text when it stays empty and one is
// given). A body that cannot run (busy thread) or throws leaves the empty
// reply and false.
template <typename F>
bool with_manager(char* out, unsigned long long& len, const char* success, F&& body) noexcept {
    bool done = false;
    const bool ok = katr_api_call(false, [&] {
        trace_manager_c* m = katr_manager();
        if (!m) {
            no_manager(out, len);
            done = true;
            return false;
        }
        tr_stream_c reply;
        const bool result = body(*m, reply);
        if (success)
            hand_over_or(reply, success, out, len);
        else
            hand_over(reply, out, len);
        done = true;
        return result;
    });
    if (!done) {
        if (out && len > 0) out[0] = 0;
        len = 1;
    }
    return ok;
}

}  // namespace

void remote_hand_over(const char* reply, size_t length, char* out, unsigned long long& len) {
    unsigned long long required = static_cast<unsigned long long>(length) + 1;
    if (out) {
        if (len >= required)
            std::memcpy(out, reply, length + 1);
        else if (len > 0)
            out[0] = 0;
    }
    len = required;
}

bool remote_set_output_switch(output_switch_e which, bool on) {
    return katr_api_call(false, [&] {
        trace_manager_c* m = katr_manager();
        if (!m)
            return false;
        if (which == OUTPUT_SCREEN)
            m->set_verbose(on);
        else
            m->set_print_to_debug_vew(on);
        return true;
    });
}

void katr_get_log_filename(char* out, unsigned long long& len) {
    with_manager(out, len, "Current log file is not set", [](trace_manager_c& m, tr_stream_c& reply) {
        m.log_file_name(reply);
        return true;
    });
}

void katr_add_PID_to_log_fn(char* out, unsigned long long& len, bool add_pid) {
    with_manager(out, len, "OK. Log PID has been processed successfully",
                 [&](trace_manager_c& m, tr_stream_c& reply) {
                     m.set_add_pid(add_pid, &reply);
                     return true;
                 });
}

bool katr_set_log_directory(char* out, unsigned long long& len, const char* directory,
                            const char* base_name, bool flag) {
    return with_manager(out, len, "OK. Log directory has been set successfully",
                        [&](trace_manager_c& m, tr_stream_c& reply) {
                            // The directory is checked and created before the lock is taken.
                            char canonical[KOR_MAX_PATH];
                            bool ok = logger_c::prepare_log_directory(directory, &reply, canonical);
                            if (ok) m.use_log_directory(canonical, &reply, base_name, flag);
                            return ok;
                        });
}

bool katr_reparse_file(char* out, unsigned long long& len, const char* config_file) {
    return with_manager(out, len, "Parsing of config file has been succesfuly completed",
                        [&](trace_manager_c& m, tr_stream_c& reply) {
                            return m.reparse_file(config_file, nullptr, reply);
                        });
}

bool katr_parse_buffer(char* out, unsigned long long& len, const char* text) {
    return with_manager(out, len, "Parsing of config buffer has been succesfuly completed",
                        [&](trace_manager_c& m, tr_stream_c& reply) { return m.parse_buffer(text, reply); });
}

void katr_config_content(char* out, unsigned long long& len) {
    with_manager(out, len, nullptr, [](trace_manager_c& m, tr_stream_c& reply) {
        m.config_content(reply);
        return true;
    });
}

void katr_print_threads(char* out, unsigned long long& len) {
    with_manager(out, len, nullptr, [](trace_manager_c& m, tr_stream_c& reply) {
        m.print_threads(reply);
        return true;
    });
}

void katr_print_stack(char* out, unsigned long long& len, unsigned long thread_id) {
    with_manager(out, len, nullptr, [&](trace_manager_c& m, tr_stream_c& reply) {
        m.print_stack(reply, thread_id);
        return true;
    });
}

void katr_print_log_rank(char* out, unsigned long long& len, const char* function_name,
                         const char* file_name) {
    with_manager(out, len, nullptr, [&](trace_manager_c& m, tr_stream_c& reply) {
        m.rank_names(function_name, file_name, reply);
        return true;
    });
}
