#include "common/json_reader.h"

#include <cstdlib>
#include <cstring>

const json_value_s* json_value_s::get(const std::string& key) const {
    for (const auto& m : members)
        if (m.first == key) return &m.second;
    return nullptr;
}

namespace {

class json_parser_c {
public:
    explicit json_parser_c(const std::string& text) : s_(text) {}

    bool document(json_value_s* out, std::string* error) {
        const bool ok = value(out, 0) && (space(), at_ == s_.size() || fail("text after the value"));
        if (!ok && error) *error = error_ + " at byte " + std::to_string(at_);
        return ok;
    }

private:
    bool fail(const char* what) {
        if (error_.empty()) error_ = what;
        return false;
    }
    void space() {
        while (at_ < s_.size() && std::strchr(" \t\r\n", s_[at_])) ++at_;
    }
    bool take(char c) {
        space();
        if (at_ < s_.size() && s_[at_] == c) return ++at_, true;
        return false;
    }
    bool word(const char* w) {
        const size_t n = std::strlen(w);
        if (s_.compare(at_, n, w) != 0) return fail("unknown word");
        at_ += n;
        return true;
    }

    bool value(json_value_s* v, int depth) {
        if (depth > 256) return fail("nested too deep");
        space();
        if (at_ >= s_.size()) return fail("unexpected end");
        const char c = s_[at_];
        if (c == '{') return object(v, depth);
        if (c == '[') return array(v, depth);
        if (c == '"') return v->kind = json_value_s::STRING, string(&v->text);
        if (c == 't' || c == 'f') {
            v->kind = json_value_s::BOOLEAN;
            v->boolean = c == 't';
            return word(c == 't' ? "true" : "false");
        }
        if (c == 'n') return v->kind = json_value_s::NUL, word("null");
        return number(v);
    }

    bool object(json_value_s* v, int depth) {
        v->kind = json_value_s::OBJECT;
        ++at_;
        if (take('}')) return true;
        do {
            std::pair<std::string, json_value_s> m;
            space();
            if (!string(&m.first)) return false;
            if (!take(':')) return fail("':' expected");
            if (!value(&m.second, depth + 1)) return false;
            v->members.push_back(std::move(m));
        } while (take(','));
        return take('}') || fail("',' or '}' expected");
    }

    bool array(json_value_s* v, int depth) {
        v->kind = json_value_s::ARRAY;
        ++at_;
        if (take(']')) return true;
        do {
            v->items.emplace_back();
            if (!value(&v->items.back(), depth + 1)) return false;
        } while (take(','));
        return take(']') || fail("',' or ']' expected");
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool number(json_value_s* v) {
        const size_t start = at_;
        auto digits = [&] {
            const size_t from = at_;
            while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
            return at_ > from;
        };
        if (at_ < s_.size() && s_[at_] == '-') ++at_;
        if (at_ < s_.size() && s_[at_] == '0')
            ++at_;
        else if (!digits())
            return fail("value expected");
        if (at_ < s_.size() && s_[at_] == '.' && (++at_, !digits())) return fail("digits expected after '.'");
        if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
            ++at_;
            if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
            if (!digits()) return fail("digits expected in the exponent");
        }
        v->kind = json_value_s::NUMBER;
        v->number = std::strtod(s_.substr(start, at_ - start).c_str(), nullptr);
        return true;
    }

    bool hex4(unsigned* out) {
        if (at_ + 4 > s_.size()) return fail("short \\u escape");
        *out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[at_++];
            const unsigned d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                            : c >= 'A' && c <= 'F'   ? c - 'A' + 10
                                                                                     : 16;
            if (d == 16) return fail("bad \\u escape");
            *out = *out * 16 + d;
        }
        return true;
    }

    static void utf8(unsigned cp, std::string* out) {
        if (cp < 0x80) {
            *out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            *out += static_cast<char>(0xC0 | cp >> 6);
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += static_cast<char>(0xE0 | cp >> 12);
            *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | cp >> 18);
            *out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool string(std::string* out) {
        if (at_ >= s_.size() || s_[at_] != '"') return fail("string expected");
        ++at_;
        while (at_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[at_++]);
            if (c == '"') return true;
            if (c < 0x20) return fail("control character in a string");
            if (c != '\\') {
                *out += static_cast<char>(c);
                continue;
            }
            if (at_ >= s_.size()) break;
            const char e = s_[at_++];
            const char* from = "\"\\/bfnrt";
            const char* to = "\"\\/\b\f\n\r\t";
            if (const char* p = e ? std::strchr(from, e) : nullptr) {
                *out += to[p - from];
            } else if (e == 'u') {
                unsigned cp;
                if (!hex4(&cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00) {
                    unsigned low;
                    if (s_.compare(at_, 2, "\\u") != 0 || (at_ += 2, !hex4(&low)) || low < 0xDC00 || low > 0xDFFF)
                        return fail("lone surrogate");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return fail("lone surrogate");
                }
                utf8(cp, out);
            } else {
                return fail("bad escape");
            }
        }
        return fail("unterminated string");
    }

    const std::string& s_;
    size_t at_ = 0;
    std::string error_;
};

}  // namespace

bool json_parse(const std::string& text, json_value_s* out, std::string* error) {
    *out = json_value_s();
    return json_parser_c(text).document(out, error);
}
