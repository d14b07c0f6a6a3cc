// Control characters of traced text turned into visible escapes.
#include "support/terminal_text.h"

#include <cstdio>

namespace {

// Appends n bytes to out while there is room; counts them in any case.
class bounded_out_c {
public:
    bounded_out_c(char* out, size_t size) : out_(out), size_(size), length_(0) {}
    void put(const char* p, size_t n) {
        for (size_t i = 0; i < n; ++i, ++length_)
            if (out_ && length_ + 1 < size_) out_[length_] = p[i];
    }
    size_t finish() {
        if (out_ && size_) out_[length_ < size_ ? length_ : size_ - 1] = 0;
        return length_;
    }
private:
    char* out_;
    size_t size_;
    size_t length_;
};

}  // namespace

size_t terminal_text(const char* text, size_t length, char* out, size_t size) {
    bounded_out_c o(out, size);
    for (size_t i = 0; text && i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char escape[8];
        if (c == '\r' && i + 1 < length && text[i + 1] == '\n') continue;
        if (c == '\t' || c == '\r' || c == '\n') {
            o.put(text + i, 1);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            o.put(escape, 4);
        } else if (c == 0xC2 && i + 1 < length && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
            o.put(escape, 6);
            ++i;
        } else {
            o.put(text + i, 1);
        }
    }
    return o.finish();
}
