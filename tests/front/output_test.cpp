// The parts of the front end that need no manager: message formatting, the
// callback text, the console test and the function names of the host macros.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "front/line.h"
#include "front/output.h"
#include "katrace.h"
#include "support/tr_stream.h"

namespace {
enum kind_e { LINE, LINE_NL, CALLBACK };
std::string formatted(kind_e kind, const char* format, ...) {
    std::vector<char> buf(kind == CALLBACK ? KATR_CALLBACK_BUFFER : KATR_LINE_BUFFER);  // exact: asan sees overruns
    va_list a;
    va_start(a, format);
    size_t n = kind == LINE      ? format_line(buf.data(), format, a)
               : kind == LINE_NL ? format_line_nl(buf.data(), format, a)
                                 : format_callback_text(buf.data(), format, a);
    va_end(a);
    if (kind != LINE_NL) { EXPECT_EQ(n, std::strlen(buf.data())); }
    return std::string(buf.data(), n);
}
std::string too_long(const std::string& f) { return "\r\nError!, Formatted string (" + f + ") is too long!!!\r\n"; }
}  // namespace

TEST(Formatting, LimitsLineEndsAndCallbackText) {
    const std::string a2045(2045, 'a'), a2046(2046, 'a'), a2047(2047, 'a'), c3000(3000, 'c'), f3000(3000, 'f'),
        f1947(1947, 'f');
    struct { kind_e kind; const char* format; const char* arg; std::string want; } cases[] = {
        {LINE, "%s", a2047.c_str(), a2047}, {LINE, "x%s", a2047.c_str(), too_long("x%s")},
        {LINE, f3000.c_str(), "", too_long(f3000.substr(0, 1948))},  // the format quoted up to 1948 characters
        {LINE, "%s\n", a2045.c_str(), a2045 + "\r\n"},               // the final LF grows to CR LF while it fits
        {LINE, "%s\n", a2046.c_str(), a2046 + "\n"}, {LINE, "a\n", "", "a\r\n"}, {LINE, "a\r\n", "", "a\r\n"},
        {LINE, "a\r", "", "a\r"}, {LINE, "\n", "", "\r\n"}, {LINE, "a\nb\n", "", "a\nb\r\n"}, {LINE, nullptr, "", ""},
        {LINE_NL, "%s", a2045.c_str(), a2045 + "\r\n"}, {LINE_NL, "%s", a2046.c_str(), too_long("%s\r\n")},
        {LINE_NL, f1947.c_str(), "", f1947 + "\r\n"}, {CALLBACK, "one\r\ntwo", "", "one"},
        {CALLBACK, "one\ntwo\r", "", "one\ntwo"},  // a CR anywhere wins over the LF
        {CALLBACK, "w=%s\n", "5", "w=5"}, {CALLBACK, "%s", c3000.c_str(), c3000.substr(0, 1023)}, {CALLBACK, nullptr, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format ? c.format : "(null)").substr(0, 20));
        EXPECT_EQ(formatted(c.kind, c.format, c.arg), c.want);
    }
    // A format with a new line equals the format joined with CR LF.
    for (const char* f : {"", "a", "x=%d", "100%%", "a\n", "%%%"})
        EXPECT_EQ(formatted(LINE_NL, f, 5), formatted(LINE, (std::string(f) + "\r\n").c_str(), 5)) << f;
}

// Synthetic images: DOS header with e_lfanew, NT signature, Subsystem field.
TEST(ConsoleTest, SyntheticImages) {
    struct { unsigned subsystem, nt_offset; char sig, mz; bool console; } cases[] = {
        {3, 0x80, 'P', 'M', true}, {2, 0x80, 'P', 'M', false}, {3, 0x80, 0, 'M', false}, {3, 0x80, 'P', 0x7F, false}, {3, 0xFFF0, 'P', 'M', false}};  // e_lfanew beyond the bytes
    for (const auto& c : cases) {
        std::vector<unsigned char> img(512, 0);
        img[0] = static_cast<unsigned char>(c.mz), img[1] = 'Z';
        img[0x3C] = static_cast<unsigned char>(c.nt_offset), img[0x3D] = static_cast<unsigned char>(c.nt_offset >> 8);
        if (c.nt_offset + 0x5E <= img.size())
            img[c.nt_offset] = static_cast<unsigned char>(c.sig), img[c.nt_offset + 1] = 'E',
            img[c.nt_offset + 0x5C] = static_cast<unsigned char>(c.subsystem);
        EXPECT_EQ(image_is_console(img.data(), img.size()), c.console) << c.subsystem << " " << c.nt_offset;
    }
#if defined(_WIN32)
    EXPECT_TRUE(katr_is_console_application());  // test programs are console programs
#else
    EXPECT_FALSE(katr_is_console_application());  // an ELF image carries no PE headers
#endif
}

TEST(HostMacros, FunctionNameFromSignature) {
    char buf[256];
    const char* cases[][2] = {
        {"void ns::Conn::send(int)", "ns::Conn::send"}, {"virtual int Conn::get() const", "Conn::get"}, {"int main()", "main"},
        {"static void Conn::make(std::map<int, int>&)", "Conn::make"}, {"std::map<int, int> ns::f(char)", "ns::f"},
        {"Conn::Conn(int)", "Conn::Conn"}, {"Conn::~Conn()", "Conn::~Conn"}, {"void Conn::operator()(int)", "Conn::operator()"},
        {"bool Conn::operator<(const Conn&) const", "Conn::operator<"},
        {"void ns::Box<T>::put(U) [with U = int; T = std::pair<int, int>]", "ns::Box<T>::put"},
        {"bool ns::Conn::operator>(const ns::Conn&) const", "ns::Conn::operator>"}, {"", ""},
        {"Conn& Conn::operator<<=(int)", "Conn::operator<<="}, {"Conn* Conn::operator->()", "Conn::operator->"},
        {"Conn::operator bool() const", "Conn::operator bool"}, {"void {anonymous}::helper()", "{anonymous}::helper"},
        {"void (anonymous namespace)::helper()", "(anonymous namespace)::helper"},
        {"void __cdecl ns::Conn::send(int)", "ns::Conn::send"}, {"ns::Conn::send(int)::<lambda()>", "ns::Conn::send"},
    };
    for (const auto& c : cases) EXPECT_STREQ(katr_function_name(c[0], buf, sizeof buf), c[1]) << c[0];
    EXPECT_STREQ(katr_function_name("void Conn::send()", buf, 5), "Conn");  // cut to fit
    EXPECT_STREQ(katr_base_name("/a/b\\c.cpp"), "c.cpp");
    tr_stream_c out;
    append_decimal(out, 0ULL), append_decimal(out, -12LL), append_decimal(out, 18446744073709551615ULL);
    EXPECT_STREQ(out.c_str(), "0-1218446744073709551615");
}
