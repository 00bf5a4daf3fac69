#include "geomlib/g_container.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Plain ints give pointer items with a known address order.
int pool[64];
int* p(int i) { return &pool[i]; }

using Ring = g_container<int*>;

std::vector<int*> contents(const Ring& c) {
    std::vector<int*> out;
    for (uint32_t i = 0; i < c.numberOfItems(); ++i) out.push_back(c.item(i));
    return out;
}

Ring ringOf(std::initializer_list<int> indices) {
    Ring c;
    for (int i : indices) c.append(p(i));
    return c;
}

TEST(GContainer, NewContainerIsEmptyWithNineSlots) {
    Ring c;
    EXPECT_EQ(c.numberOfItems(), 0u);
    EXPECT_TRUE(c.isEmpty());
    EXPECT_FALSE(c.isFull());
    EXPECT_EQ(c.firstSlot(), 1u);
    EXPECT_EQ(c.lastSlot(), 0u);
    EXPECT_EQ(c.containerSize(), 9u);
    EXPECT_EQ(c.maxIndex(), 8u);
    EXPECT_EQ(c.toArray(), nullptr);
    int* out = nullptr;
    EXPECT_FALSE(c.removeFirst(out));
}

TEST(GContainer, EightItemsFillNineSlotsAndGrowthKeepsOrder) {
    Ring c;
    for (int i = 0; i < 8; ++i) c.append(p(i));
    EXPECT_TRUE(c.isFull());
    EXPECT_EQ(c.containerSize(), 9u);
    c.append(p(8));
    EXPECT_EQ(c.containerSize(), 12u);
    EXPECT_FALSE(c.isFull());
    EXPECT_EQ(c.firstSlot(), 1u);
    ASSERT_EQ(c.numberOfItems(), 9u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(c.item(i), p(i));
}

TEST(GContainer, GrowthSequence) {
    Ring c;
    std::vector<uint32_t> sizes{c.containerSize()};
    for (int i = 0; i < 40; ++i) {
        c.append(p(i));
        if (c.containerSize() != sizes.back()) sizes.push_back(c.containerSize());
    }
    EXPECT_EQ(sizes, (std::vector<uint32_t>{9, 12, 15, 19, 24, 30, 38, 48}));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(c.item(i), p(i));
}

TEST(GContainer, WrapAroundAfterRemoveFirst) {
    Ring c;
    for (int i = 0; i < 4; ++i) c.append(p(i));
    int* out = nullptr;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(c.removeFirst(out));
        EXPECT_EQ(out, p(i));
    }
    EXPECT_TRUE(c.isEmpty());
    EXPECT_EQ(c.firstSlot(), 5u);
    // Slots 5..8 then wrap to 0..2.
    for (int i = 10; i < 17; ++i) c.append(p(i));
    EXPECT_EQ(c.lastSlot(), 2u);
    EXPECT_LT(c.lastSlot(), c.firstSlot());
    EXPECT_EQ(c.numberOfItems(), 7u);
    EXPECT_EQ(c.item(0), p(10));
    EXPECT_EQ(c.item(6), p(16));
    // 8 items in 9 slots: full even though wrapped.
    c.append(p(17));
    EXPECT_TRUE(c.isFull());
    EXPECT_EQ(c.containerSize(), 9u);
    // Growth from a wrapped ring unrolls it in order.
    c.append(p(18));
    EXPECT_EQ(c.containerSize(), 12u);
    EXPECT_EQ(c.firstSlot(), 1u);
    ASSERT_EQ(c.numberOfItems(), 9u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(c.item(i), p(10 + i));
    // Removal across the wrap moves the last item into the gap.
    EXPECT_TRUE(c.remove(p(11)));
    EXPECT_EQ(c.item(1), p(18));
}

TEST(GContainer, RemovalMovesLastItemIntoGap) {
    Ring c = ringOf({0, 1, 2});
    int* out = nullptr;
    ASSERT_TRUE(c.removeAt(0, out));
    EXPECT_EQ(out, p(0));
    EXPECT_EQ(contents(c), (std::vector<int*>{p(2), p(1)}));

    Ring d = ringOf({0, 1, 2});
    EXPECT_TRUE(d.remove(p(2)));
    EXPECT_EQ(contents(d), (std::vector<int*>{p(0), p(1)}));
    EXPECT_FALSE(d.remove(p(7)));
    EXPECT_FALSE(d.removeAt(2, out));
    EXPECT_EQ(contents(d), (std::vector<int*>{p(0), p(1)}));
}

TEST(GContainer, RemoveAtStepsLastIndexBackAcrossSlotZero) {
    Ring c;
    for (int i = 0; i < 8; ++i) c.append(p(i));  // slots 1..8
    int* out = nullptr;
    c.removeFirst(out);
    c.append(p(8));  // slot 0
    EXPECT_EQ(c.lastSlot(), 0u);
    ASSERT_TRUE(c.removeAt(7, out));  // the last item itself
    EXPECT_EQ(out, p(8));
    EXPECT_EQ(c.lastSlot(), 8u);
    EXPECT_EQ(c.numberOfItems(), 7u);
    EXPECT_EQ(c.item(6), p(7));
}

TEST(GContainer, FindAndMemberOf) {
    Ring c = ringOf({3, 1, 3});
    uint32_t position = 77;
    EXPECT_FALSE(c.find(p(5), position));
    EXPECT_EQ(position, 77u);
    EXPECT_TRUE(c.find(p(3), position));
    EXPECT_EQ(position, 0u);
    EXPECT_TRUE(c.find(p(1), position));
    EXPECT_EQ(position, 1u);
    EXPECT_TRUE(c.memberOf(p(1)));
    EXPECT_FALSE(c.memberOf(p(2)));
}

TEST(GContainer, ItemOutOfRangeThrows) {
    Ring c = ringOf({0, 1});
    EXPECT_THROW(c.item(2), Fatal_Error);
    EXPECT_THROW(c.item(UINT32_MAX), Fatal_Error);
    const Ring& constRef = c;
    EXPECT_THROW(constRef.item(2), Fatal_Error);
    Ring empty;
    EXPECT_THROW(empty.item(0), Fatal_Error);
    try {
        c.item(5);
        FAIL() << "no exception";
    } catch (const Fatal_Error& e) {
        EXPECT_STREQ(e.what(), "Index out of range.");
        EXPECT_STREQ(e.condition, "index < numberOfItems()");
    }
}

TEST(GContainer, SortUniqueOrdersByAddressAndDropsRepeats) {
    Ring c = ringOf({3, 1, 3, 2});
    c.sortUnique();
    EXPECT_EQ(contents(c), (std::vector<int*>{p(1), p(2), p(3)}));
    EXPECT_EQ(c.firstSlot(), 1u);

    Ring empty;
    empty.sortUnique();
    EXPECT_TRUE(empty.isEmpty());
}

TEST(GContainer, SortUniqueOfWrappedRingStartsAtSlotOne) {
    Ring c;
    for (int i = 0; i < 7; ++i) c.append(p(i));
    int* out = nullptr;
    for (int i = 0; i < 6; ++i) c.removeFirst(out);
    for (int i : {9, 8, 9, 7}) c.append(p(i));
    c.sortUnique();
    EXPECT_EQ(c.firstSlot(), 1u);
    EXPECT_EQ(contents(c), (std::vector<int*>{p(6), p(7), p(8), p(9)}));
}

TEST(GContainer, IntersectionIsSortedAndUnique) {
    Ring a = ringOf({5, 1, 4, 2, 4});
    Ring b = ringOf({4, 3, 5, 6});
    EXPECT_EQ(contents(intersection(a, b)), (std::vector<int*>{p(4), p(5)}));
    EXPECT_EQ(contents(intersection(b, a)), (std::vector<int*>{p(4), p(5)}));
    EXPECT_TRUE(intersection(a, Ring()).isEmpty());
    EXPECT_TRUE(intersection(Ring(), b).isEmpty());
    EXPECT_TRUE(intersection(ringOf({1}), ringOf({2})).isEmpty());
    // Inputs are untouched.
    EXPECT_EQ(contents(a), (std::vector<int*>{p(5), p(1), p(4), p(2), p(4)}));
}

TEST(GContainer, AppendAllReallocatesWhenCombinedCountReachesSlotCount) {
    Ring own = ringOf({0, 1, 2, 3});
    Ring other = ringOf({4, 5, 6, 7, 8});
    own.appendAll(other);
    EXPECT_EQ(own.containerSize(), 12u);  // floor(10 * 1.25)
    EXPECT_EQ(own.firstSlot(), 1u);
    ASSERT_EQ(own.numberOfItems(), 9u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(own.item(i), p(i));
    EXPECT_EQ(other.numberOfItems(), 5u);

    // Below the slot count: no reallocation, the ring keeps its slots.
    Ring small = ringOf({0, 1});
    small.appendAll(ringOf({2, 3}));
    EXPECT_EQ(small.containerSize(), 9u);
    EXPECT_EQ(contents(small), (std::vector<int*>{p(0), p(1), p(2), p(3)}));

    // Exactly one short of the threshold still fits.
    Ring eight = ringOf({0, 1, 2, 3, 4});
    eight.appendAll(ringOf({5, 6, 7}));
    EXPECT_EQ(eight.containerSize(), 9u);
    EXPECT_TRUE(eight.isFull());

    // Empty other: nothing happens.
    Ring same = ringOf({0});
    same.appendAll(Ring());
    EXPECT_EQ(contents(same), (std::vector<int*>{p(0)}));
}

TEST(GContainer, AppendAllOfItselfDoublesTheItems) {
    Ring c = ringOf({0, 1, 2, 3, 4});
    c.appendAll(c);
    EXPECT_EQ(contents(c), (std::vector<int*>{p(0), p(1), p(2), p(3), p(4), p(0), p(1), p(2), p(3), p(4)}));
}

TEST(GContainer, AppendAllFromWrappedSource) {
    Ring source;
    for (int i = 0; i < 8; ++i) source.append(p(i));
    int* out = nullptr;
    for (int i = 0; i < 6; ++i) source.removeFirst(out);
    for (int i = 8; i < 11; ++i) source.append(p(i));  // wraps
    Ring target = ringOf({20});
    target.appendAll(source);
    EXPECT_EQ(contents(target), (std::vector<int*>{p(20), p(6), p(7), p(8), p(9), p(10)}));
}

TEST(GContainer, CopyStartsAtSlotOneAndIsIndependent) {
    Ring c;
    for (int i = 0; i < 6; ++i) c.append(p(i));
    int* out = nullptr;
    for (int i = 0; i < 5; ++i) c.removeFirst(out);
    for (int i = 6; i < 10; ++i) c.append(p(i));  // wrapped, size 9
    Ring copy(c);
    EXPECT_EQ(copy.firstSlot(), 1u);
    EXPECT_EQ(copy.containerSize(), c.containerSize());
    EXPECT_EQ(contents(copy), contents(c));
    copy.append(p(30));
    EXPECT_EQ(c.numberOfItems(), 5u);

    Ring assigned = ringOf({40, 41});
    assigned = c;
    EXPECT_EQ(contents(assigned), contents(c));
    assigned = assigned;
    EXPECT_EQ(contents(assigned), contents(c));

    // A grown container copies with its slot count.
    Ring big;
    for (int i = 0; i < 20; ++i) big.append(p(i));
    Ring bigCopy;
    bigCopy = big;
    EXPECT_EQ(bigCopy.containerSize(), big.containerSize());
    EXPECT_EQ(contents(bigCopy), contents(big));
}

TEST(GContainer, MovedFromContainerIsEmptyAndUsable) {
    Ring c = ringOf({0, 1, 2});
    Ring moved(std::move(c));
    EXPECT_EQ(contents(moved), (std::vector<int*>{p(0), p(1), p(2)}));
    EXPECT_TRUE(c.isEmpty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(c.containerSize(), 9u);
    c.append(p(5));
    EXPECT_EQ(c.item(0), p(5));

    Ring target = ringOf({9});
    target = std::move(moved);
    EXPECT_EQ(contents(target), (std::vector<int*>{p(0), p(1), p(2)}));
    EXPECT_TRUE(moved.isEmpty());  // NOLINT(bugprone-use-after-move)
    moved = target;
    EXPECT_EQ(contents(moved), contents(target));
}

TEST(GContainer, ClearKeepsSlotsAndToArrayCopiesInOrder) {
    Ring c;
    for (int i = 0; i < 12; ++i) c.append(p(i));
    const uint32_t size = c.containerSize();
    auto array = c.toArray();
    ASSERT_NE(array, nullptr);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(array[i], p(i));
    c.clear();
    EXPECT_TRUE(c.isEmpty());
    EXPECT_EQ(c.containerSize(), size);
    EXPECT_EQ(c.firstSlot(), 1u);
    EXPECT_EQ(c.lastSlot(), 0u);
}

}  // namespace
