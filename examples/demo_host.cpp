// katrace demo: a small host that writes its configuration beside itself,
// traces from several threads through nested scopes of a few classes,
// reloads a changed configuration half way, steers itself from a shell
// through its control endpoint (katrctl), and finally shows the log
// directory and the current log file. Its black box (BlackBoxSize) records
// every event, also those the log does not show; scripts/demo.sh reads it
// with katr_box afterwards. With --linger SECONDS it keeps the
// endpoint open and two threads tracing for that long afterwards, for
// katrctl sessions of one's own.
#include <katrace.h>
#include <katrace_control.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <process.h>
#else
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace shop {

class Conn {
public:
    void send(const std::string& what, int bytes) {
        KATR_SCOPE(t);
        KATR_PRINT_NL(t, KATR_RANK_DEBUG, "sending %d bytes", bytes);
        if (bytes > 900) KATR_PRINT_NL(t, KATR_RANK_WARNING, "large message for %s", what.c_str());
    }
};

class Parser {
public:
    int parse(const std::string& text) {
        KATR_SCOPE(t);
        KATR_PRINT_NL(t, KATR_RANK_DEBUG, "parsing \"%s\"", text.c_str());
        int value = static_cast<int>(text.size()) * 100;
        if (text.empty()) KATR_PRINT_NL(t, KATR_RANK_ERROR, "nothing to parse");
        return value;
    }
};

class Store {
public:
    void save(int order, const std::string& item) {
        KATR_SCOPE(t);
        KATR_PRINT_NL(t, KATR_RANK_NOTE, "order %d: %s", order, item.c_str());
        int size = Parser().parse(item);
        Conn().send(item, size);
        t.print_user_defined_nl("audit", "order %d saved", order);
    }
};

}  // namespace shop

