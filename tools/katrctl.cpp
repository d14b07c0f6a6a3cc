// katrctl: steers a running katrace host from a shell. The host opens its
// control endpoint with katr_control_start (katrace_control); katrctl
// connects to it, sends one request of katrace's command protocol framed as
// a 4-byte little-endian length and the text, and prints the reply.
// Exit code 0 when a reply came, 1 when the process has no endpoint or the
// connection failed, 2 for a usage error.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "katrace.h"
#include "katrace_version.h"
#include "platform/platform.h"
#include "tool_args.h"

namespace {

typedef katr_remote_proc_c proc_c;

const unsigned CONNECT_TIMEOUT_MS = 5000;
// A host answers a request within this time (a reload may read a large file).
const unsigned REPLY_TIMEOUT_MS = 30000;
const unsigned long MAX_REPLY = 256ul * 1024 * 1024;

const char* const USAGE =
    "usage: katrctl list\n"
    "       katrctl PID COMMAND [ARGUMENTS]\n"
    "Steers a running katrace host that opened its control endpoint\n"
    "(katr_control_start). Commands:\n"
    "  reparse [FILE]        reload the configuration file (default: the host's)\n"
    "  parse TEXT | parse -  apply configuration text (- reads standard input)\n"
    "  verbose on|off        all ranks to standard output, or none\n"
    "  debug on|off          all ranks to the debugger output, or none\n"
    "  pid on|off            the process id in log file names\n"
    "  logdir DIR            move the log files to DIR\n"
    "  logfile               the current log file\n"
    "  rank FUNCTION FILE    the ranks written for a function in a source file\n"
    "  config                the configuration as the host holds it\n"
    "  threads               the host's threads\n"
    "  stack [THREAD_ID]     the scope stack of one thread (all without an id)\n"
    "  version               the library's version\n"
    "  raw REQUEST           a request of the command protocol as it stands\n"
    "Exit code 0 when the host replied, 1 when it could not be reached, 2 for\n"
    "a usage error.\n";

int usage_error(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "katrctl: %s%s\n%s", what, detail.c_str(), USAGE);
    return 2;
}

