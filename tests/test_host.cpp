// The stand-in host libraries. Expected values are worked by hand or are closed forms.
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "KRArray.h"
#include "KRFile.h"
#include "KRGeometry.h"
#include "KRRasterDataAccessor.h"
#include "KRString.h"
#include "KRTerrainData.h"

using namespace KRC;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNoData = -9999.0;
using Quad = std::array<double, 4>;

const auto Ltrb = [](const KRRect2d& r) { return Quad{r.left, r.top, r.right, r.bottom}; };

std::unique_ptr<KRTerrainData> MakeGrid(enumRasterDataFromat format, int width, int height,
                                        const std::vector<double>& values = {})
{
    auto grid = std::make_unique<KRTerrainData>(KRTerrainData::Structure{});
    grid->SetWidth(width);
    grid->SetHeight(height);
    grid->SetDataFormat(format);
    EXPECT_TRUE(grid->CreateData());
    for (size_t i = 0; i < values.size(); ++i)
        grid->SetValue(static_cast<long long>(i), values[i]);
    return grid;
}

constexpr bool kNearest = true, kBilinear = false;

//! The static multi-band samplers: one value per grid, then 0s, and 255 or 0 for "not nodata".
Quad Sample(bool nearest, const std::vector<KRTerrainData*>& grids, const std::vector<double>& noData, double row,
            double col, bool ignoreNoData = false)
{
    KRArray<KRTerrainData*> g;
    KRArray<double> nd;
    for (KRTerrainData* p : grids)
        g.Add(p);
    for (double v : noData)
        nd.Add(v);
    Quad out{};
    if (nearest)
        KRTerrainData::GetValue(row, col, g, nd, out.data(), ignoreNoData, 1e-6);
    else
        KRTerrainData::GetBRasampleValue(row, col, g, nd, out.data(), ignoreNoData, 1e-6);
    return out;
}

class TestAccessor : public KRRasterDataAccessor {
public:
    using KRRasterDataAccessor::m_dResX, KRRasterDataAccessor::m_dResY, KRRasterDataAccessor::m_srcBounds;
    bool OpenForRead(const KRString&) override { return true; }
    std::array<int, 4> Order() { return {GetBindOrder()[0], GetBindOrder()[1], GetBindOrder()[2], GetBindOrder()[3]}; }
};

} // namespace

TEST(TileBounds, LevelsZeroToTwo)
{
    // level, x, y, then left, top, right, bottom
    const double cases[][7] = {{0, 1, 0, 0, 90, 180, -90}, {1, 0, 0, -180, 90, -90, 0},   {1, 3, 1, 90, 0, 180, -90},
                               {2, 4, 1, 0, 45, 45, 0},    {2, 7, 3, 135, -45, 180, -90}, {0, 0, 0, -180, 90, 0, -90}};
    for (const auto& c : cases) {
        KRRect2d r;
        KRMath::CalcTileBounds(r, int(c[1]), int(c[2]), int(c[0]));
        EXPECT_EQ(Ltrb(r), (Quad{c[3], c[4], c[5], c[6]})) << c[0] << ": " << c[1] << ", " << c[2];
    }
}

TEST(Sampler, NodataNeighboursGetNoWeight)
{
    auto grid = MakeGrid(RDF_Float32, 2, 2, {10, 20, 30, kNoData});
    grid->m_dNoDataValue = kNoData;
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(0.5, 0.5, false), 20.0);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(1.0, 0.5, false), 30.0); // no dark fringe
    EXPECT_EQ(grid->GetBRasampleValue(1.0, 1.0, false), kNoData);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(0.5, 0.5, true), (10.0 + 20.0 + 30.0 + kNoData) / 4.0);

    // Static sampler: a neighbour is dropped only when every band is nodata there.
    auto b1 = MakeGrid(RDF_Float32, 2, 2, {0, 0, 30, 60});
    auto b2 = MakeGrid(RDF_Float32, 2, 2, {0, 9, 3, 6});
    EXPECT_EQ(Sample(kBilinear, {b1.get(), b2.get()}, {0.0, 0.0}, 0.5, 0.5), (Quad{30, 6, 0, 255}));
    auto sevens = MakeGrid(RDF_UInt8, 2, 2, {7, 7, 7, 7});
    EXPECT_EQ(Sample(kBilinear, {sevens.get()}, {7.0}, 0.5, 0.5), (Quad{0, 0, 0, 0}));
    EXPECT_EQ(Sample(kNearest, {sevens.get()}, {7.0}, 0.5, 0.5), (Quad{0, 0, 0, 0}));
    EXPECT_EQ(Sample(kBilinear, {sevens.get()}, {7.0}, 0.5, 0.5, true), (Quad{7, 0, 0, 255}));
}

