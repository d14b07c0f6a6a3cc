// A trace manager of its own for every front-end test, with a temporary log
// directory and helpers to load a configuration and read the log file.
#ifndef KATR_TEST_FRONT_FIXTURE_H
#define KATR_TEST_FRONT_FIXTURE_H

#include <string>

#include "common/temp_dir.h"
#include "front/line.h"
#include "katrace.h"
#include "kor/rw_lock.h"
#include "logfile/logger.h"
#include "manager/trace_manager.h"

class front_test : public temp_dir_test {
protected:
    trace_manager_c* m = nullptr;

    void SetUp() override {
        temp_dir_test::SetUp();
        m = new trace_manager_c;
        g_katr_manager.store(m);
    }
    void TearDown() override {
        katr_set_callback(nullptr);
        g_katr_manager.store(nullptr);
        publish_generation(nullptr);
        delete m;
        temp_dir_test::TearDown();
    }
    // Loads a configuration file holding the log directory and text (the
    // prefix switches all off unless the text sets them).
    void load(const std::string& text) {
        std::string jot = "LogDirectoryName " + dir() + "/log/\nPrintTime off\nPrintFunction off\n"
                          "PrintToDebugVew Off\n" + text + "\n";
        write_file(path("t.jot"), jot);
        katr_init(path("t.jot").c_str(), nullptr);
        mark_ = read_file(log_name()).size();
    }
    // What the log file received since the last load.
    std::string since_load() {
        std::string all = read_file(log_name());
        return mark_ <= all.size() ? all.substr(mark_) : all;
    }
    // The banner line that a change of thread puts in front of a line.
    std::string banner() {
        thread_trace_s* r = m->get_thread_record();
        return "== Thread " + std::to_string(r->sys_id) + " (" + r->display_name() + ") ==\r\n";
    }
    std::string log_name() {
        multi_reader_lock_c hold(*m->lock);
        return m->logger->file_name.c_str();
    }

private:
    size_t mark_ = 0;
};

#endif
