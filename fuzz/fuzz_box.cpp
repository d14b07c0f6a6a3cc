// Fuzz target of the black-box decoder: a box recorded once at start (two
// threads' messages, scopes and strings, a ring that has wrapped) is
// changed by the input, a patch of bytes at offsets the input names, and
// cut to a length the input may choose; then every event is decoded and
// printed as katr_box prints it. Nothing may crash, leak or read outside
// the bytes; the events are also written as a timeline.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "blackbox/box_decoder.h"
#include "blackbox/box_format.h"
#include "blackbox/box_recorder.h"
#include "blackbox/box_timeline.h"
#include "platform/platform.h"

namespace {

std::vector<uint64_t> make_box() {
    const std::string path = "/tmp/katr_fuzz_box_" + std::to_string(plat_pid()) + ".kbox";
    box_recorder_s* r = box_open(path.c_str(), BOX_MIN_SIZE, 16, "fuzz");
    if (!r) return {};
    box_writer_s* a = box_thread_attach(r, 1, "one");
    box_writer_s* b = box_thread_attach(r, 2, nullptr);
    const uint32_t scope = box_site_id(r, "F::run", "f.cpp", 3, nullptr);
    const uint32_t msg = box_site_id(r, "F::run", "f.cpp", 4, "%d %s %5.1f %p %u %.*s %n%%");
    const std::string long_text(300, 'x');
    for (int i = 0; i < 300; ++i) {
        box_arg_s args[7];
        args[0].kind = BOX_ARG_INT, args[0].i = i;
        args[1].kind = BOX_ARG_STRING, args[1].s = i % 2 ? "short" : long_text.c_str();
        args[2].kind = BOX_ARG_DOUBLE, args[2].d = i / 3.0;
        args[3].kind = BOX_ARG_POINTER, args[3].p = &args;
        args[4].kind = BOX_ARG_UINT, args[4].u = static_cast<uint64_t>(i) * 7;
        args[5].kind = BOX_ARG_INT, args[5].i = 3;
        args[6].kind = BOX_ARG_STRING, args[6].s = nullptr;
        box_record_scope(i % 3 ? a : b, BOX_REC_ENTER, scope, 1);
        box_record_message(i % 3 ? a : b, msg, 0x80, 2, args, 7);
        box_record_scope(i % 3 ? a : b, BOX_REC_LEAVE, scope, 1);
    }
    size_t size = 0;
    const unsigned char* bytes = box_bytes(r, &size);
    std::vector<uint64_t> copy(size / 8);
    std::memcpy(copy.data(), bytes, size);
    box_thread_detach(r, a);
    box_thread_detach(r, b);
    box_close(r);
    std::remove(path.c_str());
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint64_t> box = make_box();
    if (box.empty()) return 0;
    std::vector<uint64_t> bytes = box;
    unsigned char* p = reinterpret_cast<unsigned char*>(bytes.data());
    size_t length = bytes.size() * 8;
    // Patches of 4 bytes: a 24-bit offset into the box and the byte to
    // store there.
    size_t i = 0;
    if (size % 4 == 3 && size >= 3) {  // an odd tail first: the length to cut to
        length = (static_cast<size_t>(data[0]) << 16 | static_cast<size_t>(data[1]) << 8 | data[2]) % (length + 1);
        i = 3;
    }
    for (; i + 4 <= size; i += 4) {
        const size_t at = (static_cast<size_t>(data[i]) << 16 | static_cast<size_t>(data[i + 1]) << 8 | data[i + 2]) % (bytes.size() * 8);
        p[at] = data[i + 3];
    }
    box_decoder_c d;
    if (!d.open(p, length)) return 0;
    std::vector<box_event_s> events;
    d.read_all(&events);
    std::vector<std::string> names(d.region_count());
    for (unsigned i = 0; i < d.region_count(); ++i) names[i] = d.thread_of(i).name;
    size_t total = 0;
    for (const box_event_s& e : events) total += box_event_line(e, names[e.region]).size();
    total += box_timeline_json(events, names, d.pid()).size();
    return total == static_cast<size_t>(-1);
}
