// The stand-in host libraries: tiling, sampling, sample storage, text, paths and
// the accessor base class. Expected values are worked by hand or are closed
// forms (a plane is reproduced exactly by bilinear sampling).
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
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

//! A grid of `format` filled row by row from `values` (row-major).
std::unique_ptr<KRTerrainData> MakeGrid(enumRasterDataFromat format, int width, int height,
                                        const std::vector<double>& values = {})
{
    auto grid = std::make_unique<KRTerrainData>(KRTerrainData::Structure{});
    grid->SetWidth(width);
    grid->SetHeight(height);
    grid->SetDataFormat(format);
    if (!grid->CreateData())
        return nullptr;
    for (size_t i = 0; i < values.size(); ++i)
        grid->SetValue(static_cast<long long>(i), values[i]);
    return grid;
}

//! The arguments of the static samplers, built from plain lists.
struct Bands {
    KRArray<KRTerrainData*> grids;
    KRArray<double> noData;
    std::array<double, 4> out{};

    Bands(std::initializer_list<KRTerrainData*> g, std::initializer_list<double> nd)
    {
        for (KRTerrainData* p : g)
            grids.Add(p);
        for (double v : nd)
            noData.Add(v);
    }
    void Bilinear(double row, double col, bool ignoreNoData = false)
    {
        KRTerrainData::GetBRasampleValue(row, col, grids, noData, out.data(), ignoreNoData, 1e-6);
    }
    void Nearest(double row, double col) { KRTerrainData::GetValue(row, col, grids, noData, out.data(), false, 1e-6); }
};

//! Plane 10 r + c on 3 x 3.
const std::vector<double> kPlane3x3{0, 1, 2, 10, 11, 12, 20, 21, 22};

class TestAccessor : public KRRasterDataAccessor {
public:
    bool OpenForRead(const KRString&) override { return true; }
    void SetSource(const KRRect2d& bounds, double resX, double resY)
    {
        m_srcBounds.SetGeoBounds(bounds);
        m_dResX = resX;
        m_dResY = resY;
    }
    std::array<int, 4> Order() { return {GetBindOrder()[0], GetBindOrder()[1], GetBindOrder()[2], GetBindOrder()[3]}; }
};

} // namespace

// ---------------------------------------------------------------- tiling

TEST(TileBounds, LevelsZeroToTwo)
{
    struct Case {
        int level, x, y;
        std::array<double, 4> ltrb;
    };
    const Case cases[] = {{0, 0, 0, {-180, 90, 0, -90}}, {0, 1, 0, {0, 90, 180, -90}},
                          {1, 0, 0, {-180, 90, -90, 0}}, {1, 3, 1, {90, 0, 180, -90}},
                          {1, 2, 0, {0, 90, 90, 0}},     {2, 0, 0, {-180, 90, -135, 45}},
                          {2, 4, 1, {0, 45, 45, 0}},     {2, 7, 3, {135, -45, 180, -90}}};
    for (const Case& c : cases) {
        KRRect2d r;
        KRMath::CalcTileBounds(r, c.x, c.y, c.level);
        EXPECT_EQ((std::array<double, 4>{r.left, r.top, r.right, r.bottom}), c.ltrb)
            << "level " << c.level << " x " << c.x << " y " << c.y;
    }
}

// ---------------------------------------------------------------- sampling

TEST(Sampler, NodataNeighboursGetNoWeight)
{
    // 2 x 2, bottom-right cell missing.
    auto grid = MakeGrid(RDF_Float32, 2, 2, {10, 20, 30, kNoData});
    grid->m_dNoDataValue = kNoData;
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(0.5, 0.5, false), 20.0); // mean of 10, 20, 30
    // Along the nodata edge only the valid side has weight: no dark fringe.
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(1.0, 0.5, false), 30.0);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(0.75, 1.0, false), 20.0);
    EXPECT_EQ(grid->GetBRasampleValue(1.0, 1.0, false), kNoData);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(0.5, 0.5, true), (10.0 + 20.0 + 30.0 + kNoData) / 4.0);

    // Static sampler: a neighbour is dropped only when every band is nodata there.
    auto b1 = MakeGrid(RDF_Float32, 2, 2, {0, 0, 30, 60});
    auto b2 = MakeGrid(RDF_Float32, 2, 2, {0, 9, 3, 6});
    Bands bands({b1.get(), b2.get()}, {0.0, 0.0});
    bands.Bilinear(0.5, 0.5);
    EXPECT_EQ(bands.out, (std::array<double, 4>{30, 6, 0, 255})); // (0+30+60)/3, (9+3+6)/3
}

