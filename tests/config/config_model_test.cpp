// The configuration model: defaults, the two tables, string lists, pattern
// names and the storing and merging of rank rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config_parser.h"

namespace {

std::vector<std::string> names_of(config_parser_c::log_rank_list_c& list)
{
    std::vector<std::string> out;
    for (void* e = list.first(); e; e = list.next())
        out.push_back(config_parser_c::log_rank_list_c::rule_of(e)->name);
    return out;
}

config_parser_c::log_rank_s* rule(const char* name, bool relative, unsigned add, unsigned remove)
{
    config_parser_c::log_rank_s* r = new config_parser_c::log_rank_s(name);
    r->relative = relative;
    r->add_ranks = add;
    r->remove_ranks = remove;
    return r;
}

} // namespace

// The defaults show in the report of a fresh configuration (report tests).
TEST(ConfigModel, EachRuleListHasItsOwnSection)
{
    config_parser_c c;
    EXPECT_NE(c.file_ranks.cs(), nullptr);
    EXPECT_NE(c.file_ranks.cs(), c.class_ranks.cs());
    EXPECT_EQ(c.additional_ranks.cs(), nullptr);
}

TEST(ConfigModel, RankAndKeywordTables)
{
    EXPECT_EQ(config_parser_c::find_rank_mask("Debug"), 0u);
    EXPECT_EQ(config_parser_c::find_rank_mask("devel"), 0x100u);
    EXPECT_EQ(config_parser_c::find_rank_mask("usr3"), 0x1000u);
    EXPECT_EQ(config_parser_c::find_rank_mask("all"), 0xFFFFFFFFu);
    EXPECT_STREQ(config_parser_c::find_rank_name(0x80), "debug");
    EXPECT_STREQ(config_parser_c::find_rank_name(0x100), "development");
    EXPECT_STREQ(config_parser_c::find_rank_name(0xFFFFFFFF), "All");
    EXPECT_STREQ(config_parser_c::find_rank_name(0x3), "UNKNOWN");

    EXPECT_EQ(config_parser_c::keyword_id("verbose"), 25u);
    EXPECT_EQ(config_parser_c::keyword_id("Verbose"), 16u);
    EXPECT_EQ(config_parser_c::keyword_id("TraceNumberOfFilesToKeep"), 4u);
    EXPECT_EQ(config_parser_c::keyword_id("ClenAll"), 24u);
    EXPECT_STREQ(config_parser_c::keyword_name(4), "LogNumberOfFilesToKeep");
    EXPECT_STREQ(config_parser_c::keyword_name(16), "PrintOnScreen");
    EXPECT_STREQ(config_parser_c::keyword_name(25), "");
    EXPECT_STREQ(config_parser_c::keyword_name(99), "BadKeyValue");
}

TEST(ConfigModel, AdditionalRankBitIsItsPosition)
{
    config_parser_c c;
    c.additional_ranks.append_string("A");
    c.additional_ranks.append_string("B");
    EXPECT_EQ(c.additional_rank_mask("A"), 0x4000u);
    EXPECT_EQ(c.additional_rank_mask("B"), 0x8000u);
    EXPECT_EQ(c.additional_rank_mask("b"), 0u);
    ASSERT_NE(c.additional_ranks.find_string("A", true), nullptr);
    c.additional_ranks.remove_current_string();
    EXPECT_EQ(c.additional_rank_mask("B"), 0x4000u);
    EXPECT_EQ(c.additional_rank_mask("A"), 0u);
}

TEST(ConfigModel, StringListWalksPastNullElements)
{
    str_list_c l;
    l.append_string("one");
    l.insert_string("zero");
    l.append_string(nullptr);
    l.append_string("Two");
    EXPECT_EQ(l.string_position("two", true), 0u);
    EXPECT_EQ(l.string_position("two", false), 4u);
    char* found = l.find_string("ONE", false);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(l.current(), found);
    EXPECT_EQ(l.find_string(nullptr, false), nullptr);
}

