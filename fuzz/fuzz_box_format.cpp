// Fuzz target of the black box's printf handling: a format and arguments
// made from the input are formatted as katr_box formats a recorded message
// (any format, arguments of any kind, too few or too many), and the format
// is read into an argument plan as the recorder reads a site's format.
// Nothing may crash, hang or read outside the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "blackbox/box_arguments.h"
#include "blackbox/box_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The format runs up to the first NUL; then each argument is a kind
    // byte and eight value bytes (a string: a length byte and its bytes).
    const uint8_t* nul = static_cast<const uint8_t*>(memchr(data, 0, size));
    const size_t format_length = nul ? static_cast<size_t>(nul - data) : size;
    const std::string format(reinterpret_cast<const char*>(data), format_length);
    box_plan_s plan;
    box_plan_format(format.c_str(), &plan);
    if (plan.count > BOX_MAX_ARGS) __builtin_trap();

    std::vector<box_value_s> args;
    size_t at = format_length + 1;
    while (at < size && args.size() < 64) {
        box_value_s v;
        v.kind = static_cast<uint8_t>(data[at++] % 8);
        v.bits = 0;
        v.cut = 0;
        if (v.kind == BOX_ARG_STRING) {
            const size_t n = at < size ? data[at++] : 0;
            const size_t take = n < size - at ? n : size - at;
            v.text.assign(reinterpret_cast<const char*>(data + at), take);
            v.cut = static_cast<uint32_t>(n - take);
            at += take;
        } else {
            const size_t take = size - at < 8 ? size - at : 8;
            memcpy(&v.bits, data + at, take);
            at += take;
        }
        args.push_back(v);
    }
    const std::string text = box_format_message(format, args);
    if (text.size() > (format.size() + 1) * 8192 + args.size() * 8192) __builtin_trap();
    return 0;
}
