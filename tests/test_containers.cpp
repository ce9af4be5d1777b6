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
    a.RemoveAll();
    EXPECT_TRUE(a.GetSize() == 0 && a.GetCapacity() == 0);

    // A fixed step: Add grows by it, SetSize by the wanted size rounded up past a multiple of it.
    KRArray<int> b = Filled(16, 16);
    EXPECT_TRUE(b.Add(1) == 16 && b.GetCapacity() == 32);
    b.SetSize(40); // 32 + 48
    EXPECT_TRUE(b.GetCapacity() == 80 && b[15] == 150 && b[39] == 0);
}

TEST(Array, CopyAssignmentCapacityAliasingAddAndMove)
{
    // target size, source size, capacity after: kept, spare used, grown by half, the source's size
    const int cases[][3] = {{5, 2, 6}, {5, 6, 6}, {4, 5, 6}, {4, 10, 10}};
    for (const auto& c : cases) {
        KRArray<int> target = Filled(c[0]);
        const KRArray<int> source = Filled(c[1], 7);
        target = source;
        EXPECT_TRUE(target.GetCapacity() == c[2] && target.GetGrowBy() == 7 && target[c[1] - 1] == (c[1] - 1) * 10)
            << c[0] << " <- " << c[1] << ": " << target.GetCapacity();
    }

    const char* text = "a long enough text to live on the heap, not inline";
    KRArray<KRString> a;
    a.Add(text);
    for (int i = 0; i < 6; ++i) // several of these Adds reallocate
        EXPECT_STREQ(a[a.Add(a[i])].Cstr(), text);

    KRArray<int> array = Filled(4, 2);
    KRArray<int> moved(std::move(array));
    EXPECT_TRUE(array.GetCapacity() == 0 && array.Add(1) == 0); // NOLINT(bugprone-use-after-move)
    array = std::move(moved);
    EXPECT_TRUE(array[3] == 30 && moved.GetSize() == 0 && moved.Add(5) == 0); // NOLINT(bugprone-use-after-move)
}

TEST(List, CopyAssignmentAndMoves)
{
    KRList<KRString> source, longer, shorter;
    for (const char* item : {"a", "b", "c"})
        source.AddTail(item);
    for (const char* item : {"1", "2", "3", "4", "5"})
        longer.AddTail(item);
    shorter.AddTail("x");
    longer = source;
    shorter = source;
    EXPECT_EQ(Items(longer) + Items(shorter), "a;b;c;a;b;c;");

    KRList<KRString> moved(std::move(longer));
    EXPECT_TRUE(Items(moved) == "a;b;c;" && longer.IsEmpty()); // NOLINT(bugprone-use-after-move)
    longer.AddTail("z");
    longer = std::move(moved);
    moved.AddHead("y"); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(Items(longer) + Items(moved), "a;b;c;y;");
}
