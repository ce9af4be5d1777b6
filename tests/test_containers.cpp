// The host's array and list templates: growth steps, copies, moves and the host's exception messages.
#include <stdexcept>
#include <string>

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

//! The items, each followed by ';'.
std::string Items(const KRList<KRString>& list)
{
    std::string text;
    for (const KRString& v : list)
        text += std::string(v.Cstr()) + ";";
    return text;
}

template <class... S> KRList<KRString> ListOf(const S&... items)
{
    KRList<KRString> list;
    (list.AddTail(items), ...);
    return list;
}

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

TEST(Array, GrowthStepsAndErrors)
{
    KRArray<int> a;
    const int expected[] = {1, 2, 3, 4, 6, 6, 9}; // n + n/2, at least one more
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(a.Add(i) == i && a.GetCapacity() == expected[i]) << "Add #" << i + 1 << ": " << a.GetCapacity();
    a.SetSize(2);
    EXPECT_EQ(a.GetCapacity(), 9);
    EXPECT_EQ(Thrown<std::out_of_range>([&] { a.GetAt(-1); }), "invalid vector subscript");
    EXPECT_EQ(Thrown<std::out_of_range>([&] { a.GetAt(2); }), "invalid vector subscript");
    EXPECT_EQ(Thrown<std::length_error>([&] { a.SetSize(-1); }), "vector too long");
    EXPECT_EQ(a.GetSize(), 2);
    a.RemoveAll();
    EXPECT_TRUE(a.GetSize() == 0 && a.GetCapacity() == 0);

    KRArray<int> b = Filled(16, 16);
    EXPECT_TRUE(b.Add(1) == 16 && b.GetCapacity() == 32);

    KRArray<int> c;
    c.SetSize(10);
    c[9] = 5;
    c.SetGrowBy(16);
    c.SetSize(20); // 10 + (20 rounded up past a multiple of 16 = 32)
    EXPECT_EQ(c.GetCapacity(), 42);
    EXPECT_TRUE(c[9] == 5 && c[19] == 0);
}

TEST(Array, CopyAssignmentCapacityAliasingAddAndMove)
{
    // target size, source size, capacity after: kept, spare used, grown by half, the source's size
    const int cases[][3] = {{5, 2, 6}, {5, 6, 6}, {4, 5, 6}, {4, 10, 10}};
    for (const auto& c : cases) {
        KRArray<int> target = Filled(c[0]);
        const KRArray<int> source = Filled(c[1], 7);
        target = source;
        EXPECT_EQ(target.GetCapacity(), c[2]) << c[0] << " <- " << c[1];
        EXPECT_TRUE(target.GetGrowBy() == 7 && target[c[1] - 1] == (c[1] - 1) * 10) << c[0] << " <- " << c[1];
    }

    const char* text = "a long enough text to live on the heap, not inline";
    KRArray<KRString> a;
    a.Add(text);
    for (int i = 0; i < 6; ++i) // several of these Adds reallocate
        a.Add(a[i]);
    ASSERT_EQ(a.GetSize(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(a[i].Cstr(), text);

    KRArray<int> array = Filled(4, 2);
    KRArray<int> moved(std::move(array));
    EXPECT_TRUE(array.GetCapacity() == 0 && array.Add(1) == 0); // NOLINT(bugprone-use-after-move)
    array = std::move(moved);
    EXPECT_EQ(array[3], 30);
    EXPECT_TRUE(moved.GetSize() == 0 && moved.Add(5) == 0); // NOLINT(bugprone-use-after-move)
}

TEST(List, CopyAssignmentAndMoves)
{
    const KRList<KRString> source = ListOf("a", "b", "c");
    KRList<KRString> longer = ListOf("1", "2", "3", "4", "5");
    longer = source;
    EXPECT_EQ(Items(longer), "a;b;c;");
    KRList<KRString> shorter = ListOf("x");
    shorter = source;
    EXPECT_EQ(Items(shorter), "a;b;c;");

    KRList<KRString> moved(std::move(longer));
    EXPECT_EQ(Items(moved), "a;b;c;");
    EXPECT_TRUE(longer.IsEmpty()); // NOLINT(bugprone-use-after-move)
    longer.AddTail("z");
    longer = std::move(moved);
    EXPECT_EQ(Items(longer), "a;b;c;");
    EXPECT_TRUE(moved.IsEmpty()); // NOLINT(bugprone-use-after-move)
    moved.AddHead("y");
    EXPECT_EQ(Items(moved), "y;");
}
