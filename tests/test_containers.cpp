// The host's array and list templates: growth steps, copies, moves and the
// exceptions the host expects from them.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRArray.h"
#include "KRList.h"
#include "KRString.h"

using KRC::KRArray;
using KRC::KRList;
using KRC::KRString;

namespace {

KRArray<int> Filled(int count, int growBy = 0)
{
    KRArray<int> a;
    a.SetGrowBy(growBy);
    for (int i = 0; i < count; ++i)
        a.Add(i * 10);
    return a;
}

template <class T>
std::vector<T> Items(const KRList<T>& list)
{
    std::vector<T> items;
    for (const T& v : list)
        items.push_back(v);
    return items;
}

template <class T>
KRList<T> ListOf(std::initializer_list<T> values)
{
    KRList<T> list;
    for (const T& v : values)
        list.AddTail(v);
    return list;
}

} // namespace

// ---------------------------------------------------------------- growth

TEST(ArrayGrowth, GeometricCapacitySequence)
{
    KRArray<int> a;
    EXPECT_EQ(a.Add(7), 0);
    EXPECT_EQ(a.GetCapacity(), 1);
    const int expected[] = {2, 3, 4, 6, 6, 9};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(a.Add(i), i + 1);
        EXPECT_EQ(a.GetCapacity(), expected[i]) << "after Add #" << i + 2;
    }
}

TEST(ArrayGrowth, GrowByStepsAdd)
{
    KRArray<int> a;
    a.SetSize(16);
    ASSERT_EQ(a.GetCapacity(), 16);
    a.SetGrowBy(16);
    EXPECT_EQ(a.Add(1), 16);
    EXPECT_EQ(a.GetCapacity(), 32);
}

TEST(ArrayGrowth, GrowByStepsSetSize)
{
    KRArray<int> a;
    a.SetSize(10);
    ASSERT_EQ(a.GetCapacity(), 10);
    a[9] = 5;
    a.SetGrowBy(16);
    a.SetSize(20); // 10 + (20 rounded up past a multiple of 16 = 32)
    EXPECT_EQ(a.GetCapacity(), 42);
    EXPECT_EQ(a.GetSize(), 20);
    EXPECT_EQ(a[9], 5);
    for (int i = 10; i < 20; ++i)
        EXPECT_EQ(a[i], 0);
    a.SetSize(32); // a multiple of the step adds a whole step more, but fits
    EXPECT_EQ(a.GetCapacity(), 42);
}

TEST(ArrayGrowth, ShrinkingRemovingAndFreeing)
{
    KRArray<int> a = Filled(5);
    KRArray<int> b;
    b = std::move(a);
    ASSERT_EQ(b.GetCapacity(), 6);
    b.SetSize(2);
    EXPECT_EQ(b.GetCapacity(), 6);
    EXPECT_EQ(b.GetSize(), 2);
    b.FreeExtra();
    EXPECT_EQ(b.GetCapacity(), 2);
    EXPECT_EQ(b[1], 10);
    b.RemoveAll();
    EXPECT_EQ(b.GetSize(), 0);
    EXPECT_EQ(b.GetCapacity(), 0);
    EXPECT_EQ(b.GetData(), nullptr);
}

// ---------------------------------------------------------------- copies and moves

TEST(ArrayCopy, CopyConstructorAllocatesExactly)
{
    const KRArray<int> source = Filled(5, 3);
    ASSERT_EQ(source.GetCapacity(), 6);
    KRArray<int> copy(source);
    EXPECT_EQ(copy.GetCapacity(), 5);
    EXPECT_EQ(copy.GetGrowBy(), 3);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(copy[i], i * 10);
    const KRArray<int> empty;
    KRArray<int> emptyCopy(empty);
    EXPECT_EQ(emptyCopy.GetCapacity(), 0);
}

struct AssignCase {
    int targetSize;   //!< elements added one by one, so capacity follows the sequence
    int sourceSize;
    int capacityAfter;
};

class ArrayAssignTest : public ::testing::TestWithParam<AssignCase> {};

TEST_P(ArrayAssignTest, ReusesOrReallocates)
{
    KRArray<int> target = Filled(GetParam().targetSize);
    const int* storageBefore = target.GetData();
    const int capacityBefore = target.GetCapacity();
    const KRArray<int> source = Filled(GetParam().sourceSize, 7);
    target = source;
    EXPECT_EQ(target.GetCapacity(), GetParam().capacityAfter);
    EXPECT_EQ(target.GetSize(), GetParam().sourceSize);
    EXPECT_EQ(target.GetGrowBy(), 7);
    if (GetParam().sourceSize <= capacityBefore) {
        EXPECT_EQ(target.GetData(), storageBefore);
    }
    for (int i = 0; i < GetParam().sourceSize; ++i)
        EXPECT_EQ(target[i], i * 10);
}

