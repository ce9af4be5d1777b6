// The host's array and list templates the module exports: growth that keeps
// every item, copies, moves, adding an item of the array itself, and the
// host's exception messages.
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "KRArray.h"
#include "KRList.h"
#include "KRString.h"

using namespace KRC;

namespace {

//! first, first + 10, ...: a distinct first item per array, so that no stale memory passes for an item.
KRArray<int> Filled(int count, int growBy = 0, int first = 0)
{
    KRArray<int> a;
    a.SetGrowBy(growBy);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(a.Add(first + i * 10), i);
    return a;
}

bool Holds(const KRArray<int>& a, int count, int first = 0)
{
    bool ok = a.GetSize() == count && a.GetCapacity() >= count;
    for (int i = 0; i < count && ok; ++i)
        ok = a[i] == first + i * 10;
    return ok;
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

std::string Items(const KRList<KRString>& list)
{
    std::string text;
    for (const KRString& v : list)
        text += std::string(v.Cstr()) + ";";
    return text;
}

} // namespace

TEST(Array, GrowsCopiesAndMovesKeepingItemsAndRefusesBadIndices)
{
    for (int growBy : {0, 1, 16})
        EXPECT_TRUE(Holds(Filled(100, growBy), 100)) << growBy;
    KRArray<int> a = Filled(7);
    a.SetSize(40); // new items are zeros
    EXPECT_TRUE(a.GetSize() == 40 && a[6] == 60 && a[39] == 0 && a.GetCapacity() >= 40);
    a.SetSize(2);
    EXPECT_EQ(Thrown<std::out_of_range>([&] { a.GetAt(-1); }) + Thrown<std::out_of_range>([&] { a.GetAt(2); }),
              "invalid vector subscriptinvalid vector subscript");
    EXPECT_EQ(Thrown<std::length_error>([&] { a.SetSize(-1); }), "vector too long");
    a.RemoveAll();
    EXPECT_TRUE(a.GetSize() == 0 && a.GetCapacity() == 0);

    KRArray<KRString> strings;
    strings.Add("a long enough text to live on the heap, not inline");
    for (int i = 0; i < 6; ++i) // several of these Adds reallocate under the item they copy
        EXPECT_STREQ(strings[strings.Add(strings[i])].Cstr(), strings[0].Cstr());

    for (int target : {0, 2, 5, 10}) {
        for (int source : {0, 3, 6}) {
            KRArray<int> copy = Filled(target);
            const KRArray<int> b = Filled(source, 7, 1000 * target + 100 * source);
            copy = b;
            EXPECT_TRUE(Holds(copy, source, 1000 * target + 100 * source) && copy.GetGrowBy() == 7 &&
                        Holds(b, source, 1000 * target + 100 * source))
                << target << " <- " << source;
        }
    }
    KRArray<int> array = Filled(4, 2);
    KRArray<int> moved(std::move(array));
    EXPECT_TRUE(Holds(moved, 4) && array.GetCapacity() == 0 && array.Add(1) == 0); // NOLINT(bugprone-use-after-move)
    array = std::move(moved);
    EXPECT_TRUE(array[3] == 30 && moved.GetSize() == 0 && moved.Add(5) == 0); // NOLINT(bugprone-use-after-move)
}

TEST(List, CopiesAndMoves)
{
    KRList<KRString> source, longer, shorter;
    for (const char* item : {"a", "b", "c"})
        source.AddTail(item);
    for (const char* item : {"1", "2", "3", "4", "5"})
        longer.AddTail(item);
    shorter.AddTail("x");
    longer = source;
    shorter = source;
    EXPECT_EQ(Items(longer) + Items(shorter) + Items(source), "a;b;c;a;b;c;a;b;c;");
    KRList<KRString> moved(std::move(longer));
    EXPECT_TRUE(Items(moved) == "a;b;c;" && longer.IsEmpty()); // NOLINT(bugprone-use-after-move)
    longer.AddTail("z");
    longer = std::move(moved);
    moved.AddHead("y"); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(Items(longer) + Items(moved), "a;b;c;y;");
}
