// printf formats read into argument plans, and arguments taken by a plan.
#include "blackbox/box_arguments.h"

#include <cstring>
#include <cwchar>

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// The C type of a conversion with its length modifier; BOX_C_END when the
// conversion is unknown.
uint8_t type_of(char conv, const char* length, size_t n) {
    const bool h = n > 0 && length[0] == 'h';
    const bool l1 = n == 1 && length[0] == 'l';
    const bool wide64 = (n == 2 && length[0] == 'l' && length[1] == 'l') || (n == 1 && std::strchr("jztqL", length[0])) ||
                        (n == 3 && std::strncmp(length, "I64", 3) == 0) || (n == 1 && length[0] == 'I');
    switch (conv) {
    case 'd':
    case 'i': return wide64 ? BOX_C_LLONG : l1 ? BOX_C_LONG : BOX_C_INT;
    case 'o':
    case 'u':
    case 'x':
    case 'X': return wide64 ? BOX_C_ULLONG : l1 ? BOX_C_ULONG : BOX_C_UINT;
    case 'c':
    case 'C': return BOX_C_UINT;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A': return n == 1 && length[0] == 'L' ? BOX_C_LDOUBLE : BOX_C_DOUBLE;
    case 'p': return BOX_C_POINTER;
    case 's': return l1 || (n == 1 && length[0] == 'w') ? BOX_C_WSTRING : h || n == 0 ? BOX_C_STRING : BOX_C_END;
    case 'S': return BOX_C_WSTRING;
    case 'n': return BOX_C_REFUSED;
    default: return BOX_C_END;
    }
}

}  // namespace

void box_plan_format(const char* format, box_plan_s* plan) {
    memset(plan, 0, sizeof *plan);
    if (!format) return;
    auto add = [plan](uint8_t type) {
        if (plan->count >= BOX_MAX_ARGS) return false;
        plan->type[plan->count++] = type;
        return true;
    };
    for (const char* p = format; *p;) {
        if (*p++ != '%') continue;
        if (*p == '%') {
            ++p;
            continue;
        }
        while (*p && std::strchr("-+ #0'", *p)) ++p;
        if (*p == '*') {
            if (!add(BOX_C_INT)) return;
            ++p;
        } else {
            while (digit(*p)) ++p;
        }
        uint8_t bound = BOX_BOUND_NONE;
        unsigned long precision = 0;
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                if (!add(BOX_C_INT)) return;
                bound = BOX_BOUND_STAR;
                ++p;
            } else {
                bound = BOX_BOUND_LITERAL;
                while (digit(*p)) {
                    if (precision <= 0xFFFF) precision = precision * 10 + static_cast<unsigned>(*p - '0');
                    ++p;
                }
            }
        }
        const char* length = p;
        while (*p && std::strchr("hljztLqw", *p)) ++p;
        if (*p == 'I') p += std::strncmp(p, "I64", 3) == 0 || std::strncmp(p, "I32", 3) == 0 ? 3 : 1;
        const size_t n = static_cast<size_t>(p - length);
        if (!*p) return;
        // "I32" is the plain width on Windows.
        const uint8_t type = n == 3 && length[1] == '3' ? type_of(*p, "", 0) : type_of(*p, length, n);
        ++p;
        if (type == BOX_C_END || !add(type)) return;
        if (type == BOX_C_REFUSED) plan->refused = true;
        if (type == BOX_C_STRING || type == BOX_C_WSTRING) {
            plan->bound[plan->count - 1] = bound;
            plan->precision[plan->count - 1] = static_cast<uint16_t>(precision > 0xFFFF ? 0xFFFF : precision);
        }
    }
}

namespace {

// A wide string as 7-bit text in room (cut at BOX_MAX_STRING characters).
const char* narrow(const wchar_t* w, size_t limit, char* room) {
    size_t i = 0;
    for (; i < limit && i < BOX_MAX_STRING && w[i]; ++i) room[i] = w[i] > 0 && w[i] < 0x80 ? static_cast<char>(w[i]) : '?';
    room[i] = 0;
    return room;
}

}  // namespace

unsigned box_take_arguments(const box_plan_s& plan, va_list arguments, box_arg_s* out, box_wide_room_s* room) {
    unsigned wide = 0;
    for (unsigned i = 0; i < plan.count; ++i) {
        box_arg_s& a = out[i];
        a.limit = SIZE_MAX;
        switch (plan.type[i]) {
        case BOX_C_INT: a.kind = BOX_ARG_INT, a.i = va_arg(arguments, int); break;
        case BOX_C_UINT: a.kind = BOX_ARG_UINT, a.u = va_arg(arguments, unsigned); break;
        case BOX_C_LONG: a.kind = BOX_ARG_INT, a.i = va_arg(arguments, long); break;
        case BOX_C_ULONG: a.kind = BOX_ARG_UINT, a.u = va_arg(arguments, unsigned long); break;
        case BOX_C_LLONG: a.kind = BOX_ARG_INT, a.i = va_arg(arguments, long long); break;
        case BOX_C_ULLONG: a.kind = BOX_ARG_UINT, a.u = va_arg(arguments, unsigned long long); break;
        case BOX_C_DOUBLE: a.kind = BOX_ARG_DOUBLE, a.d = va_arg(arguments, double); break;
        case BOX_C_LDOUBLE: a.kind = BOX_ARG_DOUBLE, a.d = static_cast<double>(va_arg(arguments, long double)); break;
        case BOX_C_POINTER: a.kind = BOX_ARG_POINTER, a.p = va_arg(arguments, void*); break;
        case BOX_C_REFUSED:
            (void)va_arg(arguments, void*);
            a.kind = BOX_ARG_UINT, a.u = 0;
            break;
        case BOX_C_STRING:
        case BOX_C_WSTRING: {
            if (plan.bound[i] == BOX_BOUND_LITERAL) a.limit = plan.precision[i];
            // A negative '*' precision is none.
            if (plan.bound[i] == BOX_BOUND_STAR && i > 0 && out[i - 1].i >= 0) a.limit = static_cast<size_t>(out[i - 1].i);
            a.kind = BOX_ARG_STRING;
            if (plan.type[i] == BOX_C_STRING) {
                a.s = va_arg(arguments, const char*);
            } else {
                const wchar_t* w = va_arg(arguments, const wchar_t*);
                a.s = w && room && wide < box_wide_room_s::STRINGS ? narrow(w, a.limit, room->text[wide++]) : nullptr;
            }
            break;
        }
        default: return i;
        }
    }
    return plan.count;
}