TEST(Sampler, AllNodataIsTransparent)
{
    auto grid = MakeGrid(RDF_UInt8, 2, 2, {7, 7, 7, 7});
    Bands bands({grid.get()}, {7.0});
    bands.Bilinear(0.5, 0.5);
    EXPECT_EQ(bands.out, (std::array<double, 4>{0, 0, 0, 0}));
    bands.Nearest(0.5, 0.5);
    EXPECT_EQ(bands.out, (std::array<double, 4>{0, 0, 0, 0}));
    bands.Bilinear(0.5, 0.5, true); // ignoring nodata, they are plain values
    EXPECT_EQ(bands.out, (std::array<double, 4>{7, 0, 0, 255}));
}

TEST(Sampler, PositionsOutsideTheGridAreClamped)
{
    auto grid = MakeGrid(RDF_Float64, 3, 3, kPlane3x3);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(-1.0, -0.5, false), 0.0);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(3.0, 2.5, false), 22.0);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(-0.5, 1.5, false), 1.5);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(2.25, -1.0, false), 20.0);
    Bands bands({grid.get()}, {});
    bands.Bilinear(-1.0, 3.0);
    EXPECT_EQ(bands.out, (std::array<double, 4>{2, 0, 0, 255}));
}

TEST(Sampler, BilinearReproducesAPlaneInEveryFormat)
{
    // v = base + 2 r + 5 c on 5 columns x 4 rows, integral at every cell; base is
    // near the format's limit where it has one.
    const std::pair<enumRasterDataFromat, double> formats[] = {
        {RDF_UInt8, 200},         {RDF_Int16, -30000},        {RDF_UInt16, 65000},  {RDF_Float32, 0.5},
        {RDF_Int32, -2000000000}, {RDF_UInt32, 4000000000.0}, {RDF_Int64, -0x1p40}, {RDF_Float64, 1000000.25}};
    for (const auto& [format, base] : formats) {
        const auto plane = [base = base](double r, double c) { return base + 2.0 * r + 5.0 * c; };
        std::vector<double> values;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 5; ++c)
                values.push_back(plane(r, c));
        auto grid = MakeGrid(format, 5, 4, values);
        ASSERT_NE(grid, nullptr);
        Bands bands({grid.get(), grid.get()}, {});
        const double positions[][2] = {{0.25, 0.5}, {1.75, 2.125}, {2.5, 3.75}, {3.0, 4.0}, {0.0, 0.0}};
        for (const auto& p : positions) {
            const double expected = plane(p[0], p[1]);
            EXPECT_EQ(grid->GetBRasampleValue(p[0], p[1], false), expected) << format << ": " << p[0] << ", " << p[1];
            bands.Bilinear(p[0], p[1]);
            EXPECT_EQ(bands.out, (std::array<double, 4>{expected, expected, 0, 255})) << format;
        }
    }
}

TEST(Sampler, NearestCellRoundsHalfUpAndClamps)
{
    auto grid = MakeGrid(RDF_Int16, 3, 3, kPlane3x3);
    Bands bands({grid.get()}, {kNoData});
    const double cases[][3] = {{0.5, 0.49, 10}, {1.49, 1.5, 12}, {-3, 7, 2}, {2.6, -0.6, 20}, {1.0, 1.0, 11}};
    for (const auto& c : cases) {
        bands.Nearest(c[0], c[1]);
        EXPECT_EQ(bands.out, (std::array<double, 4>{c[2], 0, 0, 255})) << c[0] << ", " << c[1];
    }
}

