#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kor/ptr_list.h"

namespace {
int vals[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
int* v(int i) { return &vals[i]; }
char digit(void* p) { return p ? static_cast<char>('0' + *static_cast<int*>(p)) : '-'; }

// The content as digits, walked with an external cursor that leaves the list's own alone.
std::string content(ptr_list_c& l) {
    std::string out;
    ptr_list_c::position_t pos = nullptr;
    for (void* p = l.first(&pos); p; p = l.next(&pos)) out += digit(p);
    return out;
}
void fill(ptr_list_c& l, const char* digits) {
    while (*digits) l.append(v(*digits++ - '0'));
}
// Cursor steps (f first, l last, n next, p prev, c current, r remove_current, b remove_current_move_back)
// on the list's own cursor or on pos; what each answered, '-' for null.
std::string steps(ptr_list_c& l, const char* ops, ptr_list_c::position_t* pos = nullptr) {
    static void* (ptr_list_c::*const fn[])(ptr_list_c::position_t*) = {
        &ptr_list_c::first, &ptr_list_c::last, &ptr_list_c::next, &ptr_list_c::prev,
        &ptr_list_c::current, &ptr_list_c::remove_current, &ptr_list_c::remove_current_move_back};
    std::string out;
    for (const char* names = "flnpcrb"; *ops; ++ops) out += digit((l.*fn[std::strchr(names, *ops) - names])(pos));
    return out;
}
}  // namespace

TEST(PtrList, WalkRemoveAndStopPastTheEnd) {
    ptr_list_c l;
    EXPECT_EQ(steps(l, "flnpcrb"), "-------");
    fill(l, "123"), l.insert(v(0));
    EXPECT_EQ(steps(l, "fnclpnnncfp"), "011323---0-");  // stays past the end
    // Removal while walking answers the next element; at the end, null.
    for (void* p = l.first(); p;) p = (*static_cast<int*>(p) % 2 == 0) ? l.remove_current() : l.next();
    EXPECT_EQ(content(l), "13");
    EXPECT_EQ(steps(l, "lrcfr"), "3--1-");
    EXPECT_EQ(l.num(), 0u);
    fill(l, "789");  // moving back: the cursor lands on the preceding element
    EXPECT_EQ(steps(l, "lbbbl"), "987--");
}

TEST(PtrList, ExternalPositionLeavesListCursorAlone) {
    ptr_list_c l;
    ptr_list_c::position_t pos = nullptr;
    fill(l, "0123");
    EXPECT_EQ(steps(l, "fn"), "01");
    EXPECT_EQ(steps(l, "lp", &pos), "32");
    EXPECT_TRUE(l.set_data(v(9), &pos));
    EXPECT_EQ(steps(l, "c"), "1");
    // Removing through pos the node the list's cursor is on moves that cursor too: it never dangles.
    EXPECT_EQ(steps(l, "fnr", &pos), "019");
    EXPECT_EQ(steps(l, "c"), "9");
    l.insert_before_current(v(5), &pos), l.insert_after_current(v(6), &pos);
    EXPECT_EQ(content(l), "05963");
}