TEST(Sampler, ReproducesAPlaneInEveryFormatClampsAndRoundsNearestHalfUp)
{
    // base + 2 r + 5 c on 5 x 4, integral at every cell; base near the format's limit where it has one.
    const std::pair<enumRasterDataFromat, double> formats[] = {
        {RDF_UInt8, 200},         {RDF_Int16, -30000},        {RDF_UInt16, 65000},  {RDF_Float32, 0.5},
        {RDF_Int32, -2000000000}, {RDF_UInt32, 4000000000.0}, {RDF_Int64, -0x1p40}, {RDF_Float64, 1000000.25}};
    for (const auto& [format, base] : formats) {
        auto grid = MakeGrid(format, 5, 4);
        for (int i = 0; i < 20; ++i)
            grid->SetValue(static_cast<long long>(i), base + 2.0 * (i / 5) + 5.0 * (i % 5));
        for (const auto& p : {Quad{0.25, 0.5}, Quad{2.5, 3.75}, Quad{3.0, 4.0}}) {
            const double v = base + 2.0 * p[0] + 5.0 * p[1];
            EXPECT_EQ(grid->GetBRasampleValue(p[0], p[1], false), v) << format << ": " << p[0] << ", " << p[1];
            EXPECT_EQ(Sample(kBilinear, {grid.get(), grid.get()}, {}, p[0], p[1]), (Quad{v, v, 0, 255})) << format;
        }
    }

    auto grid = MakeGrid(RDF_Float64, 3, 3, {0, 1, 2, 10, 11, 12, 20, 21, 22}); // 10 r + c
    // row, column, bilinear, nearest
    const Quad cases[] = {{3, 2.5, 22, 22},      {-0.5, 1.5, 1.5, 2}, {0.5, 0.49, 5.49, 10},
                          {1.49, 1.5, 16.4, 12}, {-3, 7, 2, 2},       {2.6, -0.6, 20, 20}};
    for (const Quad& c : cases) {
        EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(c[0], c[1], false), c[2]) << c[0];
        EXPECT_DOUBLE_EQ(Sample(kBilinear, {grid.get()}, {kNoData}, c[0], c[1])[0], c[2]) << c[0];
        EXPECT_EQ(Sample(kNearest, {grid.get()}, {kNoData}, c[0], c[1]), (Quad{c[3], 0, 0, 255})) << c[0];
    }
}

TEST(SetValue, TruncatesSaturatesAndZeroesNan)
{
    const std::tuple<enumRasterDataFromat, double, double> cases[] = {
        {RDF_UInt8, 300, 255},         {RDF_UInt8, -5, 0},            {RDF_UInt8, kNaN, 0},
        {RDF_Int16, -40000, -32768},   {RDF_Int16, -2.7, -2},         {RDF_UInt16, 70000, 65535},
        {RDF_Int32, 3e9, 0x1p31 - 1},  {RDF_UInt32, 5e9, 0x1p32 - 1}, {RDF_Int64, -1e19, -0x1p63},
        {RDF_Float32, 1e39, kInf},     {RDF_Float32, kNaN, kNaN}};
    for (const auto& [format, input, expected] : cases) {
        auto grid = MakeGrid(format, 1, 1, {input});
        const double stored = grid->GetValue(0, 0);
        EXPECT_TRUE(stored == expected || (std::isnan(stored) && std::isnan(expected))) << format << ": " << input;
    }
}

TEST(StringSplit, Pieces)
{
    // text, separators, keep empty pieces, count, pieces joined with '|'
    const std::tuple<const char*, const char*, bool, int, std::string> cases[] = {
        {"10.5\n0\n-10.5\n", "\r\n", false, 3, "10.5|0|-10.5"}, {"1\r\n2\r\n\r\n3", "\r\n", false, 3, "1|2|3"},
        {"a,,b", ",", true, 3, "a||b"}, {",a,", ",", true, 3, "|a|"}, {"", ",", false, 0, ""}};
    for (const auto& [text, separators, keepEmpty, count, expected] : cases) {
        KRArray<KRString> pieces;
        pieces.Add("stale");
        EXPECT_EQ(KRString(text).Split(pieces, separators, keepEmpty), count) << text;
        std::string joined;
        for (int i = 0; i < pieces.GetSize(); ++i)
            joined += (i == 0 ? "" : "|") + std::string(pieces[i].Cstr());
        EXPECT_EQ(joined, expected) << '"' << text << '"';
    }
}