TEST(ConfigModel, PatternNames)
{
    for (const char* plain : {"main.cpp", "Trace_Manager", "A.H", "x.hpp", "y.C", "", "abc123"})
        EXPECT_FALSE(config_parser_c::is_pattern_name(nullptr, plain)) << plain;
    for (const char* pattern : {"*.cpp", "file.txt", "my-file.c", "a.c.h", "ns::func", "a?", "a.cppx"})
        EXPECT_TRUE(config_parser_c::is_pattern_name(nullptr, pattern)) << pattern;
    config_parser_c::log_rank_s r("*.h");
    EXPECT_TRUE(config_parser_c::is_pattern_name(&r, nullptr));
    EXPECT_FALSE(config_parser_c::is_pattern_name(nullptr, nullptr));
}

TEST(ConfigModel, MergeRules)
{
    config_parser_c::log_rank_s stored(nullptr);
    // absolute stored, relative new: stays absolute
    stored.relative = false; stored.add_ranks = 0x6; stored.remove_ranks = 0;
    config_parser_c::log_rank_s added(nullptr);
    added.relative = true; added.add_ranks = 0x80; added.remove_ranks = 0x4;
    config_parser_c::merge_rank_rule(stored, added);
    EXPECT_FALSE(stored.relative);
    EXPECT_EQ(stored.add_ranks, 0x82u);
    EXPECT_EQ(stored.remove_ranks, 0u);

    // both relative
    stored.relative = true; stored.add_ranks = 0x3; stored.remove_ranks = 0x30;
    added.add_ranks = 0x10; added.remove_ranks = 0x1;
    config_parser_c::merge_rank_rule(stored, added);
    EXPECT_TRUE(stored.relative);
    EXPECT_EQ(stored.add_ranks, 0x12u);
    EXPECT_EQ(stored.remove_ranks, 0x21u);

    // absolute new replaces
    added.relative = false; added.add_ranks = 0x8; added.remove_ranks = 0;
    config_parser_c::merge_rank_rule(stored, added);
    EXPECT_FALSE(stored.relative);
    EXPECT_EQ(stored.add_ranks, 0x8u);
    EXPECT_EQ(stored.remove_ranks, 0u);
}

TEST(ConfigModel, StoreOrdersPlainBeforePatternsAndMerges)
{
    config_parser_c c;
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("a.cpp", true, 0x80, 0)));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("*.h", true, 0x10, 0)));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("b.cpp", false, 0x2, 0)));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("*.c", true, 0x1, 0)));
    EXPECT_EQ(names_of(c.file_ranks), (std::vector<std::string>{"b.cpp", "a.cpp", "*.h", "*.c"}));

    // same name (byte-wise): merged, or dropped as a duplicate; other case: a new rule
    EXPECT_FALSE(config_parser_c::store_rank_rule(c.file_ranks, rule("a.cpp", true, 0x1, 0x80)));
    EXPECT_FALSE(config_parser_c::store_rank_rule(c.file_ranks, rule("*.h", false, 0x4, 0), false));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("A.cpp", true, 0x1, 0)));
    EXPECT_EQ(names_of(c.file_ranks), (std::vector<std::string>{"A.cpp", "b.cpp", "a.cpp", "*.h", "*.c"}));
    config_parser_c::log_rank_s* a = config_parser_c::log_rank_list_c::rule_of(c.file_ranks.first());
    a = config_parser_c::log_rank_list_c::rule_of(c.file_ranks.next());
    a = config_parser_c::log_rank_list_c::rule_of(c.file_ranks.next());
    EXPECT_EQ(a->add_ranks, 0x1u);
    EXPECT_EQ(a->remove_ranks, 0x80u);
    EXPECT_TRUE(config_parser_c::log_rank_list_c::rule_of(c.file_ranks.next())->relative);
}