// ---------------------------------------------------------------- storing samples

TEST(SetValue, TruncatesSaturatesAndZeroesNan)
{
    struct Case {
        enumRasterDataFromat format;
        double input, expected;
    };
    const Case cases[] = {{RDF_UInt8, 300, 255},         {RDF_UInt8, -5, 0},
                          {RDF_UInt8, 7.9, 7},           {RDF_UInt8, kNaN, 0},
                          {RDF_Int16, 40000, 32767},     {RDF_Int16, -40000, -32768},
                          {RDF_Int16, -2.7, -2},         {RDF_UInt16, 70000, 65535},
                          {RDF_Int32, 3e9, 0x1p31 - 1},  {RDF_Int32, -3e9, -0x1p31},
                          {RDF_UInt32, 5e9, 0x1p32 - 1}, {RDF_UInt32, -1, 0},
                          {RDF_Int64, -1e19, -0x1p63},   {RDF_Int64, kNaN, 0},
                          {RDF_Float32, 1e39, kInf},     {RDF_Float32, 0.1, double(0.1f)},
                          {RDF_Float32, kNaN, kNaN}};
    for (const Case& c : cases) {
        auto grid = MakeGrid(c.format, 1, 1);
        grid->SetValue(0LL, c.input);
        const double stored = grid->GetValue(0, 0);
        if (std::isnan(c.expected))
            EXPECT_TRUE(std::isnan(stored)) << "format " << c.format;
        else
            EXPECT_EQ(stored, c.expected) << "format " << c.format << " input " << c.input;
    }
}

// ---------------------------------------------------------------- text and paths

