// Message formatting, the callback text, the console test and the function
// names of the host macros: the parts of the front end that need no manager.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "front/line.h"
#include "front/output.h"
#include "katrace.h"
#include "platform/platform.h"
#include "support/tr_stream.h"

namespace {

std::string line_of(const char* format, ...) {
    char buf[KATR_LINE_BUFFER];
    va_list a;
    va_start(a, format);
    size_t n = format_line(buf, format, a);
    va_end(a);
    EXPECT_EQ(n, std::strlen(buf));
    return std::string(buf, n);
}

std::string nl_of(const char* format, ...) {
    char buf[KATR_LINE_BUFFER];
    va_list a;
    va_start(a, format);
    size_t n = format_line_nl(buf, format, a);
    va_end(a);
    return std::string(buf, n);
}

std::string callback_of(const char* format, ...) {
    char buf[KATR_CALLBACK_BUFFER];
    va_list a;
    va_start(a, format);
    size_t n = format_callback_text(buf, format, a);
    va_end(a);
    EXPECT_EQ(n, std::strlen(buf));
    return std::string(buf, n);
}

// A minimal image: DOS header with e_lfanew, NT signature, Subsystem field.
std::vector<unsigned char> pe_image(unsigned subsystem, unsigned nt_offset = 0x80, bool signature = true) {
    std::vector<unsigned char> img(512, 0);
    img[0] = 'M';
    img[1] = 'Z';
    img[0x3C] = static_cast<unsigned char>(nt_offset & 0xFF);
    img[0x3D] = static_cast<unsigned char>(nt_offset >> 8);
    if (nt_offset + 0x5E <= img.size()) {
        if (signature) {
            img[nt_offset] = 'P';
            img[nt_offset + 1] = 'E';
        }
        img[nt_offset + 0x5C] = static_cast<unsigned char>(subsystem);
    }
    return img;
}

}  // namespace

TEST(FormatLine, LengthLimitAndErrorText) {
    std::string s2047(2047, 'a');
    EXPECT_EQ(line_of("%s", s2047.c_str()), s2047);
    EXPECT_EQ(line_of("x%s", s2047.c_str()), "\r\nError!, Formatted string (x%s) is too long!!!\r\n");
    // A huge format is quoted with its first 1948 characters only.
    std::string fmt(3000, 'f');
    std::string quoted = "\r\nError!, Formatted string (" + fmt.substr(0, 1948) + ") is too long!!!\r\n";
    EXPECT_EQ(line_of(fmt.c_str()), quoted);
    EXPECT_LT(quoted.size(), KATR_LINE_BUFFER);
    // A 2046-character line ending in LF grows to 2047 with CR LF; a 2047-one cannot.
    std::string s2045(2045, 'b');
    EXPECT_EQ(line_of("%s\n", s2045.c_str()), s2045 + "\r\n");
    std::string s2046(2046, 'b');
    EXPECT_EQ(line_of("%s\n", s2046.c_str()), s2046 + "\n");
}

TEST(FormatLine, FinalLineFeed) {
    EXPECT_EQ(line_of("a\n"), "a\r\n");
    EXPECT_EQ(line_of("a\r\n"), "a\r\n");
    EXPECT_EQ(line_of("a\r"), "a\r");
    EXPECT_EQ(line_of("\n"), "\r\n");
    EXPECT_EQ(line_of("a\nb\n"), "a\nb\r\n");
    EXPECT_EQ(line_of("%d-%s", 7, "x"), "7-x");
    EXPECT_EQ(line_of(nullptr), "");
}

TEST(FormatLine, NewLineFormsEqualTheJoinedFormat) {
    const char* formats[] = {"", "a", "x=%d", "100%%", "a\n", "%%%"};
    for (const char* f : formats)
        EXPECT_EQ(nl_of(f, 5), line_of((std::string(f) + "\r\n").c_str(), 5)) << f;
    std::string s2045(2045, 'n'), s2046(2046, 'n');
    EXPECT_EQ(nl_of("%s", s2045.c_str()), s2045 + "\r\n");
    EXPECT_EQ(nl_of("%s", s2046.c_str()), "\r\nError!, Formatted string (%s\r\n) is too long!!!\r\n");
    std::string fmt(1947, 'f');
    EXPECT_EQ(nl_of(fmt.c_str()), line_of((fmt + "\r\n").c_str()));
}

