#include <gtest/gtest.h>

#include <vector>

#include "kor/ptr_list.h"

namespace {

int vals[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

// The list's content as values, walked with an external cursor so that the
// list's own cursor is left alone.
std::vector<int> content(ptr_list_c& l) {
    std::vector<int> out;
    ptr_list_c::position_t pos = nullptr;
    for (void* p = l.first(&pos); p; p = l.next(&pos)) out.push_back(*static_cast<int*>(p));
    return out;
}

void fill(ptr_list_c& l, std::initializer_list<int> v) {
    for (int i : v) l.append(&vals[i]);
}

}  // namespace

TEST(PtrList, EmptyListAnswersNull) {
    ptr_list_c l;
    EXPECT_EQ(l.num(), 0u);
    EXPECT_EQ(l.first(), nullptr);
    EXPECT_EQ(l.last(), nullptr);
    EXPECT_EQ(l.next(), nullptr);
    EXPECT_EQ(l.prev(), nullptr);
    EXPECT_EQ(l.current(), nullptr);
    EXPECT_EQ(l.remove_current(), nullptr);
    EXPECT_FALSE(l.set_data(&vals[1]));
    EXPECT_EQ(l.cs(), nullptr);
    l.lock();  // nothing to take for an unlocked list
    l.unlock();
}

TEST(PtrList, WalkBothWaysAndStopPastTheEnd) {
    ptr_list_c l;
    fill(l, {1, 2, 3});
    l.insert(&vals[0]);
    EXPECT_EQ(l.num(), 4u);
    EXPECT_EQ(content(l), (std::vector<int>{0, 1, 2, 3}));

    EXPECT_EQ(l.first(), &vals[0]);
    EXPECT_EQ(l.next(), &vals[1]);
    EXPECT_EQ(l.current(), &vals[1]);
    EXPECT_EQ(l.last(), &vals[3]);
    EXPECT_EQ(l.prev(), &vals[2]);
    EXPECT_EQ(l.next(), &vals[3]);
    EXPECT_EQ(l.next(), nullptr);
    EXPECT_EQ(l.next(), nullptr);  // stays past the end
    EXPECT_EQ(l.current(), nullptr);
    EXPECT_EQ(l.first(), &vals[0]);
    EXPECT_EQ(l.prev(), nullptr);
}

TEST(PtrList, RemoveCurrentWhileWalking) {
    ptr_list_c l;
    fill(l, {0, 1, 2, 3, 4, 5});
    // Remove the even values in one walk.
    void* p = l.first();
    while (p) {
        if (*static_cast<int*>(p) % 2 == 0)
            p = l.remove_current();
        else
            p = l.next();
    }
    EXPECT_EQ(content(l), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(l.num(), 3u);

    // Removing the last element answers null; emptying from the front works.
    EXPECT_EQ(l.last(), &vals[5]);
    EXPECT_EQ(l.remove_current(), nullptr);
    EXPECT_EQ(l.current(), nullptr);
    while (l.first()) l.remove_current();
    EXPECT_EQ(l.num(), 0u);
    EXPECT_EQ(l.last(), nullptr);

    // Moving back: the cursor lands on the preceding element.
    fill(l, {7, 8, 9});
    l.last();
    EXPECT_EQ(l.remove_current_move_back(), &vals[8]);
    EXPECT_EQ(l.remove_current_move_back(), &vals[7]);
    EXPECT_EQ(l.remove_current_move_back(), nullptr);
    EXPECT_EQ(l.num(), 0u);
}

TEST(PtrList, ExternalPositionLeavesListCursorAlone) {
    ptr_list_c l;
    fill(l, {0, 1, 2, 3});
    EXPECT_EQ(l.first(), &vals[0]);
    l.next();  // list cursor on 1

    ptr_list_c::position_t pos = nullptr;
    EXPECT_EQ(l.last(&pos), &vals[3]);
    EXPECT_EQ(l.prev(&pos), &vals[2]);
    EXPECT_TRUE(l.set_data(&vals[9], &pos));
    EXPECT_EQ(l.current(), &vals[1]);

    // Removing through an external position the node the list's cursor is on
    // moves the list's cursor as well, so it never dangles.
    pos = nullptr;
    l.first(&pos);
    EXPECT_EQ(l.next(&pos), &vals[1]);
    EXPECT_EQ(l.remove_current(&pos), &vals[9]);
    EXPECT_EQ(l.current(), &vals[9]);
    EXPECT_EQ(content(l), (std::vector<int>{0, 9, 3}));

    l.insert_before_current(&vals[5], &pos);
    l.insert_after_current(&vals[6], &pos);
    EXPECT_EQ(content(l), (std::vector<int>{0, 5, 9, 6, 3}));
}

TEST(PtrList, InsertRelativeToCursor) {
    ptr_list_c l;
    fill(l, {1, 3});
    l.first();
    l.next();
    l.insert_before_current(&vals[2]);
    l.insert_after_current(&vals[4]);
    EXPECT_EQ(l.current(), &vals[3]);
    EXPECT_EQ(content(l), (std::vector<int>{1, 2, 3, 4}));
    // Without a cursor: before means the front, after means the end.
    l.last();
    l.next();
    l.insert_before_current(&vals[0]);
    l.insert_after_current(&vals[5]);
    EXPECT_EQ(content(l), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(l.num(), 6u);
}

TEST(PtrList, FindMoveAndSwap) {
    ptr_list_c l;
    fill(l, {0, 1, 2, 3, 4});
    EXPECT_EQ(l.find_data(&vals[2]), &vals[2]);
    EXPECT_EQ(l.current(), &vals[2]);
    EXPECT_EQ(l.find_data(&vals[8]), nullptr);

    auto odd = [](const void* d, void*) { return *static_cast<const int*>(d) % 2 == 1; };
    l.first();
    EXPECT_EQ(l.find_data(odd, nullptr, true), &vals[1]);
    l.next();
    EXPECT_EQ(l.find_data(odd, nullptr, true), &vals[3]);
    l.last();
    l.next();  // no cursor: a backward search starts at the end
    EXPECT_EQ(l.find_data(odd, nullptr, false), &vals[3]);

    l.find_data(&vals[2]);
    EXPECT_TRUE(l.move_current(true));
    EXPECT_EQ(content(l), (std::vector<int>{2, 0, 1, 3, 4}));
    EXPECT_TRUE(l.move_current(false));
    EXPECT_EQ(content(l), (std::vector<int>{0, 1, 3, 4, 2}));

    l.find_data(&vals[1]);
    EXPECT_TRUE(l.move_before_current(&vals[4]));
    EXPECT_TRUE(l.move_after_current(&vals[0]));
    EXPECT_FALSE(l.move_after_current(&vals[1]));  // the cursor's own element
    EXPECT_FALSE(l.move_after_current(&vals[9]));  // absent
    EXPECT_EQ(content(l), (std::vector<int>{4, 1, 0, 3, 2}));

    EXPECT_TRUE(l.replace_positions(0, 4));
    EXPECT_FALSE(l.replace_positions(0, 5));
    EXPECT_EQ(content(l), (std::vector<int>{2, 1, 0, 3, 4}));
}

TEST(PtrList, SortIsStableAndKeepsCursor) {
    struct item_s { int key; int order; };
    std::vector<item_s> items;
    // Keys with many ties, in an order that a non-stable sort would disturb.
    const int keys[] = {3, 1, 2, 3, 1, 0, 2, 3, 1, 0, 2, 2, 1, 3, 0};
    for (int i = 0; i < 15; ++i) items.push_back({keys[i], i});
    ptr_list_c l;
    for (auto& it : items) l.append(&it);
    l.find_data(&items[7]);
    l.sort([](const void* a, const void* b) {
        return static_cast<const item_s*>(a)->key - static_cast<const item_s*>(b)->key;
    });
    EXPECT_EQ(l.current(), &items[7]);
    std::vector<const item_s*> sorted;
    for (void* p = l.first(); p; p = l.next()) sorted.push_back(static_cast<item_s*>(p));
    ASSERT_EQ(sorted.size(), 15u);
    for (size_t i = 1; i < sorted.size(); ++i) {
        ASSERT_LE(sorted[i - 1]->key, sorted[i]->key);
        if (sorted[i - 1]->key == sorted[i]->key) {
            EXPECT_LT(sorted[i - 1]->order, sorted[i]->order);
        }
    }
    // The back links were rebuilt too.
    EXPECT_EQ(l.last(), sorted.back());
    EXPECT_EQ(l.prev(), sorted[13]);
}

TEST(PtrList, CopyIsShallowAndClearKeepsData) {
    ptr_list_c a(true);
    ASSERT_NE(a.cs(), nullptr);
    fill(a, {4, 5, 6});
    ptr_list_c b;
    fill(b, {9});
    EXPECT_TRUE(b.copy(a));
    EXPECT_EQ(content(b), (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(b.first(), a.first());  // the same pointers
    a.clear();
    EXPECT_EQ(a.num(), 0u);
    EXPECT_EQ(a.current(), nullptr);
    EXPECT_EQ(b.num(), 3u);
}