INSTANTIATE_TEST_SUITE_P(Cases, ArrayAssignTest,
                         ::testing::Values(AssignCase{5, 2, 6},   // shorter source: storage kept
                                           AssignCase{5, 6, 6},   // fits the spare capacity
                                           AssignCase{4, 5, 6},   // 4 + 4/2
                                           AssignCase{4, 10, 10}, // more than one and a half
                                           AssignCase{0, 3, 3}));

TEST(ArrayCopy, SelfAssignmentKeepsEverything)
{
    KRArray<int> a = Filled(3);
    KRArray<int>& alias = a;
    a = alias;
    a.Copy(alias);
    EXPECT_EQ(a.GetSize(), 3);
    EXPECT_EQ(a[2], 20);
}

TEST(ArrayMove, SourceIsLeftEmptyAndUsable)
{
    KRArray<int> source = Filled(4, 2);
    KRArray<int> moved(std::move(source));
    EXPECT_EQ(moved.GetSize(), 4);
    EXPECT_EQ(source.GetSize(), 0);   // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(source.GetCapacity(), 0);
    EXPECT_EQ(source.Add(1), 0);

    KRArray<int> target = Filled(2);
    target = std::move(moved);
    EXPECT_EQ(target.GetSize(), 4);
    EXPECT_EQ(target.GetGrowBy(), 2);
    EXPECT_EQ(moved.GetSize(), 0); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(moved.Add(5), 0);
}

TEST(ArrayStrings, ElementsAreCopiedNotShared)
{
    KRArray<KRString> a;
    a.Add("one");
    a.Add("two");
    KRArray<KRString> b(a);
    b[0] = "changed";
    KRArray<KRString> c;
    c = a;
    c[1] += "!";
    EXPECT_STREQ(a[0].Cstr(), "one");
    EXPECT_STREQ(a[1].Cstr(), "two");
    EXPECT_STREQ(b[0].Cstr(), "changed");
    EXPECT_STREQ(c[1].Cstr(), "two!");
    a.SetSize(4);
    EXPECT_TRUE(a[3].IsEmpty());
}

TEST(ArrayStrings, AddingAnElementOfTheSameArrayIsSafe)
{
    KRArray<KRString> a;
    a.Add("a long enough text to live on the heap, not inline");
    for (int i = 0; i < 6; ++i) // several of these Adds reallocate
        a.Add(a[i]);
    ASSERT_EQ(a.GetSize(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(a[i].Cstr(), "a long enough text to live on the heap, not inline");
}

// ---------------------------------------------------------------- errors

TEST(ArrayErrors, BadIndicesAndSizesThrowTheHostsMessages)
{
    KRArray<double> a;
    a.SetSize(3);
    const auto expectOutOfRange = [&](auto&& call) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "invalid vector subscript");
        }
    };
    expectOutOfRange([&] { a.GetAt(-1); });
    expectOutOfRange([&] { a.GetAt(3); });
    expectOutOfRange([&] { a[3] = 1.0; });
    expectOutOfRange([&] { a.SetAt(-1, 1.0); });
    try {
        a.SetSize(-1);
        ADD_FAILURE() << "no exception";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "vector too long");
    }
    EXPECT_EQ(a.GetSize(), 3);
}

// ---------------------------------------------------------------- lists

TEST(ListCopy, CopyConstructorAndAssignment)
{
    const KRList<KRString> source = ListOf<KRString>({"a", "b", "c"});
    KRList<KRString> copy(source);
    EXPECT_EQ(copy.GetCount(), 3u);
    EXPECT_EQ(Items(copy), Items(source));

    KRList<KRString> longer = ListOf<KRString>({"1", "2", "3", "4", "5"});
    longer = source; // longer onto shorter: surplus nodes go
    EXPECT_EQ(longer.GetCount(), 3u);
    EXPECT_EQ(Items(longer), Items(source));

    KRList<KRString> shorter = ListOf<KRString>({"x"});
    shorter = source; // missing nodes are appended
    EXPECT_EQ(shorter.GetCount(), 3u);
    EXPECT_EQ(Items(shorter), Items(source));

    KRList<KRString> empty;
    shorter = empty;
    EXPECT_TRUE(shorter.IsEmpty());
    EXPECT_EQ(Items(shorter).size(), 0u);

    KRList<KRString>& alias = copy;
    copy = alias;
    EXPECT_EQ(copy.GetCount(), 3u);
}

TEST(ListMove, SourceIsLeftEmptyAndUsable)
{
    KRList<int> source = ListOf<int>({1, 2, 3});
    KRList<int> moved(std::move(source));
    EXPECT_EQ(Items(moved), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(source.IsEmpty()); // NOLINT(bugprone-use-after-move)
    source.AddTail(9);
    EXPECT_EQ(Items(source), (std::vector<int>{9}));

    KRList<int> target = ListOf<int>({7, 8});
    target = std::move(moved);
    EXPECT_EQ(Items(target), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(moved.GetCount(), 0u); // NOLINT(bugprone-use-after-move)
    moved.AddHead(4);
    moved.AddHead(3);
    EXPECT_EQ(Items(moved), (std::vector<int>{3, 4}));
}