TEST(FilePaths, ExtensionFolderAndModulePath)
{
    // path, GetExt, ChangeExt(path, ".prj"), GetDir
    const char* const cases[][4] = {{"a/b.tif", ".tif", "a/b.prj", "a"}, {"c.tar.gz", ".gz", "c.tar.prj", ""},
                                    {"/a.b/c", "", "/a.b/c.prj", "/a.b"}, {"x/.h", "", "x/.h.prj", "x"},
                                    {"/c.tif", ".tif", "/c.prj", "/"}};
    for (const auto& c : cases) {
        const std::array<std::string, 3> got{KRFile::GetExt(c[0]).Cstr(), KRFile::ChangeExt(c[0], ".prj").Cstr(),
                                             KRFile::GetDir(c[0]).Cstr()};
        EXPECT_EQ(got, (std::array<std::string, 3>{c[1], c[2], c[3]})) << c[0];
    }
    const std::string folder = KRFile::GetModulePath("Common").Cstr();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder.back() == '/' && std::filesystem::equivalent(folder, KR_MODULE_DIR));
    EXPECT_TRUE(KRFile::GetModulePath("Comm").IsEmpty() && KRFile::GetModulePath("NoSuchModule").IsEmpty());
}

TEST(Accessor, SetBindsOrderAndComputePixelBounds)
{
    constexpr std::array<int, 4> kDefault{2, 1, 0, 3};
    const std::pair<const char*, std::array<int, 4>> cases[] = {
        {" 3 , 2,1 ,0 ", {3, 2, 1, 0}}, {"1,2,3", kDefault},    {"1,2,3,0,1", kDefault},
        {"1,,2,3", kDefault},           {"1,2,3,0x", kDefault}, {"99999999999,1,2,3", kDefault}};
    for (const auto& [text, expected] : cases) {
        TestAccessor accessor;
        accessor.SetBindsOrder(text);
        EXPECT_EQ(accessor.Order(), expected) << '"' << text << '"';
    }

    TestAccessor accessor;
    accessor.m_srcBounds.SetGeoBounds(KRRect2d(100, 200, 200, 100));
    accessor.m_dResX = 10;
    accessor.m_dResY = 5;
    // Columns 1.5 .. 4.1 -> 1 .. 5; rows 4 .. 12.4 -> 4 .. 13; then a rectangle reaching past the raster.
    for (const auto& [rect, expected] : {std::pair{KRRect2d(115, 162, 141, 120), std::array<int, 4>{1, 5, 4, 13}},
                                         std::pair{KRRect2d(80, 150, 140, 90), std::array<int, 4>{-2, 4, -2, 10}}}) {
        const KRRect2i px = accessor.ComputePixelBounds(rect);
        EXPECT_EQ((std::array<int, 4>{px.left, px.right, px.bottom, px.top}), expected);
    }
}

TEST(RectGeometry, IsIntersectCountsTouchingWithinToleranceAndUnionSkipsNonFinitePoints)
{
    const std::tuple<KRRect2d, double, bool> cases[] = {{{0.5, 2, 2, 0.5}, 0, true},     {{1, 1, 2, 0}, 0, true},
                                                        {{1.5, 1, 2, 0}, 0.4, false},    {{1.5, 1, 2, 0}, 0.5, true},
                                                        {{0, -0.5, 1, -1}, 0.25, false}, {{kNaN, 1, 1, 0}, 0, false}};
    const KRRect2d unit(0, 1, 1, 0);
    for (const auto& [other, tolerance, expected] : cases)
        EXPECT_TRUE(unit.IsIntersect(other, tolerance) == expected && other.IsIntersect(unit, tolerance) == expected)
            << other.left << " " << tolerance;

    KRRect2d box(kInf, kInf, kInf, kInf);
    for (const KRPoint2d& p : std::initializer_list<KRPoint2d>{{3, 4}, {-kInf, 9}, {kNaN, -2}, {1, kInf}, {5, 1}})
        box.Union(p);
    EXPECT_EQ(Ltrb(box), (Quad{1, 9, 5, -2}));
}
