// The host's array and list templates: growth steps, copies, moves and the
// exceptions the host expects from them.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRArray.h"
#include "KRList.h"
#include "KRString.h"

using namespace KRC;

namespace {

KRArray<int> Filled(int count, int growBy = 0)
{
    KRArray<int> a;
    a.SetGrowBy(growBy);
    for (int i = 0; i < count; ++i)
        a.Add(i * 10);
    return a;
}

template <class T> std::vector<T> Items(const KRList<T>& list)
{
    std::vector<T> items;
    for (const T& v : list)
        items.push_back(v);
    return items;
}

template <class T> KRList<T> ListOf(std::initializer_list<T> values)
{
    KRList<T> list;
    for (const T& v : values)
        list.AddTail(v);
    return list;
}

//! The message of the `E` that `call` throws.
template <class E, class F> std::string Thrown(F call)
{
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return "no exception";
}

} // namespace

TEST(ArrayGrowth, CapacitySteps)
{
    KRArray<int> a;
    EXPECT_EQ(a.Add(7), 0);
    EXPECT_EQ(a.GetCapacity(), 1);
    const int expected[] = {2, 3, 4, 6, 6, 9}; // n + n/2, at least one more
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(a.Add(i), i + 1);
        EXPECT_EQ(a.GetCapacity(), expected[i]) << "after Add #" << i + 2;
    }
    a.SetSize(2); // shrinking keeps the storage
    EXPECT_EQ(a.GetCapacity(), 9);
    a.RemoveAll();
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(a.GetCapacity(), 0);

    KRArray<int> b;
    b.SetSize(16);
    b.SetGrowBy(16);
    EXPECT_EQ(b.Add(1), 16);
    EXPECT_EQ(b.GetCapacity(), 32);

    KRArray<int> c;
    c.SetSize(10);
    c[9] = 5;
    c.SetGrowBy(16);
    c.SetSize(20); // 10 + (20 rounded up past a multiple of 16 = 32)
    EXPECT_EQ(c.GetCapacity(), 42);
    EXPECT_EQ(c[9], 5);
    EXPECT_EQ(c[19], 0);
}

TEST(ArrayCopy, AssignmentReusesOrReallocates)
{
    struct Case {
        int targetSize, sourceSize, capacityAfter;
    };
    const Case cases[] = {{5, 2, 6},    // shorter source: storage kept
                          {5, 6, 6},    // fits the spare capacity
                          {4, 5, 6},    // 4 + 4/2
                          {4, 10, 10}}; // more than one and a half
    for (const Case& c : cases) {
        KRArray<int> target = Filled(c.targetSize);
        const KRArray<int> source = Filled(c.sourceSize, 7);
        target = source;
        EXPECT_EQ(target.GetCapacity(), c.capacityAfter) << c.targetSize << " <- " << c.sourceSize;
        EXPECT_EQ(target.GetGrowBy(), 7);
        EXPECT_EQ(target[c.sourceSize - 1], (c.sourceSize - 1) * 10);
    }
}

TEST(ArrayCopy, AddingAnElementOfTheSameArrayIsSafe)
{
    const char* text = "a long enough text to live on the heap, not inline";
    KRArray<KRString> a;
    a.Add(text);
    for (int i = 0; i < 6; ++i) // several of these Adds reallocate
        a.Add(a[i]);
    ASSERT_EQ(a.GetSize(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(a[i].Cstr(), text);
}

TEST(ArrayErrors, BadIndicesAndSizesThrowTheHostsMessages)
{
    KRArray<double> a;
    a.SetSize(3);
    EXPECT_EQ(Thrown<std::out_of_range>([&] { a.GetAt(-1); }), "invalid vector subscript");
    EXPECT_EQ(Thrown<std::out_of_range>([&] { a.GetAt(3); }), "invalid vector subscript");
    EXPECT_EQ(Thrown<std::length_error>([&] { a.SetSize(-1); }), "vector too long");
    EXPECT_EQ(a.GetSize(), 3);
}

TEST(List, CopyAssignmentToShorterAndLongerLists)
{
    const KRList<KRString> source = ListOf<KRString>({"a", "b", "c"});
    const std::vector<KRString> expected{"a", "b", "c"};
    KRList<KRString> longer = ListOf<KRString>({"1", "2", "3", "4", "5"});
    longer = source; // surplus nodes go
    EXPECT_EQ(Items(longer), expected);
    KRList<KRString> shorter = ListOf<KRString>({"x"});
    shorter = source; // missing nodes are appended
    EXPECT_EQ(Items(shorter), expected);
}

TEST(Move, SourceIsLeftEmptyAndUsable)
{
    KRArray<int> array = Filled(4, 2);
    KRArray<int> movedArray(std::move(array));
    EXPECT_EQ(array.GetCapacity(), 0); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(array.Add(1), 0);
    array = std::move(movedArray);
    EXPECT_EQ(array[3], 30);
    EXPECT_EQ(movedArray.GetSize(), 0); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(movedArray.Add(5), 0);

    KRList<int> list = ListOf<int>({1, 2, 3});
    KRList<int> movedList(std::move(list));
    EXPECT_EQ(Items(movedList), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(list.IsEmpty()); // NOLINT(bugprone-use-after-move)
    list.AddTail(9);
    list = std::move(movedList);
    EXPECT_EQ(Items(list), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(movedList.IsEmpty()); // NOLINT(bugprone-use-after-move)
    movedList.AddHead(4);
    EXPECT_EQ(Items(movedList), (std::vector<int>{4}));
}