TEST(StringSplit, Pieces)
{
    struct Case {
        const char* text;
        const char* separators;
        bool keepEmpty;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {{"10.5\n0\n-10.5\n", "\r\n", false, {"10.5", "0", "-10.5"}},
                          {"1\r\n2\r\n\r\n3", "\r\n", false, {"1", "2", "3"}},
                          {"a,,b", ",", true, {"a", "", "b"}},
                          {",a,", ",", true, {"", "a", ""}},
                          {"", ",", false, {}}};
    for (const Case& c : cases) {
        KRArray<KRString> pieces;
        pieces.Add("stale");
        const int count = KRString(c.text).Split(pieces, c.separators, c.keepEmpty);
        ASSERT_EQ(count, static_cast<int>(c.pieces.size())) << '"' << c.text << '"';
        ASSERT_EQ(pieces.GetSize(), count);
        for (int i = 0; i < count; ++i)
            EXPECT_STREQ(pieces[i].Cstr(), c.pieces[static_cast<size_t>(i)].c_str()) << c.text << " #" << i;
    }
}

TEST(FilePaths, ExtensionAndFolder)
{
    // path, GetExt, ChangeExt(path, ".prj"), GetDir
    const char* const cases[][4] = {{"/a/b/c.tif", ".tif", "/a/b/c.prj", "/a/b"},
                                    {"c.tar.gz", ".gz", "c.tar.prj", ""},
                                    {"/a.b/c", "", "/a.b/c.prj", "/a.b"},
                                    {"x/.hidden", "", "x/.hidden.prj", "x"},
                                    {"/c.tif", ".tif", "/c.prj", "/"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(KRFile::GetExt(c[0]).Cstr(), c[1]) << c[0];
        EXPECT_STREQ(KRFile::ChangeExt(c[0], ".prj").Cstr(), c[2]) << c[0];
        EXPECT_STREQ(KRFile::GetDir(c[0]).Cstr(), c[3]) << c[0];
    }
}

TEST(FilePaths, ModulePathFindsTheLoadedCommonLibrary)
{
    const KRString folder = KRFile::GetModulePath("Common");
    ASSERT_FALSE(folder.IsEmpty());
    EXPECT_EQ(std::string(folder.Cstr()).back(), '/');
    EXPECT_TRUE(std::filesystem::equivalent(folder.Cstr(), KR_MODULE_DIR));
    EXPECT_TRUE(KRFile::GetModulePath("Comm").IsEmpty());
    EXPECT_TRUE(KRFile::GetModulePath("NoSuchModule").IsEmpty());
}

// ---------------------------------------------------------------- accessor base

TEST(Accessor, SetBindsOrderReadsFourIntegersOrKeepsTheOrder)
{
    constexpr std::array<int, 4> kDefault{2, 1, 0, 3};
    const std::pair<const char*, std::array<int, 4>> cases[] = {
        {"3,2,1,0", {3, 2, 1, 0}}, {" 0 , 1,2 ,3 ", {0, 1, 2, 3}}, {"1,2,3", kDefault},
        {"1,2,3,0,1", kDefault},   {"a,b,c,d", kDefault},          {"1,,2,3", kDefault},
        {"1,2,3,0x", kDefault},    {"99999999999,1,2,3", kDefault}};
    for (const auto& [text, expected] : cases) {
        TestAccessor accessor;
        accessor.SetBindsOrder(text);
        EXPECT_EQ(accessor.Order(), expected) << '"' << text << '"';
    }
}

TEST(Accessor, ComputePixelBoundsHandWorkedWindow)
{
    // Source 100..200 both ways, 10 units per column, 5 per row.
    TestAccessor accessor;
    accessor.SetSource(KRRect2d(100, 200, 200, 100), 10, 5);
    // Columns 1.5 .. 4.1 -> 1 .. 5; rows 4 .. 12.4 -> 4 .. 13.
    KRRect2i px = accessor.ComputePixelBounds(KRRect2d(115, 162, 141, 120));
    EXPECT_EQ((std::array<int, 4>{px.left, px.right, px.bottom, px.top}), (std::array<int, 4>{1, 5, 4, 13}));
    // On pixel lines exactly: no widening, and rectangles outside go negative.
    px = accessor.ComputePixelBounds(KRRect2d(80, 150, 140, 90));
    EXPECT_EQ((std::array<int, 4>{px.left, px.right, px.bottom, px.top}), (std::array<int, 4>{-2, 4, -2, 10}));
}

// ---------------------------------------------------------------- geometry

TEST(RectGeometry, IsIntersectCountsTouchingWithinTolerance)
{
    struct Case {
        KRRect2d other;
        double tolerance;
        bool expected;
    };
    const Case cases[] = {{{0.5, 2, 2, 0.5}, 0, true},  {{1, 1, 2, 0}, 0, true},     {{-1, 2, 0, 1}, 0, true},
                          {{1.5, 1, 2, 0}, 0.4, false}, {{1.5, 1, 2, 0}, 0.5, true}, {{0, -0.5, 1, -1}, 0.25, false},
                          {{kNaN, 1, 1, 0}, 0, false}};
    const KRRect2d unit(0, 1, 1, 0);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(unit.IsIntersect(cases[i].other, cases[i].tolerance), cases[i].expected) << "case " << i;
        EXPECT_EQ(cases[i].other.IsIntersect(unit, cases[i].tolerance), cases[i].expected) << "case " << i;
    }
}

// A box grown from transformed points, some of which a projection could not
// carry (left infinite or NaN), keeps the extent of the points that did.
TEST(RectGeometry, UnionSkipsPointsThatAreNotFinite)
{
    const double inf = std::numeric_limits<double>::infinity();
    KRRect2d box(inf, inf, inf, inf); // started at an untransformable corner
    for (const KRPoint2d& p : {KRPoint2d(3, 4), KRPoint2d(-inf, 9), KRPoint2d(kNaN, -2), KRPoint2d(1, inf),
                               KRPoint2d(5, 1)})
        box.Union(p);
    EXPECT_EQ(box.left, 1.0);
    EXPECT_EQ(box.right, 5.0);
    EXPECT_EQ(box.top, 9.0);
    EXPECT_EQ(box.bottom, -2.0);
}