// Writes the reply with the platform's line ends: CR LF becomes LF, which
// the C library writes as the system wants. A reply gets a final line end.
void print_reply(const std::string& reply) {
    std::string out;
    out.reserve(reply.size() + 1);
    for (size_t i = 0; i < reply.size(); ++i)
        if (!(reply[i] == '\r' && i + 1 < reply.size() && reply[i + 1] == '\n')) out += reply[i];
    if (out.empty() || out.back() != '\n') out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

bool receive_exact(intptr_t conn, char* buf, size_t size) {
    const unsigned long long deadline = plat_clock_ms() + REPLY_TIMEOUT_MS;
    while (size > 0) {
        const unsigned long long now = plat_clock_ms();
        if (now >= deadline) return false;
        const int n = plat_conn_receive(conn, buf, size, static_cast<unsigned>(deadline - now));
        if (n < 0) return false;
        buf += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Sends one request to process pid and prints the reply.
int exchange(unsigned long pid, const std::string& request) {
    if (request.size() > 16ul * 1024 * 1024) {
        std::fprintf(stderr, "katrctl: the request is longer than 16 MiB\n");
        return 2;
    }
    const intptr_t conn = plat_control_connect(pid, CONNECT_TIMEOUT_MS);
    if (conn == PLAT_NO_ENDPOINT) {
        char name[PLAT_MAX_PATH];
        plat_control_endpoint(pid, name, sizeof name);
        std::fprintf(stderr, "katrctl: process %lu has no control endpoint of this user (%s, error %lu)\n", pid,
                     name, plat_last_error());
        return 1;
    }
    const size_t n = request.size();
    const char head[4] = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                          static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
    std::string reply;
    bool ok = plat_conn_send(conn, head, sizeof head, REPLY_TIMEOUT_MS) &&
              plat_conn_send(conn, request.data(), n, REPLY_TIMEOUT_MS);
    char rhead[4];
    if (ok) ok = receive_exact(conn, rhead, sizeof rhead);
    if (ok) {
        const unsigned long length = static_cast<unsigned long>(static_cast<unsigned char>(rhead[0])) |
                                     static_cast<unsigned long>(static_cast<unsigned char>(rhead[1])) << 8 |
                                     static_cast<unsigned long>(static_cast<unsigned char>(rhead[2])) << 16 |
                                     static_cast<unsigned long>(static_cast<unsigned char>(rhead[3])) << 24;
        ok = length <= MAX_REPLY;
        if (ok) {
            reply.resize(length);
            ok = length == 0 || receive_exact(conn, &reply[0], length);
        }
    }
    plat_conn_close(conn);
    if (!ok) {
        std::fprintf(stderr, "katrctl: process %lu did not answer (the connection failed or was refused)\n", pid);
        return 1;
    }
    print_reply(reply);
    return 0;
}

void collect_pid(unsigned long pid, void* ctx) { static_cast<std::vector<unsigned long>*>(ctx)->push_back(pid); }

int list_endpoints() {
    std::vector<unsigned long> pids;
    if (!plat_control_list(collect_pid, &pids)) {
        std::fprintf(stderr, "katrctl: cannot list the control endpoints (error %lu)\n", plat_last_error());
        return 1;
    }
    std::sort(pids.begin(), pids.end());
    for (unsigned long pid : pids) {
        char name[PLAT_MAX_PATH];
        if (!plat_process_name(pid, name, sizeof name)) std::strcpy(name, "?");
        std::printf("%lu %s\n", pid, name);
    }
    return 0;
}

// A decimal number without sign below 2^32; false for anything else.
bool parse_number(const std::string& text, unsigned long* value) {
    unsigned long long v = 0;
    if (!tool_number(text, 0xFFFFFFFFull, &v)) return false;
    *value = static_cast<unsigned long>(v);
    return true;
}

std::string read_stdin() {
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, n);
    return text;
}

// The request for a command and its arguments; false (with a message) for
// a usage error.
bool build_request(const std::vector<std::string>& a, std::string* request, std::string* error) {
    proc_c proc;
    const std::string& cmd = a[0];
    const size_t argc = a.size() - 1;
    auto want = [&](size_t lo, size_t hi) {
        if (argc >= lo && argc <= hi) return true;
        *error = "wrong number of arguments for \"" + cmd + "\"";
        return false;
    };
    const char* r = nullptr;
    if (cmd == "reparse") {
        if (!want(0, 1)) return false;
        r = proc.prepare_string_to_send(proc_c::tc_reparse_file, argc ? a[1].c_str() : nullptr);
    } else if (cmd == "parse") {
        if (!want(1, 1)) return false;
        const std::string text = a[1] == "-" ? read_stdin() : a[1];
        r = proc.prepare_string_to_send(proc_c::tc_parse_buffer, text.c_str());
        if (!r) *error = "parse needs a configuration text";
    } else if (cmd == "verbose" || cmd == "debug" || cmd == "pid") {
        if (!want(1, 1)) return false;
        if (a[1] != "on" && a[1] != "off") {
            *error = cmd + " takes on or off";
            return false;
        }
        const proc_c::katr_test_comand_e c = cmd == "verbose" ? proc_c::tc_set_verbose
                                             : cmd == "debug" ? proc_c::tc_set_print_to_debug_vew
                                                              : proc_c::tc_add_pid_to_log_fn;
        r = proc.prepare_string_to_send(c, a[1] == "on" ? 1u : 0u);
    } else if (cmd == "logdir") {
        if (!want(1, 1)) return false;
        r = proc.prepare_string_to_send(proc_c::tc_set_log_directory, a[1].c_str());
        if (!r) *error = "logdir needs a directory";
    } else if (cmd == "logfile" || cmd == "config" || cmd == "threads" || cmd == "version") {
        if (!want(0, 0)) return false;
        r = proc.prepare_string_to_send(cmd == "logfile"   ? proc_c::tc_get_log_filename
                                        : cmd == "config"  ? proc_c::tc_config_content
                                        : cmd == "threads" ? proc_c::tc_print_threads
                                                           : proc_c::tc_version);
    } else if (cmd == "rank") {
        if (!want(2, 2)) return false;
        r = proc.prepare_string_to_send(proc_c::tc_print_log_rank, a[1].c_str(), a[2].c_str());
        if (!r) *error = "rank needs a function name and a file name";
    } else if (cmd == "stack") {
        if (!want(0, 1)) return false;
        unsigned long id = 0;
        if (argc && !parse_number(a[1], &id)) {
            *error = "stack takes a decimal thread id";
            return false;
        }
        // Thread id 0 stands for every thread.
        r = proc.prepare_string_to_send(proc_c::tc_print_stack, static_cast<unsigned>(id));
    } else if (cmd == "raw") {
        if (!want(1, 1)) return false;
        *request = a[1];
        return true;
    } else {
        *error = "unknown command \"" + cmd + "\"";
        return false;
    }
    if (!r) {
        if (error->empty()) *error = "cannot build the request";
        return false;
    }
    *request = r;
    return true;
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) return usage_error("no command given");
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("katrctl %d.%d.%d\n", KATRACE_VERSION_MAJOR, KATRACE_VERSION_MINOR, KATRACE_VERSION_PATCH);
        return 0;
    }
    if (args[0] == "list") return args.size() == 1 ? list_endpoints() : usage_error("list takes no arguments");
    unsigned long pid;
    if (!parse_number(args[0], &pid) || pid == 0) return usage_error("not a process id: ", args[0]);
    if (args.size() < 2) return usage_error("no command given for process ", args[0]);
    std::string request, error;
    if (!build_request(std::vector<std::string>(args.begin() + 1, args.end()), &request, &error))
        return usage_error(error.c_str());
    return exchange(pid, request);
}

}  // namespace

KATR_TOOL_MAIN(run)
