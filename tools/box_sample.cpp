// box_sample: writes a small black box with known events for the tests of
// katr_box: FILE.kbox whole, and FILE.kbox.cut with its second half cut off.
#include <cstdio>
#include <string>

#include "blackbox/box_recorder.h"
#include "platform/platform.h"

// Waits for the clock to move on: events of two threads with the same time
// have no order of their own, and a coarse counter (Wine's is 10 MHz) can
// give two consecutive records the same time.
static void next_tick() {
    const uint64_t now = plat_ticks();
    while (plat_ticks() == now) {
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: box_sample FILE.kbox\n", stderr);
        return 2;
    }
    box_recorder_s* r = box_open(argv[1], BOX_MIN_SIZE, 4, "box_sample");
    if (!r) {
        std::fprintf(stderr, "box_sample: %s cannot be made\n", argv[1]);
        return 1;
    }
    box_writer_s* main_thread = box_thread_attach(r, 11, "main");
    box_writer_s* worker = box_thread_attach(r, 12, "worker");
    const uint32_t run = box_site_id(r, "Demo::run", "demo.cpp", 10, nullptr);
    const uint32_t work = box_site_id(r, "Demo::work", "demo.cpp", 20, nullptr);
    const uint32_t said = box_site_id(r, "Demo::work", "demo.cpp", 22, "%d items from %s, %5.2f%% done");
    const uint32_t warned = box_site_id(r, "Demo::run", "demo.cpp", 12, "late by %ums");
    box_arg_s args[3];
    args[0].kind = BOX_ARG_INT, args[0].i = 3;
    args[1].kind = BOX_ARG_STRING, args[1].s = "disk";
    args[2].kind = BOX_ARG_DOUBLE, args[2].d = 42.5;
    next_tick();
    box_record_scope(main_thread, BOX_REC_ENTER, run, 0);
    next_tick();
    box_record_scope(worker, BOX_REC_ENTER, work, 1);
    next_tick();
    box_record_message(worker, said, 0x80, 1, args, 3);
    next_tick();
    box_record_scope(worker, BOX_REC_LEAVE, work, 1);
    args[0].kind = BOX_ARG_UINT, args[0].u = 250;
    next_tick();
    box_record_message(main_thread, warned, 0x08, 0, args, 1);
    next_tick();
    box_record_scope(main_thread, BOX_REC_LEAVE, run, 0);
    size_t size = 0;
    const unsigned char* bytes = box_bytes(r, &size);
    const std::string cut = std::string(argv[1]) + ".cut";
    FILE* f = std::fopen(cut.c_str(), "wb");
    const bool ok = f && std::fwrite(bytes, 1, size / 2, f) == size / 2;
    if (f) std::fclose(f);
    box_thread_detach(r, main_thread);
    box_thread_detach(r, worker);
    box_close(r);
    return ok ? 0 : 1;
}