namespace {

std::string exe_path(const char* argv0) {
    std::error_code ec;
#if defined(__linux__)
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.string();
#endif
    return fs::absolute(argv0, ec).string();
}

void write_text(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

#if defined(_WIN32)
int katr_demo_pid() { return _getpid(); }
#else
int katr_demo_pid() { return static_cast<int>(getpid()); }
#endif

void section(const std::string& title) { std::cout << "\n===== " << title << " =====\n"; }

const char* const FIRST_CONFIG =
    "# katrace demo configuration (read by katr_init)\n"
    "LogFileSize 2000\n"
    "LogNumberOfFilesToKeep 3\n"
    "PrintLine on\n"
    "PrintFile on\n"
    "KeepStack on\n"
    "DoIndentation on\n"
    "PrintToDebugVew Off\n"
    "BlackBoxSize 1048576\n"
    "AditionalRanks audit\n"
    "DefaultLoggingRank trace fatal error warning\n"
    "ModuleContent shop_module demo_host.cpp\n"
    "ModuleRank shop_module +note\n"
    "File demo_host.cpp +audit\n"
    "Class shop::Conn -trace\n"
    "Function shop::Parser::parse error\n"
    "ThreadByName noisy* false\n";

const char* const SECOND_CONFIG =
    "# katrace demo configuration, changed while the threads run\n"
    "LogFileSize 20000\n"
    "LogNumberOfFilesToKeep 3\n"
    "PrintLine on\n"
    "PrintFile on\n"
    "KeepStack on\n"
    "DoIndentation on\n"
    "PrintToDebugVew Off\n"
    "BlackBoxSize 1048576\n"
    "AditionalRanks audit\n"
    "DefaultLoggingRank trace fatal error warning\n"
    "File demo_host.cpp +audit\n"
    "Class shop::Conn +debug\n"
    "ThreadByName worker-2 false\n";

}  // namespace

int main(int argc, char** argv) {
    const int linger = argc == 3 && std::strcmp(argv[1], "--linger") == 0 ? std::atoi(argv[2]) : 0;
    fs::path exe = exe_path(argv[0]);
    fs::path jot = exe;
    jot.replace_extension(".jot");

    section("1. configuration written beside the executable: " + jot.string());
    write_text(jot, FIRST_CONFIG);
    std::cout << FIRST_CONFIG;
    katr_init(nullptr, nullptr);  // the default file: the executable's path with extension jot

    char name[4200];
    unsigned long long len = sizeof name;
    katr_get_log_filename(name, len);
    fs::path log_file = name;
    std::cout << "-> katr_init loaded it; log file: " << log_file.string() << "\n";
    // The control endpoint: katrctl reaches this process through it.
    if (katr_control_start() != 0) std::cout << "-> no control endpoint (see the message above)\n";
    const std::string pid = std::to_string(katr_demo_pid());

    section("2. three threads trace through Store::save -> Parser::parse -> Conn::send");
    const int rounds = 8;
    std::atomic<int> done{0};
    std::atomic<bool> reloaded{false};
    std::vector<std::thread> threads;
    const char* names[] = {"worker-1", "worker-2", "noisy-3"};
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&, i] {
            katr_set_thread_info(names[i], static_cast<unsigned long>(100 + i));
            shop::Store store;
            for (int r = 0; r < rounds; ++r) {
                // Wait at half way until the main thread has reloaded.
                if (r == rounds / 2) {
                    ++done;
                    while (!reloaded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                store.save(i * 1000 + r, r % 4 == 1 ? "" : std::string(1 + r * 3, static_cast<char>('a' + i)));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    while (done < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    section("3. half way, from a shell: katrctl " + pid + " threads");
    std::cout.flush();
    const std::string katrctl = (exe.parent_path() / "katrctl").string();
    if (std::system(("\"" + katrctl + "\" " + pid + " threads").c_str()) != 0) std::cout << "-> katrctl failed\n";

    section("4. a changed configuration is reloaded");
    write_text(jot, SECOND_CONFIG);
    std::cout << SECOND_CONFIG;
    char reply[256];
    len = sizeof reply;
    bool ok = katr_reparse_file(reply, len, nullptr);
    std::cout << "-> katr_reparse_file: " << (ok ? "ok" : "failed") << ", reply \"" << reply << "\"\n";
    reloaded = true;
    for (auto& t : threads) t.join();

    len = sizeof name;
    katr_get_log_filename(name, len);
    log_file = name;
    section("5. the log directory " + log_file.parent_path().string());
    std::vector<fs::directory_entry> entries(fs::directory_iterator(log_file.parent_path()), {});
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    for (const auto& e : entries)
        std::cout << "  " << e.path().filename().string() << "  (" << e.file_size() << " bytes)\n";
    std::cout << "(each reload starts a new file; LogFileSize rotates to numbered files, "
                 "LogNumberOfFilesToKeep bounds them)\n";

    // The newest rotated file holds the last lines written before the reload.
    fs::path before;
    for (const auto& e : entries)
        if (e.path().filename().string().rfind(log_file.filename().string() + ".", 0) == 0 &&
            (before.empty() || fs::last_write_time(e.path()) >= fs::last_write_time(before)))
            before = e.path();
    if (!before.empty()) {
        section("6. the last lines before the reload, from " + before.filename().string());
        std::string old = read_text(before);
        if (old.compare(0, 3, "\xEF\xBB\xBF") == 0) old.erase(0, 3);
        size_t from = old.size();
        for (int n = 0; n < 13 && from != std::string::npos && from > 0;) {
            from = old.rfind('\n', from - 1);
            if (from != std::string::npos) ++n;
        }
        std::cout << (from == std::string::npos ? old : old.substr(from + 1));
    }

    section("7. the current log file " + log_file.string());
    std::string text = read_text(log_file);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // byte-order mark
    std::cout << text;
    section("done");
    std::cout << "Before the reload (rotated files): noisy-3 silent, notes of the shop module, Conn without\n"
                 "enter/leave lines, Parser::parse with errors only. After it (the file above): worker-2\n"
                 "silent, no notes, Conn with debug lines. Both show the audit rank the host added by name.\n"
                 "Each line shows time, line number, rank, depth (\" . \"), file and function;\n"
                 "\"== Thread ==\" marks a change of thread.\n";
    std::cout << "The black box demo_host_" << pid << ".kbox in the log directory recorded every event of every\n"
              << "thread, also those the log leaves out (debug lines, the silent threads).\n";
    if (linger > 0) {
        std::cout << "\nThe control endpoint stays open for " << linger << " s while two threads trace; try\n"
                  << "  " << katrctl << " list\n  " << katrctl << " " << pid << " threads\n  " << katrctl << " " << pid
                  << " parse \"Class shop::Parser +debug\"\n  " << katrctl << " " << pid << " config\n";
        std::cout.flush();
        std::atomic<bool> stop{false};
        std::vector<std::thread> lingering;
        for (int i = 0; i < 2; ++i)
            lingering.emplace_back([&, i] {
                katr_set_thread_info(i ? "linger-2" : "linger-1", static_cast<unsigned long>(200 + i));
                shop::Store store;
                for (int r = 0; !stop; ++r) {
                    store.save(r, "item");
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                }
            });
        std::this_thread::sleep_for(std::chrono::seconds(linger));
        stop = true;
        for (auto& t : lingering) t.join();
    }
    katr_control_stop();
    return 0;
}
