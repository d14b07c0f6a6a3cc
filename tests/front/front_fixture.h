// A trace manager of its own for every front-end test, with a temporary log
// directory and helpers to load a configuration and read the log file.
#ifndef KATR_TEST_FRONT_FIXTURE_H
#define KATR_TEST_FRONT_FIXTURE_H

#include <string>

#include "common/temp_dir.h"
#include "front/line.h"
#include "katrace.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"

class front_test : public temp_dir_test {
protected:
    trace_manager_c* m = nullptr;
    unsigned mask = KATR_RANK_SITE_DEFAULT, gen = 0;  // the cache of the call site that site() makes
    katr_entry_c site(bool scope = false, const char* file = "a.cpp", const char* function = "f", int line = 1) {
        return katr_entry_c(function, file, &mask, &gen, line, scope);
    }

    void SetUp() override { temp_dir_test::SetUp(), fresh(); }
    void TearDown() override { katr_set_callback(nullptr), drop(), temp_dir_test::TearDown(); }
    // A new manager without configuration in place of the current one.
    void fresh() {
        drop(), mask = KATR_RANK_SITE_DEFAULT, gen = 0;
        g_katr_manager.store(m = new trace_manager_c);
    }
    // Loads a configuration with a log directory of its own; the prefix
    // switches are off unless text sets them.
    void load(const std::string& text) {
        std::string n = std::to_string(++loads_), jot = path("t" + n + ".jot");
        write_file(jot, "LogDirectoryName " + dir() + "/log" + n + "/\nPrintTime off\nPrintFunction off\n"
                                                                   "PrintToDebugVew Off\n" +
                            text + "\n");
        katr_init(jot.c_str(), nullptr);
        mark_ = read_file(log_name()).size();
    }
    std::string since_load() { return read_file(log_name()).substr(mark_); }
    // The thread banner line in front of the first line of this thread.
    std::string banner() {
        thread_trace_s* r = m->get_thread_record();
        return "== Thread " + std::to_string(r->sys_id) + " (" + r->display_name() + ") ==\r\n";
    }
    void parse(const char* text) {
        tr_stream_c messages;
        m->parse_buffer(text, messages);
    }
    int depth() { return m->get_thread_record()->depth; }
    std::string log_name() {
        tr_stream_c name;
        m->log_file_name(name);
        return name.c_str();
    }

private:
    void drop() {
        g_katr_manager.store(nullptr);
        delete m, m = nullptr;
    }
    size_t mark_ = 0, loads_ = 0;
};

#endif
