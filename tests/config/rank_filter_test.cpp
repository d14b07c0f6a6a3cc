// The rank filter over configured rules.
#include <gtest/gtest.h>

#include <vector>

#include "config/config_parser.h"
#include "katrace.h"

namespace {
// A configuration built from configuration text (none for the empty text).
struct configured {
    config_parser_c c;
    explicit configured(const char* text) {
        tr_stream_c messages;
        EXPECT_TRUE(!*text || c.parse_text(text, messages)) << messages.c_str();
        EXPECT_STREQ(messages.c_str(), "");
    }
};
}  // namespace

TEST(RankFilter, ClassPart) {
    const char* cases[][2] = {{"ns::Conn::send", "ns::Conn"}, {"Conn::send", "Conn"}, {"ab:send", "ab"}, {"::send", ""}, {"a:send", ""}, {"send", ""}, {"", ""}};
    for (const auto& k : cases) {
        tr_stream_c out;
        EXPECT_EQ(config_parser_c::class_name_of(k[0], out), k[1][0] != 0) << k[0];
        EXPECT_STREQ(out.c_str(), k[1]);
    }
}

TEST(RankFilter, Evaluate) {
    // The configuration's default rank: fatal, error and warning.
    const unsigned DEFAULT_RANKS = KATR_RANK_FATAL | KATR_RANK_ERROR | KATR_RANK_WARNING;
    struct probe { const char *function, *file; unsigned mask; };
    const struct { const char* config; std::vector<probe> probes; } cases[] = {
        {"", {{"Conn::send", "conn.cpp", DEFAULT_RANKS}, {nullptr, nullptr, DEFAULT_RANKS}}},  // no rules: the default
        // The absolute rule of the most specific kind wins: function, class, file, module.
        {"Function Conn::send debug\nClass Conn error\nFile conn.cpp fatal\nModuleContent net *.cpp\nModuleRank net trace\n",
         {{"Conn::send", "conn.cpp", KATR_RANK_DEBUG}, {"Conn::send", nullptr, KATR_RANK_DEBUG}, {"Conn::recv", "conn.cpp", KATR_RANK_ERROR}, {"recv", "conn.cpp", KATR_RANK_FATAL}, {"recv", "x.cpp", KATR_RANK_TRACE}, {"recv", "x.h", DEFAULT_RANKS}}},
        // A relative class rule over an absolute file rule; no class part skips the class step.
        {"Class Conn +debug\nFile conn.cpp error\n",
         {{"Conn::send", "conn.cpp", KATR_RANK_ERROR | KATR_RANK_DEBUG}, {"Other::send", "conn.cpp", KATR_RANK_ERROR}, {"Conn::send", "other.cpp", DEFAULT_RANKS | KATR_RANK_DEBUG}, {"send", "other.cpp", DEFAULT_RANKS}, {"::send", "other.cpp", DEFAULT_RANKS}, {nullptr, "conn.cpp", KATR_RANK_ERROR}}},
        // Module pattern; the file rule removes warning, the function rule (applied last) adds it back.
        {"ModuleContent all_cpp *.cpp\nModuleRank all_cpp +note\nFile x.cpp -warning\nFunction f +warning\n",
         {{"g", "y.cpp", DEFAULT_RANKS | KATR_RANK_NOTE}, {"g", "x.h", DEFAULT_RANKS}, {"g", "x.cpp", KATR_RANK_FATAL | KATR_RANK_ERROR | KATR_RANK_NOTE}, {"f", "x.cpp", DEFAULT_RANKS | KATR_RANK_NOTE}}},
        // The pattern is configured first, the plain name still wins.
        {"File *.cpp debug\nFile conn.cpp error\nFunction *send* +trace\n",
         {{"f", "conn.cpp", KATR_RANK_ERROR}, {"f", "other.cpp", KATR_RANK_DEBUG}, {"Conn::send_all", "other.cpp", KATR_RANK_TRACE | KATR_RANK_DEBUG}}},
        // Two rules for one name merge: a relative one into an absolute one stays absolute, two
        // relative ones combine, an absolute one replaces.
        {"File a.cpp fatal error\nFile a.cpp +debug -error\nFile b.cpp +trace +fatal -log -note\nFile b.cpp +log -trace\n"
         "File c.cpp +trace +fatal -log -note\nFile c.cpp warning\nDefaultLoggingRank all\n",
         {{"f", "a.cpp", KATR_RANK_FATAL | KATR_RANK_DEBUG}, {"f", "b.cpp", KATR_RANK_ALL & ~(KATR_RANK_TRACE | KATR_RANK_NOTE)}, {"f", "c.cpp", KATR_RANK_WARNING}}},
        // An absolute module rule replaces the default.
        {"DefaultLoggingRank all\nModuleContent io io.cpp\nModuleRank io error\nFile io.cpp +debug\n",
         {{"f", "io.cpp", KATR_RANK_ERROR | KATR_RANK_DEBUG}, {"f", "other.cpp", KATR_RANK_ALL}}},
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
}
