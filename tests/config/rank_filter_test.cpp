// The rank filter over configured rules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "config/config_parser.h"

namespace {

// A configuration built from configuration text.
struct configured {
    config_parser_c c;
    explicit configured(const char* text)
    {
        tr_stream_c messages;
        EXPECT_TRUE(c.parse_text(text, messages)) << messages.c_str();
        EXPECT_STREQ(messages.c_str(), "");
    }
};

} // namespace

TEST(RankFilter, ClassPart)
{
    tr_stream_c out;
    EXPECT_TRUE(config_parser_c::class_name_of("ns::Conn::send", out));
    EXPECT_STREQ(out.c_str(), "ns::Conn");
    EXPECT_TRUE(config_parser_c::class_name_of("Conn::send", out));
    EXPECT_STREQ(out.c_str(), "Conn");
    EXPECT_TRUE(config_parser_c::class_name_of("ab:send", out));
    EXPECT_STREQ(out.c_str(), "ab");
    for (const char* none : {"::send", "a:send", "send", ""}) {
        EXPECT_FALSE(config_parser_c::class_name_of(none, out)) << none;
        EXPECT_STREQ(out.c_str(), "");
    }
    EXPECT_FALSE(config_parser_c::class_name_of(nullptr, out));
}

TEST(RankFilter, NoRulesGiveDefault)
{
    config_parser_c c;
    EXPECT_EQ(c.evaluate_rank("Conn::send", "conn.cpp"), 14u);
    EXPECT_EQ(c.evaluate_rank(nullptr, nullptr), 14u);
    EXPECT_EQ(c.find_module("conn.cpp"), nullptr);
}

TEST(RankFilter, AbsoluteFunctionRuleWins)
{
    configured k("Function Conn::send debug\n"
                 "Class Conn error\nFile conn.cpp fatal\nModuleContent net *.cpp\nModuleRank net trace\n");
    EXPECT_EQ(k.c.evaluate_rank("Conn::send", "conn.cpp"), 0x80u);
    EXPECT_EQ(k.c.evaluate_rank("Conn::send", nullptr), 0x80u);
    EXPECT_EQ(k.c.evaluate_rank("Conn::recv", "conn.cpp"), 0x4u);   // class rule
    EXPECT_EQ(k.c.evaluate_rank("recv", "conn.cpp"), 0x2u);         // file rule
    EXPECT_EQ(k.c.evaluate_rank("recv", "x.cpp"), 0x1u);            // module rule
    EXPECT_EQ(k.c.evaluate_rank("recv", "x.h"), 14u);
}

TEST(RankFilter, RelativeClassOverAbsoluteFile)
{
    configured k("Class Conn +debug\nFile conn.cpp error\n");
    EXPECT_EQ(k.c.evaluate_rank("Conn::send", "conn.cpp"), 0x84u);
    EXPECT_EQ(k.c.evaluate_rank("Other::send", "conn.cpp"), 0x4u);
    EXPECT_EQ(k.c.evaluate_rank("Conn::send", "other.cpp"), 14u | 0x80u);
    // no class part (or a null name) skips the class step; ::send is not a class
    EXPECT_EQ(k.c.evaluate_rank("send", "other.cpp"), 14u);
    EXPECT_EQ(k.c.evaluate_rank("::send", "other.cpp"), 14u);
    EXPECT_EQ(k.c.evaluate_rank(nullptr, "conn.cpp"), 0x4u);
}

TEST(RankFilter, ModulePatternAndRelativeOrder)
{
    configured k("ModuleContent all_cpp *.cpp\nModuleRank all_cpp +note\n"
                 "File x.cpp -warning\nFunction f +warning\n");
    EXPECT_EQ(k.c.evaluate_rank("g", "y.cpp"), 0x2Eu);
    EXPECT_EQ(k.c.evaluate_rank("g", "x.h"), 14u);
    // the file rule removes warning, the function rule (applied last) adds it back
    EXPECT_EQ(k.c.evaluate_rank("g", "x.cpp"), 0x26u);
    EXPECT_EQ(k.c.evaluate_rank("f", "x.cpp"), 0x2Eu);
    config_parser_c::module_rank_s* m = k.c.find_module("Y.CPP");
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "all_cpp");
    EXPECT_EQ(k.c.find_module(nullptr), nullptr);
}

TEST(RankFilter, PlainNameBeforePattern)
{
    // the pattern is configured first, the plain name still wins
    configured k("File *.cpp debug\nFile conn.cpp error\nFunction *send* +trace\n");
    EXPECT_EQ(k.c.evaluate_rank("f", "conn.cpp"), 0x4u);
    EXPECT_EQ(k.c.evaluate_rank("f", "other.cpp"), 0x80u);
    EXPECT_EQ(k.c.evaluate_rank("Conn::send_all", "other.cpp"), 0x81u);
}

TEST(RankFilter, AbsoluteModuleReplacesDefault)
{
    configured k("DefaultLoggingRank all\nModuleContent io io.cpp\nModuleRank io error\nFile io.cpp +debug\n");
    EXPECT_EQ(k.c.evaluate_rank("f", "io.cpp"), 0x84u);
    EXPECT_EQ(k.c.evaluate_rank("f", "other.cpp"), 0xFFFFFFFFu);
}

// Many threads evaluate while another keeps adding and merging rules and
// module content under the lists' critical sections.
TEST(RankFilterConcurrent, EvaluateWhileRulesChange)
{
    configured k("File *.cpp +debug\nClass Conn +note\nModuleContent net net.cpp\nModuleRank net +trace\n");
    std::atomic<bool> stop(false);
    std::atomic<unsigned> bad(0);
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                unsigned m = k.c.evaluate_rank("Conn::send", "net.cpp");
                // the rules only ever add ranks to these
                if ((m & 0xA1u) != 0xA1u)
                    bad.fetch_add(1);
            }
        });
    }
    char name[32];
    tr_stream_c messages;
    for (int i = 0; i < 300; ++i) {
        std::snprintf(name, sizeof(name), "f%d.cpp", i);
        config_parser_c::log_rank_s* r = new config_parser_c::log_rank_s(name);
        r->add_ranks = 0x10;
        config_parser_c::store_rank_rule(k.c.file_ranks, r);
        std::snprintf(name, sizeof(name), "ModuleContent net n%d.cpp\n", i);
        k.c.parse_text(name, messages);
        k.c.parse_text("Class Conn +var\nFunction Conn::* +log\n", messages);
        std::snprintf(name, sizeof(name), "Class C%d +qa\n", i);
        k.c.parse_text(name, messages);
    }
    stop.store(true);
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(bad.load(), 0u);
    EXPECT_STREQ(messages.c_str(), "");
    EXPECT_EQ(k.c.evaluate_rank("Conn::send", "net.cpp"), 14u | 0x80u | 0x20u | 0x1u | 0x40u | 0x10u);
}