TEST(FormatLine, CallbackTextIsFirstLineAndBounded) {
    EXPECT_EQ(callback_of("one\r\ntwo"), "one");
    EXPECT_EQ(callback_of("one\ntwo\r"), "one\ntwo");  // a CR anywhere wins over the LF
    EXPECT_EQ(callback_of("w=%d\n", 5), "w=5");
    std::string big(3000, 'c');
    EXPECT_EQ(callback_of("%s", big.c_str()), big.substr(0, 1023));
    EXPECT_EQ(callback_of(nullptr), "");
}

TEST(ConsoleTest, SyntheticImages) {
    auto console = pe_image(3), windowed = pe_image(2);
    EXPECT_TRUE(image_is_console(console.data(), console.size()));
    EXPECT_FALSE(image_is_console(windowed.data(), windowed.size()));
    auto unsigned_image = pe_image(3, 0x80, false);
    EXPECT_FALSE(image_is_console(unsigned_image.data(), unsigned_image.size()));
    auto no_dos = pe_image(3);
    no_dos[0] = 0x7F;
    EXPECT_FALSE(image_is_console(no_dos.data(), no_dos.size()));
    // e_lfanew pointing outside the readable bytes is refused, not followed.
    auto far = pe_image(3, 0xFFF0);
    EXPECT_FALSE(image_is_console(far.data(), far.size()));
    EXPECT_FALSE(image_is_console(nullptr, 4096));
#if defined(_WIN32)
    EXPECT_TRUE(katr_is_console_application());  // test programs are console programs
#else
    EXPECT_FALSE(katr_is_console_application());  // an ELF image carries no PE headers
#endif
}

TEST(HostMacros, FunctionNameFromSignature) {
    char buf[256];
    struct {
        const char* sig;
        const char* name;
    } cases[] = {
        {"void ns::Conn::send(int)", "ns::Conn::send"},
        {"virtual int Conn::get() const", "Conn::get"},
        {"int main()", "main"},
        {"static void Conn::make(std::map<int, int>&)", "Conn::make"},
        {"std::map<int, int> ns::f(char)", "ns::f"},
        {"void ns::Box<T>::put(U) [with U = int; T = std::pair<int, int>]", "ns::Box<T>::put"},
        {"const char* Conn::name()", "Conn::name"},
        {"Conn::Conn(int)", "Conn::Conn"},
        {"Conn::~Conn()", "Conn::~Conn"},
        {"bool Conn::operator<(const Conn&) const", "Conn::operator<"},
        {"void Conn::operator()(int)", "Conn::operator()"},
        {"bool ns::Conn::operator>(const ns::Conn&) const", "ns::Conn::operator>"},
        {"Conn& Conn::operator<<=(int)", "Conn::operator<<="},
        {"Conn* Conn::operator->()", "Conn::operator->"},
        {"Conn::operator bool() const", "Conn::operator bool"},
        {"void {anonymous}::helper()", "{anonymous}::helper"},
        {"void (anonymous namespace)::helper()", "(anonymous namespace)::helper"},
        {"void __cdecl ns::Conn::send(int)", "ns::Conn::send"},
        {"ns::Conn::send(int)::<lambda()>", "ns::Conn::send"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_STREQ(katr_function_name(c.sig, buf, sizeof buf), c.name) << c.sig;
    EXPECT_STREQ(katr_function_name("void Conn::send()", buf, 5), "Conn");  // cut to fit
    EXPECT_STREQ(katr_function_name(nullptr, buf, sizeof buf), "");
    EXPECT_STREQ(katr_base_name("/a/b\\c.cpp"), "c.cpp");
}

TEST(LineAssembly, TimePieceAndNumbers) {
    char buf[KATR_TIME_PIECE];
    size_t n = format_time_piece(plat_time(), buf);
    ASSERT_EQ(n, 22u);
    EXPECT_EQ(buf[0], '(');
    EXPECT_EQ(buf[5], '/');
    EXPECT_EQ(std::string(buf + 20), ") ");
    size_t len = 0;
    const char* cached = current_time_piece(&len);
    EXPECT_EQ(len, 22u);
    EXPECT_EQ(std::string(cached, 5), std::string(buf, 5));
    tr_stream_c out;
    append_decimal(out, 0ULL);
    append_decimal(out, -12LL);
    append_decimal(out, 18446744073709551615ULL);
    EXPECT_STREQ(out.c_str(), "0-1218446744073709551615");
}
