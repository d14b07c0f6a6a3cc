// The rank filter over configured rules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "config/config_parser.h"

namespace {
// A configuration built from configuration text (none for the empty text).
struct configured {
    config_parser_c c;
    explicit configured(const char* text)
    {
        tr_stream_c messages;
        EXPECT_TRUE((!*text || c.parse_text(text, messages)) && !*messages.c_str()) << messages.c_str();
    }
};
} // namespace

TEST(RankFilter, ClassPart)
{
    const char* cases[][2] = {{"ns::Conn::send", "ns::Conn"}, {"Conn::send", "Conn"}, {"ab:send", "ab"},
                              {"::send", ""}, {"a:send", ""}, {"send", ""}, {"", ""}};
    for (const auto& k : cases) {
        tr_stream_c out;
        EXPECT_EQ(config_parser_c::class_name_of(k[0], out), k[1][0] != 0) << k[0];
        EXPECT_STREQ(out.c_str(), k[1]);
    }
}

TEST(RankFilter, Evaluate)
{
    struct probe { const char* function; const char* file; unsigned mask; };
    const struct { const char* config; std::vector<probe> probes; } cases[] = {
        {"", {{"Conn::send", "conn.cpp", 14}, {nullptr, nullptr, 14}}},  // no rules: the default
        // The absolute rule of the most specific kind wins: function, class, file, module.
        {"Function Conn::send debug\nClass Conn error\nFile conn.cpp fatal\nModuleContent net *.cpp\nModuleRank net trace\n",
         {{"Conn::send", "conn.cpp", 0x80}, {"Conn::send", nullptr, 0x80}, {"Conn::recv", "conn.cpp", 0x4},
          {"recv", "conn.cpp", 0x2}, {"recv", "x.cpp", 0x1}, {"recv", "x.h", 14}}},
        // A relative class rule over an absolute file rule; no class part skips the class step.
        {"Class Conn +debug\nFile conn.cpp error\n",
         {{"Conn::send", "conn.cpp", 0x84}, {"Other::send", "conn.cpp", 0x4}, {"Conn::send", "other.cpp", 14 | 0x80},
          {"send", "other.cpp", 14}, {"::send", "other.cpp", 14}, {nullptr, "conn.cpp", 0x4}}},
        // Module pattern; the file rule removes warning, the function rule (applied last) adds it back.
        {"ModuleContent all_cpp *.cpp\nModuleRank all_cpp +note\nFile x.cpp -warning\nFunction f +warning\n",
         {{"g", "y.cpp", 0x2E}, {"g", "x.h", 14}, {"g", "x.cpp", 0x26}, {"f", "x.cpp", 0x2E}}},
        // The pattern is configured first, the plain name still wins.
        {"File *.cpp debug\nFile conn.cpp error\nFunction *send* +trace\n",
         {{"f", "conn.cpp", 0x4}, {"f", "other.cpp", 0x80}, {"Conn::send_all", "other.cpp", 0x81}}},
        // An absolute module rule replaces the default.
        {"DefaultLoggingRank all\nModuleContent io io.cpp\nModuleRank io error\nFile io.cpp +debug\n",
         {{"f", "io.cpp", 0x84}, {"f", "other.cpp", 0xFFFFFFFF}}},
    };
    for (const auto& k : cases) {
        configured conf(k.config);
        for (const probe& p : k.probes)
            EXPECT_EQ(conf.c.evaluate_rank(p.function, p.file), p.mask)
                << k.config << "| " << (p.function ? p.function : "(null)") << " " << (p.file ? p.file : "(null)");
    }
    configured k("ModuleContent all_cpp *.cpp\nModuleRank all_cpp +note\n");
    config_parser_c::module_rank_s* m = k.c.find_module("Y.CPP");
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "all_cpp");
    EXPECT_TRUE(k.c.find_module(nullptr) == nullptr && config_parser_c().find_module("conn.cpp") == nullptr);
}

