// katr_remote_proc_c: builds request texts for a controlling tool and, inside
// the traced process, runs a received request through the control functions
// and builds the reply.
#include <cstdint>
#include <new>

#include "katrace.h"
#include "kor/mix.h"
#include "remote/remote_internal.h"
#include "support/tr_stream.h"

#ifndef KATR_VERSION_MAJOR
#  define KATR_VERSION_MAJOR 0
#endif
#ifndef KATR_VERSION_MINOR
#  define KATR_VERSION_MINOR 0
#endif

const char* const katr_remote_proc_c::key_string = "!$";
const char* const katr_remote_proc_c::greeting = "KATR_GREETING";

namespace {

const int version_major = KATR_VERSION_MAJOR;
const int version_minor = KATR_VERSION_MINOR;
// The version reply carries a build number of its own, not the library's.
const int version_build = 0;

const char* const reply_empty = "Empty string has been passed to katrace procesor";
const char* const reply_done = "O.K. Operation has been completed";

// Size of the first reply area handed to a control function.
const unsigned long long first_area_size = 128;

void bad_format(tr_stream_c& out, const char* request) {
    out.append(char(1));
    out.append("Badly formatted string \"").append(request).append("\" has been passed to katrace procesor");
}

unsigned decimal_width(unsigned v) {
    unsigned n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

// The '%u' reading of a text: leading white space, an optional sign, then
// decimal digits. A negative number wraps as the C library does; a number
// that does not fit 32 bits reads as 0xFFFFFFFF. False when no digit follows.
bool read_unsigned(const char* text, unsigned* value) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    unsigned v = 0;
    bool overflow = false;
    if (!mix_n::parse_decimal(p, &v, &overflow))
        return false;
    *value = overflow ? 0xFFFFFFFFu : negative ? 0u - v
                                               : v;
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Runs one command into out (size in len, the convention of the control
// functions) and returns whether it counts as succeeded; *ran tells whether
// anything was run at all.
bool run_command(unsigned cmd, const char* arg, char* out, unsigned long long& len, bool* ran) {
    *ran = true;
    switch (cmd) {
    case katr_remote_proc_c::tc_reparse_file:
        return katr_reparse_file(out, len, arg);
    case katr_remote_proc_c::tc_parse_buffer:
        if (!arg)
            break;
        return katr_parse_buffer(out, len, arg);
    case katr_remote_proc_c::tc_set_verbose:
    case katr_remote_proc_c::tc_set_print_to_debug_vew: {
        if (!arg || (arg[0] != 't' && arg[0] != 'f') || arg[1] != 0)
            break;
        if (!remote_set_output_switch(
                cmd == katr_remote_proc_c::tc_set_verbose ? OUTPUT_SCREEN : OUTPUT_DEBUGGER, arg[0] == 't'))
            break;
        if (out && len)
            out[0] = 0;
        len = 1;
        return true;
    }
    case katr_remote_proc_c::tc_add_pid_to_log_fn:
        if (!arg || (arg[0] != 't' && arg[0] != 'f') || arg[1] != 0)
            break;
        katr_add_PID_to_log_fn(out, len, arg[0] == 't');
        return false;
    case katr_remote_proc_c::tc_set_log_directory:
        if (!arg)
            break;
        return katr_set_log_directory(out, len, arg, nullptr, false);
    case katr_remote_proc_c::tc_get_log_filename:
        katr_get_log_filename(out, len);
        return true;
    case katr_remote_proc_c::tc_print_log_rank: {
        if (!arg)
            break;
        // Function name, then the first blank (or, without one, the first
        // tab), then the file name as it stands.
        const char* sep = nullptr;
        for (const char* p = arg; *p; ++p)
            if (*p == ' ') {
                sep = p;
                break;
            }
        if (!sep)
            for (const char* p = arg; *p; ++p)
                if (*p == '\t') {
                    sep = p;
                    break;
                }
        if (!sep)
            break;
        tr_stream_c function_name;
        function_name.append_n(arg, static_cast<unsigned long long>(sep - arg));
        katr_print_log_rank(out, len, function_name.c_str(), sep + 1);
        return false;
    }
    case katr_remote_proc_c::tc_config_content:
        katr_config_content(out, len);
        return true;
    case katr_remote_proc_c::tc_print_threads:
        katr_print_threads(out, len);
        return true;
    case katr_remote_proc_c::tc_print_stack: {
        unsigned id = 0;
        if (arg && !read_unsigned(arg, &id))
            break;
        katr_print_stack(out, len, id);
        return false;
    }
    default:
        break;
    }
    *ran = false;
    return false;
}

}  // namespace

katr_remote_proc_c::katr_remote_proc_c() : buffer_(new (std::nothrow) tr_stream_c) {}

katr_remote_proc_c::katr_remote_proc_c(const katr_remote_proc_c& other)
    : buffer_(other.buffer_ ? new (std::nothrow) tr_stream_c(*other.buffer_) : new (std::nothrow) tr_stream_c) {}

katr_remote_proc_c& katr_remote_proc_c::operator=(const katr_remote_proc_c& other) {
    if (this == &other)
        return *this;
    if (!buffer_)
        buffer_ = new (std::nothrow) tr_stream_c;
    if (buffer_) {
        buffer_->append(char(1));
        if (other.buffer_)
            buffer_->append(*other.buffer_);
    }
    return *this;
}

katr_remote_proc_c::~katr_remote_proc_c() { delete buffer_; }

const char* katr_remote_proc_c::prepare_string_to_send(katr_test_comand_e cmd) {
    if (!buffer_)
        return nullptr;
    buffer_->append(char(1));
    switch (cmd) {
    case tc_get_log_filename:
    case tc_config_content:
    case tc_print_threads:
        buffer_->append(key_string).append(static_cast<int>(cmd));
        return buffer_->c_str();
    case tc_version:
        buffer_->append(key_string);
        return buffer_->c_str();
    default:
        return nullptr;
    }
}

const char* katr_remote_proc_c::prepare_string_to_send(katr_test_comand_e cmd, const char* arg) {
    if (!buffer_)
        return nullptr;
    buffer_->append(char(1));
    bool has_arg = arg && *arg;
    switch (cmd) {
    case tc_reparse_file:
        buffer_->append(key_string).append(static_cast<int>(cmd));
        if (has_arg)
            buffer_->append(' ').append(arg);
        return buffer_->c_str();
    case tc_parse_buffer:
    case tc_set_log_directory:
        if (!has_arg)
            return nullptr;
        buffer_->append(key_string).append(static_cast<int>(cmd)).append(' ').append(arg);
        return buffer_->c_str();
    case tc_version:
        buffer_->append(key_string);
        return buffer_->c_str();
    default:
        return nullptr;
    }
}

const char* katr_remote_proc_c::prepare_string_to_send(katr_test_comand_e cmd, const char* arg1,
                                                       const char* arg2) {
    if (!buffer_)
        return nullptr;
    buffer_->append(char(1));
    if (cmd != tc_print_log_rank || !arg1 || !*arg1 || !arg2 || !*arg2)
        return nullptr;
    buffer_->append(key_string).append(static_cast<int>(cmd)).append(' ').append(arg1).append(' ').append(arg2);
    return buffer_->c_str();
}

const char* katr_remote_proc_c::prepare_string_to_send(katr_test_comand_e cmd, unsigned int value) {
    if (!buffer_)
        return nullptr;
    buffer_->append(char(1));
    buffer_->append(key_string).append(static_cast<int>(cmd));
    switch (cmd) {
    case tc_set_verbose:
    case tc_set_print_to_debug_vew:
    case tc_add_pid_to_log_fn:
        buffer_->append(' ').append(value ? "t" : "f");
        return buffer_->c_str();
    case tc_print_stack:
        buffer_->append(' ').append(value);
        return buffer_->c_str();
    default:
        return nullptr;
    }
}

const char* katr_remote_proc_c::process_received_string(const char* request) {
    if (!buffer_)
        return "";
    tr_stream_c& out = *buffer_;
    // A request built by this very object lives in the buffer about to be
    // cleared: work on a copy of it.
    tr_stream_c own_request;
    uintptr_t at = reinterpret_cast<uintptr_t>(request);
    uintptr_t begin = reinterpret_cast<uintptr_t>(out.buffer);
    if (request && out.buffer && at >= begin && at <= begin + out.length) {
        own_request.append(request);
        request = own_request.c_str();
    }
    out.append(char(1));
    if (!request || !*request) {
        out.append(reply_empty);
        return out.c_str();
    }
    const char* key = key_string;
    const char* p = request;
    for (; *key; ++key, ++p)
        if (*p != *key) {
            bad_format(out, request);
            out.to_crlf();
            return out.c_str();
        }
    if (!*p) {
        out.append("Version = ").append(version_major).append('.').append(version_minor);
        out.append(", Build Number = ").append(version_build);
        return out.c_str();
    }
    unsigned cmd = 0;
    if (!read_unsigned(p, &cmd) || cmd >= static_cast<unsigned>(tc_version)) {
        bad_format(out, request);
        out.to_crlf();
        return out.c_str();
    }
    // The argument starts as many characters further as the number has
    // digits; blanks and tabs before it are skipped.
    const char* arg = p;
    for (unsigned n = decimal_width(cmd); n && *arg; --n)
        ++arg;
    while (is_blank(*arg))
        ++arg;
    if (!*arg)
        arg = nullptr;

    // Run the command with a 128-byte reply area; when the reply needs more,
    // run it again with an area of exactly the size needed.
    unsigned long long size = first_area_size;
    char* area = nullptr;
    bool ran = false;
    bool succeeded = false;
    for (;;) {
        area = new (std::nothrow) char[size];
        if (!area)
            break;
        area[0] = 0;
        unsigned long long len = size;
        succeeded = run_command(cmd, arg, area, len, &ran);
        if (!ran || len <= size)
            break;
        delete[] area;
        area = nullptr;
        size = len;
    }
    if (area && area[0])
        out.append(area);
    else if (ran && succeeded)
        out.append(reply_done);
    else
        bad_format(out, request);
    delete[] area;
    out.to_crlf();
    return out.c_str();
}
