// The C interface's control functions and command (katrace_c.h): the
// control functions with a pointer for each reference and int for bool, and
// one request of the command protocol answered in the reply convention.
#include <cstdio>
#include <cstring>

#include "katrace.h"
#include "katrace_c.h"
#include "remote/remote_internal.h"

namespace {

// A null length pointer cannot carry the size back: refused with a message.
bool length_given(const katr_c_len_t* len, const char* function) {
    if (len) return true;
    std::fprintf(stderr, "katrace: %s called with a null length pointer\n", function);
    return false;
}

}  // namespace

extern "C" {

KATR_C_API void katr_c_get_log_filename(char* out, katr_c_len_t* len) {
    if (length_given(len, __func__)) katr_get_log_filename(out, *len);
}

KATR_C_API void katr_c_add_PID_to_log_fn(char* out, katr_c_len_t* len, int add_pid) {
    if (length_given(len, __func__)) katr_add_PID_to_log_fn(out, *len, add_pid != 0);
}

KATR_C_API int katr_c_set_log_directory(char* out, katr_c_len_t* len, const char* directory, const char* base_name,
                                        int skip_scan) {
    return length_given(len, __func__) && katr_set_log_directory(out, *len, directory, base_name, skip_scan != 0);
}

KATR_C_API int katr_c_reparse_file(char* out, katr_c_len_t* len, const char* config_file) {
    return length_given(len, __func__) && katr_reparse_file(out, *len, config_file);
}

KATR_C_API int katr_c_parse_buffer(char* out, katr_c_len_t* len, const char* text) {
    return length_given(len, __func__) && katr_parse_buffer(out, *len, text);
}

KATR_C_API void katr_c_config_content(char* out, katr_c_len_t* len) {
    if (length_given(len, __func__)) katr_config_content(out, *len);
}

KATR_C_API void katr_c_print_threads(char* out, katr_c_len_t* len) {
    if (length_given(len, __func__)) katr_print_threads(out, *len);
}

KATR_C_API void katr_c_print_stack(char* out, katr_c_len_t* len, unsigned long thread_id) {
    if (length_given(len, __func__)) katr_print_stack(out, *len, thread_id);
}

KATR_C_API void katr_c_print_log_rank(char* out, katr_c_len_t* len, const char* function_name,
                                      const char* file_name) {
    if (length_given(len, __func__)) katr_print_log_rank(out, *len, function_name, file_name);
}

KATR_C_API void katr_c_command(const char* request, char* out, katr_c_len_t* len) {
    if (!length_given(len, __func__)) return;
    katr_remote_proc_c processor;
    const char* reply = processor.process_received_string(request);
    if (!reply) reply = "";
    remote_hand_over(reply, std::strlen(reply), out, *len);
}

}  // extern "C"
