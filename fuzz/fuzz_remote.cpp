// Fuzz target of the remote command processor: arbitrary bytes, cut at NUL
// bytes into up to eight requests, are run through process_received_string
// (and through prepare_string_to_send) against a fresh trace manager per
// input. Nothing may crash, leak or touch memory outside a buffer.
//
// Commands that set the log directory or load configuration files take
// paths from the input. To keep every file the library creates inside one
// temporary directory, the harness (never the library) works in that
// directory as its current directory and rewrites path separators and ".."
// in the input, so that every path it can name is a relative one below it.
// After each input the directory is emptied again (except the sample
// configuration file), and the one place outside it where the library
// would put files by default, <exe dir>/log, is checked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "katrace.h"
#include "kor/mix.h"
#include "manager/trace_manager.h"

namespace fs = std::filesystem;

namespace {

fs::path g_work;         // the temporary directory, also the current directory
fs::path g_default_log;  // <exe dir>/log
bool g_default_log_existed = false;

const char* const sample_config =
    "LogFileSize 4096\n"
    "LogNumberOfFilesToKeep 2\n"
    "AditionalRanks db net\n"
    "DefaultLoggingRank fatal error net\n"
    "ModuleContent Net conn.cpp *.h\n"
    "ModuleRank Net +debug\n"
    "File *.cpp +note -error\n"
    "Function Conn::send -fatal\n"
    "ThreadByName worker off\n";

void write_sample() {
    std::ofstream out(g_work / "my.jot", std::ios::binary | std::ios::trunc);
    out << sample_config;
}

void remove_work() {
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(ec), ec);
    fs::remove_all(g_work, ec);
}

// Removes everything the last input created in the work directory.
void clean_work() {
    std::error_code ec;
    for (fs::directory_iterator it(g_work, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() == "my.jot")
            continue;
        std::error_code rm;
        fs::remove_all(it->path(), rm);
    }
}

// Separators become '_', and a '.' right behind a '.' becomes '_': no
// request can name a path outside the current directory.
void confine_paths(std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        char& c = text[i];
        if (c == '/' || c == '\\')
            c = '_';
        else if (c == '.' && i > 0 && text[i - 1] == '.')
            c = '_';
    }
}

void check_nothing_outside() {
    std::error_code ec;
    if (!g_default_log_existed && fs::exists(g_default_log, ec)) {
        std::fprintf(stderr, "fuzz_remote: %s was created\n", g_default_log.string().c_str());
        std::abort();
    }
    if (fs::current_path(ec) != g_work) {
        std::fprintf(stderr, "fuzz_remote: the current directory changed\n");
        std::abort();
    }
}

// The harness leaves its starting directory: relative corpus directories,
// paths of the options that take one, and the place of crash artifacts
// (by default the current directory) are made absolute first.
void absolute_arguments(int* argc, char*** argv) {
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    std::error_code ec;
    fs::path start = fs::current_path(ec);
    const char* const path_options[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                        "-merge_control_file=", "-features_dir=", "-mutation_graph_file="};
    bool has_prefix = false;
    texts.reserve(static_cast<size_t>(*argc) + 1);
    for (int i = 0; i < *argc; ++i) {
        std::string a = (*argv)[i];
        if (i > 0 && !a.empty() && a[0] != '-') {
            a = (start / a).string();
        } else {
            for (const char* o : path_options) {
                size_t n = std::strlen(o);
                if (a.compare(0, n, o) == 0) {
                    if (std::strcmp(o, "-artifact_prefix=") == 0)
                        has_prefix = true;
                    std::string rest = a.substr(n);
                    if (!rest.empty() && rest[0] != '/') {
                        bool dir = rest.back() == '/';
                        a = o + (start / rest).string() + (dir && (start / rest).string().back() != '/' ? "/" : "");
                    }
                }
            }
        }
        texts.push_back(a);
    }
    if (!has_prefix)
        texts.push_back("-artifact_prefix=" + start.string() + "/");
    for (std::string& t : texts)
        pointers.push_back(&t[0]);
    pointers.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = pointers.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (argc && argv)
        absolute_arguments(argc, argv);
    std::error_code ec;
    char name[64];
    std::snprintf(name, sizeof name, "katr_fuzz_remote_%llu",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&ec)) ^
                      static_cast<unsigned long long>(std::rand()));
    g_work = fs::temp_directory_path(ec) / name;
    fs::create_directories(g_work, ec);
    g_work = fs::canonical(g_work, ec);
    if (ec) {
        std::fprintf(stderr, "fuzz_remote: no temporary directory\n");
        std::abort();
    }
    fs::current_path(g_work, ec);
    write_sample();
    g_default_log = fs::path(mix_n::get_exe_dir(nullptr)) / "log";
    g_default_log_existed = fs::exists(g_default_log, ec);
    std::atexit(remove_work);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192)
        return 0;
    std::string input(reinterpret_cast<const char*>(data), size);
    confine_paths(input);

    trace_manager_c* m = new trace_manager_c;
    if (!m->ok()) {
        delete m;
        return 0;
    }
    g_katr_manager.store(m);
    // The log directory is the work directory before any request runs, so
    // that no command falls back to the default one beside the executable.
    unsigned long long len = 0;
    if (!katr_set_log_directory(nullptr, len, g_work.generic_string().c_str(), nullptr, false))
        std::abort();

    katr_remote_proc_c proc;
    std::vector<std::string> requests;
    for (size_t start = 0, n = 0; start <= input.size() && n < 8; ++n) {
        size_t end = input.find('\0', start);
        if (end == std::string::npos)
            end = input.size();
        requests.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& r : requests) {
        const char* reply = proc.process_received_string(r.c_str());
        if (!reply)
            std::abort();
        // Replies end their lines in CR LF.
        for (const char* p = std::strchr(reply, '\n'); p; p = std::strchr(p + 1, '\n'))
            if (p == reply || p[-1] != '\r')
                std::abort();
        // The same fragment as arguments of a request built here, then run.
        if (!r.empty()) {
            katr_remote_proc_c::katr_test_comand_e cmd =
                static_cast<katr_remote_proc_c::katr_test_comand_e>(static_cast<unsigned char>(r[0]) % 13);
            std::string tail = r.substr(1);
            size_t blank = tail.find(' ');
            std::string a1 = tail.substr(0, blank);
            std::string a2 = blank == std::string::npos ? std::string() : tail.substr(blank + 1);
            const char* built = nullptr;
            switch (static_cast<unsigned char>(r[0]) / 13 % 4) {
            case 0: built = proc.prepare_string_to_send(cmd); break;
            case 1: built = proc.prepare_string_to_send(cmd, tail.c_str()); break;
            case 2: built = proc.prepare_string_to_send(cmd, a1.c_str(), a2.c_str()); break;
            default: built = proc.prepare_string_to_send(cmd, static_cast<unsigned>(tail.size())); break;
            }
            if (built) {
                katr_remote_proc_c copy(proc);
                copy.process_received_string(built);
                proc = copy;
            }
        }
    }

    g_katr_manager.store(nullptr);
    delete m;
    check_nothing_outside();
    clean_work();
    return 0;
}
