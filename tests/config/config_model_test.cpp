// The configuration model: the two tables, string lists, pattern names and
// the storing and merging of rank rules. The defaults show in the report of
// a fresh configuration (report tests).
#include <gtest/gtest.h>

#include <string>

#include "config_text.h"

namespace {

config_parser_c::log_rank_s* set(config_parser_c::log_rank_s* r, bool relative, unsigned add, unsigned remove)
{
    r->relative = relative;
    r->add_ranks = add;
    r->remove_ranks = remove;
    return r;
}

config_parser_c::log_rank_s* rule(const char* name, bool relative, unsigned add, unsigned remove)
{
    return set(new config_parser_c::log_rank_s(name), relative, add, remove);
}

} // namespace

TEST(ConfigModel, TablesListsAndSections)
{
    // Rank words compare byte for byte; "devel" and "usr3" are aliases. The
    // keywords are exercised by the syntax tests; an unknown id has a name.
    EXPECT_EQ(config_parser_c::find_rank_mask("Debug"), 0u);
    EXPECT_EQ(config_parser_c::find_rank_mask("devel"), 0x100u);
    EXPECT_EQ(config_parser_c::find_rank_mask("usr3"), 0x1000u);
    EXPECT_STREQ(config_parser_c::find_rank_name(0xFFFFFFFF), "All");
    EXPECT_STREQ(config_parser_c::find_rank_name(0x3), "UNKNOWN");
    EXPECT_STREQ(config_parser_c::keyword_name(99), "BadKeyValue");
    // Each rule list has its own critical section.
    config_parser_c c;
    EXPECT_NE(c.file_ranks.cs(), nullptr);
    EXPECT_NE(c.file_ranks.cs(), c.class_ranks.cs());
    EXPECT_EQ(c.additional_ranks.cs(), nullptr);

    str_list_c l;  // string lists: walks pass null elements
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

TEST(ConfigModel, StoreOrdersPlainBeforePatternsAndMerges)
{
    config_parser_c c;
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("a.cpp", true, 0x80, 0)));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("*.h", true, 0x10, 0)));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("b.cpp", false, 0x2, 0)));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("*.c", true, 0x1, 0)));
    EXPECT_EQ(rules_of(c.file_ranks), "b.cpp:a/2/0 a.cpp:r/128/0 *.h:r/16/0 *.c:r/1/0 ");
    // The same name (byte-wise): merged, or dropped as a duplicate; other case: a new rule.
    EXPECT_FALSE(config_parser_c::store_rank_rule(c.file_ranks, rule("a.cpp", true, 0x1, 0x80)));
    EXPECT_FALSE(config_parser_c::store_rank_rule(c.file_ranks, rule("*.h", false, 0x4, 0), false));
    EXPECT_TRUE(config_parser_c::store_rank_rule(c.file_ranks, rule("A.cpp", true, 0x1, 0)));
    EXPECT_EQ(rules_of(c.file_ranks), "A.cpp:r/1/0 b.cpp:a/2/0 a.cpp:r/1/128 *.h:r/16/0 *.c:r/1/0 ");

    // Merging: a relative rule into an absolute one stays absolute; two
    // relative ones combine; an absolute new rule replaces.
    const struct { bool rel; unsigned add, remove; bool new_rel; unsigned new_add, new_remove; const char* merged; } merges[] = {
        {false, 0x6, 0, true, 0x80, 0x4, ":a/130/0 "},
        {true, 0x3, 0x30, true, 0x10, 0x1, ":r/18/33 "},
        {true, 0x3, 0x30, false, 0x8, 0, ":a/8/0 "},
    };
    for (const auto& m : merges) {
        config_parser_c::log_rank_s stored(nullptr), added(nullptr);
        config_parser_c::merge_rank_rule(*set(&stored, m.rel, m.add, m.remove), *set(&added, m.new_rel, m.new_add, m.new_remove));
        EXPECT_EQ(text_of(stored), m.merged);
    }
}
