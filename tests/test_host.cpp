// The stand-in host libraries: tiling, sampling, sample storage, text, paths,
// the accessor base class and image sizes. Expected values are worked by hand
// or are closed forms (a plane is reproduced exactly by bilinear sampling).
#include <unistd.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRArray.h"
#include "KRColor.h"
#include "KRFile.h"
#include "KRGeometry.h"
#include "KRImageData.h"
#include "KRRasterDataAccessor.h"
#include "KRString.h"
#include "KRTerrainData.h"
#include "KRTestSupport.h"

using namespace KRC;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
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
    void Bilinear(double row, double col, bool ignoreNoData = false, double tolerance = 1e-6)
    {
        KRTerrainData::GetBRasampleValue(row, col, grids, noData, out.data(), ignoreNoData, tolerance);
    }
    void Nearest(double row, double col, bool ignoreNoData = false, double tolerance = 1e-6)
    {
        KRTerrainData::GetValue(row, col, grids, noData, out.data(), ignoreNoData, tolerance);
    }
};

} // namespace

// ---------------------------------------------------------------- tiling

struct TileCase {
    int level, x, y;
    double left, top, right, bottom;
};

class TileBoundsTest : public ::testing::TestWithParam<TileCase> {};

TEST_P(TileBoundsTest, CornersMatchHandComputedValues)
{
    const TileCase& c = GetParam();
    KRRect2d rect;
    KRMath::CalcTileBounds(rect, c.x, c.y, c.level);
    EXPECT_DOUBLE_EQ(rect.left, c.left);
    EXPECT_DOUBLE_EQ(rect.top, c.top);
    EXPECT_DOUBLE_EQ(rect.right, c.right);
    EXPECT_DOUBLE_EQ(rect.bottom, c.bottom);
}

INSTANTIATE_TEST_SUITE_P(Levels0To2, TileBoundsTest,
                         ::testing::Values(TileCase{0, 0, 0, -180, 90, 0, -90}, TileCase{0, 1, 0, 0, 90, 180, -90},
                                           TileCase{1, 0, 0, -180, 90, -90, 0}, TileCase{1, 3, 1, 90, 0, 180, -90},
                                           TileCase{1, 2, 0, 0, 90, 90, 0}, TileCase{2, 0, 0, -180, 90, -135, 45},
                                           TileCase{2, 4, 1, 0, 45, 45, 0},
                                           TileCase{2, 7, 3, 135, -45, 180, -90}));

TEST(TileBoundsEdges, NeighbouringTilesShareTheirEdgesExactly)
{
    for (int level = 0; level <= 12; ++level) {
        KRRect2d a, east, south;
        KRMath::CalcTileBounds(a, 5, 3, level);
        KRMath::CalcTileBounds(east, 6, 3, level);
        KRMath::CalcTileBounds(south, 5, 4, level);
        EXPECT_EQ(a.right, east.left) << "level " << level;
        EXPECT_EQ(a.bottom, south.top) << "level " << level;
    }
}

TEST(TileBoundsEdges, ExtremeLevelsStayDefined)
{
    KRRect2d rect;
    KRMath::CalcTileBounds(rect, 0, 0, INT_MAX);
    EXPECT_EQ(rect.left, -180.0);
    EXPECT_EQ(rect.right, -180.0); // the side underflows to 0
    KRMath::CalcTileBounds(rect, 1, 1, INT_MIN);
    EXPECT_TRUE(std::isinf(rect.right));
}

// ---------------------------------------------------------------- member sampler

class MemberSamplerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // 2 x 2, bottom-right cell missing.
        m_grid = MakeGrid(RDF_Float32, 2, 2, {10, 20, 30, kNoData});
        ASSERT_NE(m_grid, nullptr);
        m_grid->m_dNoDataValue = kNoData;
    }
    std::unique_ptr<KRTerrainData> m_grid;
};

TEST_F(MemberSamplerTest, NodataNeighboursGetNoWeight)
{
    EXPECT_DOUBLE_EQ(m_grid->GetBRasampleValue(0.5, 0.5, false), 20.0); // mean of 10, 20, 30
    // Along the nodata edge only the valid side has weight: no fringe.
    EXPECT_DOUBLE_EQ(m_grid->GetBRasampleValue(1.0, 0.5, false), 30.0);
    EXPECT_DOUBLE_EQ(m_grid->GetBRasampleValue(0.75, 1.0, false), 20.0);
    EXPECT_EQ(m_grid->GetBRasampleValue(1.0, 1.0, false), kNoData); // on the missing cell
    EXPECT_DOUBLE_EQ(m_grid->GetBRasampleValue(0.5, 0.5, true), (10.0 + 20.0 + 30.0 + kNoData) / 4.0);
}

TEST_F(MemberSamplerTest, DegenerateGrids)
{
    auto missing = MakeGrid(RDF_Int16, 2, 2, {kNoData, kNoData, kNoData, kNoData});
    missing->m_dNoDataValue = kNoData;
    EXPECT_EQ(missing->GetBRasampleValue(0.3, 0.6, false), kNoData);

    auto nanGrid = MakeGrid(RDF_Float64, 2, 2, {1, 2, 3, kNaN});
    nanGrid->m_dNoDataValue = kNaN; // a NaN nodata value marks NaN samples
    EXPECT_DOUBLE_EQ(nanGrid->GetBRasampleValue(0.5, 0.5, false), 2.0);

    KRTerrainData empty{KRTerrainData::Structure{}};
    EXPECT_EQ(empty.GetBRasampleValue(0.5, 0.5, false), 0.0);
    EXPECT_TRUE(std::isnan(m_grid->GetBRasampleValue(kNaN, 0.5, false)));
}

TEST(SamplerBorder, PositionsOutsideTheGridAreClamped)
{
    // Plane v = 10 r + c on 3 x 3.
    auto grid = MakeGrid(RDF_Float64, 3, 3, {0, 1, 2, 10, 11, 12, 20, 21, 22});
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(-1.0, -0.5, false), 0.0);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(3.0, 2.5, false), 22.0);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(-0.5, 1.5, false), 1.5);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(2.25, -1.0, false), 20.0);
    Bands bands({grid.get()}, {});
    bands.Bilinear(-1.0, 3.0);
    EXPECT_DOUBLE_EQ(bands.out[0], 2.0);
    EXPECT_EQ(bands.out[3], 255.0);
}

// ---------------------------------------------------------------- plane per format

struct FormatCase {
    enumRasterDataFromat format;
    double base; //!< the plane's value at (0, 0), near the format's limit where it has one
};

class PlaneTest : public ::testing::TestWithParam<FormatCase> {
protected:
    // v = base + 2 r + 5 c on 5 columns x 4 rows: integral at every cell.
    static double Plane(double base, double r, double c) { return base + 2.0 * r + 5.0 * c; }
};

TEST_P(PlaneTest, BilinearReproducesAPlaneExactly)
{
    const FormatCase& fc = GetParam();
    std::vector<double> values;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c)
            values.push_back(Plane(fc.base, r, c));
    auto grid = MakeGrid(fc.format, 5, 4, values);
    ASSERT_NE(grid, nullptr);
    auto second = MakeGrid(fc.format, 5, 4, values);
    Bands bands({grid.get(), second.get()}, {});
    const double positions[][2] = {{0.25, 0.5}, {1.75, 2.125}, {2.5, 3.75}, {3.0, 4.0}, {0.0, 0.0}};
    for (const auto& p : positions) {
        const double expected = Plane(fc.base, p[0], p[1]);
        EXPECT_EQ(grid->GetBRasampleValue(p[0], p[1], false), expected) << p[0] << ", " << p[1];
        EXPECT_EQ(grid->GetBRasampleValue(p[0], p[1], true), expected);
        bands.Bilinear(p[0], p[1]);
        EXPECT_EQ(bands.out[0], expected);
        EXPECT_EQ(bands.out[1], expected);
        EXPECT_EQ(bands.out[2], 0.0);
        EXPECT_EQ(bands.out[3], 255.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, PlaneTest,
    ::testing::Values(FormatCase{RDF_UInt8, 200}, FormatCase{RDF_Int16, -30000}, FormatCase{RDF_UInt16, 65000},
                      FormatCase{RDF_Float32, 0.5}, FormatCase{RDF_Int32, -2000000000},
                      FormatCase{RDF_UInt32, 4000000000.0}, FormatCase{RDF_Int64, -1099511627776.0},
                      FormatCase{RDF_Float64, 1000000.25}));

// ---------------------------------------------------------------- multi-band samplers

TEST(MultiBandSampler, NeighbourIsInvalidOnlyWhenEveryBandIsNodata)
{
    // Cell (0,0) is nodata in both bands; cell (0,1) only in band 1.
    auto b1 = MakeGrid(RDF_Float32, 2, 2, {0, 0, 30, 60});
    auto b2 = MakeGrid(RDF_Float32, 2, 2, {0, 9, 3, 6});
    Bands bands({b1.get(), b2.get()}, {0.0, 0.0});
    bands.Bilinear(0.5, 0.5);
    EXPECT_DOUBLE_EQ(bands.out[0], 30.0); // (0 + 30 + 60) / 3
    EXPECT_DOUBLE_EQ(bands.out[1], 6.0);  // (9 + 3 + 6) / 3
    EXPECT_EQ(bands.out[2], 0.0);
    EXPECT_EQ(bands.out[3], 255.0);
}

TEST(MultiBandSampler, AllNodataIsTransparent)
{
    auto b1 = MakeGrid(RDF_UInt8, 2, 2, {7, 7, 7, 7});
    Bands bands({b1.get()}, {7.0});
    bands.Bilinear(0.5, 0.5);
    EXPECT_EQ(bands.out, (std::array<double, 4>{0, 0, 0, 0}));
    bands.Nearest(0.5, 0.5);
    EXPECT_EQ(bands.out, (std::array<double, 4>{0, 0, 0, 0}));
    // Ignoring nodata, the same cells are plain values.
    bands.Bilinear(0.5, 0.5, true);
    EXPECT_EQ(bands.out, (std::array<double, 4>{7, 0, 0, 255}));
}

TEST(MultiBandSampler, ToleranceIsStrict)
{
    auto b1 = MakeGrid(RDF_Float64, 1, 1, {0.5});
    Bands bands({b1.get()}, {0.0});
    bands.Bilinear(0, 0, false, 0.5);
    EXPECT_EQ(bands.out[3], 255.0);
    bands.Bilinear(0, 0, false, 0.6);
    EXPECT_EQ(bands.out[3], 0.0);
}

TEST(MultiBandSampler, BandsWithoutANodataEntryNeverMakeACellNodata)
{
    auto b1 = MakeGrid(RDF_Int32, 1, 1, {-1});
    auto b2 = MakeGrid(RDF_Int32, 1, 1, {5});
    Bands onlyFirst({b1.get(), b2.get()}, {-1.0}); // band 2 has none: band 1 decides
    onlyFirst.Bilinear(0, 0);
    EXPECT_EQ(onlyFirst.out[3], 0.0);
    Bands none({b1.get(), b2.get()}, {});
    none.Bilinear(0, 0);
    EXPECT_EQ(none.out, (std::array<double, 4>{-1, 5, 0, 255}));
}

TEST(MultiBandSampler, FourthBandIsTheAlpha)
{
    auto c = MakeGrid(RDF_UInt8, 2, 2, {1, 1, 1, 1});
    auto alpha = MakeGrid(RDF_UInt8, 2, 2, {0, 100, 200, 255});
    Bands bands({c.get(), c.get(), c.get(), alpha.get()}, {});
    bands.Bilinear(0.5, 0.5);
    EXPECT_DOUBLE_EQ(bands.out[3], 138.75);
    bands.Nearest(0.5, 0.5); // rounds half up to (1, 1)
    EXPECT_EQ(bands.out[3], 255.0);
    bands.Nearest(0.49, 0.5);
    EXPECT_EQ(bands.out[3], 100.0);
}

TEST(MultiBandSampler, NullGridLeavesZeroAndIsNotSampled)
{
    auto b2 = MakeGrid(RDF_Float32, 2, 2, {4, 4, 8, 8});
    Bands bands({nullptr, b2.get()}, {0.0, -1.0});
    bands.Bilinear(0.5, 0.5);
    EXPECT_EQ(bands.out, (std::array<double, 4>{0, 6, 0, 255}));
}

TEST(MultiBandSampler, GridsOfDifferentSizesAreReadWithinTheSmallest)
{
    auto big = MakeGrid(RDF_Float64, 4, 3, {0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23});
    auto small = MakeGrid(RDF_Float64, 2, 2, {0, 1, 10, 11});
    Bands bands({big.get(), small.get()}, {});
    bands.Bilinear(2.0, 3.0); // clamped to (1, 1) of the common 2 x 2 extent
    EXPECT_EQ(bands.out[0], 11.0);
    EXPECT_EQ(bands.out[1], 11.0);
}

struct NearestCase {
    double row, col, expected;
};

class NearestCellTest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(NearestCellTest, RoundsHalfUpAndClamps)
{
    // Plane 10 r + c on 3 x 3.
    auto grid = MakeGrid(RDF_Int16, 3, 3, {0, 1, 2, 10, 11, 12, 20, 21, 22});
    Bands bands({grid.get()}, {kNoData});
    bands.Nearest(GetParam().row, GetParam().col);
    EXPECT_EQ(bands.out[0], GetParam().expected);
    EXPECT_EQ(bands.out[3], 255.0);
}

INSTANTIATE_TEST_SUITE_P(Positions, NearestCellTest,
                         ::testing::Values(NearestCase{0.5, 0.49, 10}, NearestCase{1.49, 1.5, 12},
                                           NearestCase{-3, 7, 2}, NearestCase{2.6, -0.6, 20},
                                           NearestCase{1.0, 1.0, 11}));

// ---------------------------------------------------------------- storing samples

struct StoreCase {
    enumRasterDataFromat format;
    double input;
    double expected;
};

class SetValueTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(SetValueTest, TruncatesSaturatesAndZeroesNan)
{
    auto grid = MakeGrid(GetParam().format, 1, 1);
    grid->SetValue(0LL, GetParam().input);
    const double stored = grid->GetValue(0, 0);
    if (std::isnan(GetParam().expected)) {
        EXPECT_TRUE(std::isnan(stored));
    } else {
        EXPECT_EQ(stored, GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SetValueTest,
    ::testing::Values(StoreCase{RDF_UInt8, 300, 255}, StoreCase{RDF_UInt8, -5, 0}, StoreCase{RDF_UInt8, 7.9, 7},
                      StoreCase{RDF_UInt8, kNaN, 0}, StoreCase{RDF_Int16, 40000, 32767},
                      StoreCase{RDF_Int16, -40000, -32768}, StoreCase{RDF_Int16, -2.7, -2},
                      StoreCase{RDF_UInt16, 70000, 65535}, StoreCase{RDF_Int32, 3e9, 2147483647},
                      StoreCase{RDF_Int32, -3e9, -2147483648.0}, StoreCase{RDF_Int32, kNaN, 0},
                      StoreCase{RDF_UInt32, 5e9, 4294967295.0}, StoreCase{RDF_UInt32, 4294967295.0, 4294967295.0},
                      StoreCase{RDF_UInt32, -1, 0}, StoreCase{RDF_Int64, -1e19, -9223372036854775808.0},
                      StoreCase{RDF_Int64, kNaN, 0},
                      StoreCase{RDF_Float32, 1e39, std::numeric_limits<double>::infinity()},
                      StoreCase{RDF_Float32, 0.1, static_cast<double>(0.1f)}, StoreCase{RDF_Float32, kNaN, kNaN},
                      StoreCase{RDF_Float64, 0.1, 0.1}, StoreCase{RDF_Float64, kNaN, kNaN}));

TEST(SetValueLimits, Int64SaturatesToItsExactMaximum)
{
    auto grid = MakeGrid(RDF_Int64, 1, 1);
    grid->SetValue(0LL, 1e19);
    std::int64_t raw = 0;
    std::memcpy(&raw, grid->GetData(), sizeof raw);
    EXPECT_EQ(raw, std::numeric_limits<std::int64_t>::max());
}

TEST(SetValueLimits, IndicesOutsideTheGridAreIgnored)
{
    auto grid = MakeGrid(RDF_Float32, 3, 2);
    grid->SetValue(-1LL, 1.0);
    grid->SetValue(6LL, 1.0);
    grid->SetValue(0, 3, 1.0); // column past the row end must not wrap into row 1
    grid->SetValue(2, 0, 1.0);
    grid->SetValue(1, 2, 4.0);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(grid->GetValue(r, c), (r == 1 && c == 2) ? 4.0 : 0.0);
    EXPECT_EQ(grid->GetValue(5, 0), 0.0);
}

TEST(TerrainBuffer, ImpossibleSizesLeaveNoBuffer)
{
    EXPECT_EQ(MakeGrid(RDF_Float64, INT_MAX, INT_MAX), nullptr); // size product overflows
    EXPECT_EQ(MakeGrid(RDF_Float64, 0, 5), nullptr);
    EXPECT_EQ(MakeGrid(RDF_None, 2, 2), nullptr);
    auto grid = MakeGrid(RDF_Int16, 4, 4, {1, 2});
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->GetDataBytes(), 32u);
    grid->SetWidth(1000); // the buffer no longer fits and goes
    EXPECT_EQ(grid->GetData(), nullptr);
    EXPECT_EQ(grid->GetValue(0, 999), 0.0);
    grid->SetValue(0, 999, 1.0);
}

// ---------------------------------------------------------------- text

struct SplitCase {
    const char* text;
    const char* separators;
    bool keepEmpty;
    std::vector<std::string> pieces;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, Pieces)
{
    const SplitCase& c = GetParam();
    KRArray<KRString> pieces;
    pieces.Add("stale");
    const int count = KRString(c.text).Split(pieces, c.separators, c.keepEmpty);
    ASSERT_EQ(count, static_cast<int>(c.pieces.size()));
    ASSERT_EQ(pieces.GetSize(), count);
    for (int i = 0; i < count; ++i)
        EXPECT_STREQ(pieces[i].Cstr(), c.pieces[static_cast<size_t>(i)].c_str()) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Separators, SplitTest,
    ::testing::Values(SplitCase{"10.5\n0\n0\n-10.5\n100\n200\n", "\r\n", false, {"10.5", "0", "0", "-10.5", "100", "200"}},
                      SplitCase{"1\r\n2\r\n\r\n3", "\r\n", false, {"1", "2", "3"}},
                      SplitCase{"a,,b", ",", true, {"a", "", "b"}}, SplitCase{",a,", ",", true, {"", "a", ""}},
                      SplitCase{"", ",", true, {""}}, SplitCase{"", ",", false, {}},
                      SplitCase{"a b", "", false, {"a b"}}));

TEST(StringText, CompareNoCaseTrimAndAppend)
{
    EXPECT_EQ(KRString("GTiff").CompareNoCase("gtIFF"), 0);
    EXPECT_LT(KRString("abc").CompareNoCase("ABD"), 0);
    EXPECT_GT(KRString("b").CompareNoCase("A"), 0);
    EXPECT_GT(KRString("ab").CompareNoCase("a"), 0);
    EXPECT_EQ(KRString().CompareNoCase(nullptr), 0);

    EXPECT_STREQ(KRString("\"x y\"").Trim('"').Cstr(), "x y");
    EXPECT_STREQ(KRString("\"\"").Trim('"').Cstr(), "");
    EXPECT_STREQ(KRString("\t x \r\n").TrimLeft().Cstr(), "x \r\n");
    EXPECT_STREQ(KRString("\t x \r\n\v\f").TrimRight().Cstr(), "\t x");

    KRString s;
    ASSERT_NE(s.Cstr(), nullptr);
    ASSERT_NE(static_cast<const char*>(s), nullptr);
    s.Append("a\0b", 3).Append(nullptr, 4).Append("zz", 0);
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(std::memcmp(s.Cstr(), "a\0b", 3), 0);
}

// ---------------------------------------------------------------- paths

struct PathCase {
    const char* path;
    const char* ext;
    const char* changed; //!< ChangeExt(path, ".prj")
    const char* dir;
};

class PathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathTest, ExtensionAndFolder)
{
    const PathCase& c = GetParam();
    EXPECT_STREQ(KRFile::GetExt(c.path).Cstr(), c.ext);
    EXPECT_STREQ(KRFile::ChangeExt(c.path, ".prj").Cstr(), c.changed);
    EXPECT_STREQ(KRFile::GetDir(c.path).Cstr(), c.dir);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathTest,
                         ::testing::Values(PathCase{"/a/b/c.tif", ".tif", "/a/b/c.prj", "/a/b"},
                                           PathCase{"c.tar.gz", ".gz", "c.tar.prj", ""},
                                           PathCase{"/a.b/c", "", "/a.b/c.prj", "/a.b"},
                                           PathCase{".hidden", "", ".hidden.prj", ""},
                                           PathCase{"x/.hidden.tfw", ".tfw", "x/.hidden.prj", "x"},
                                           PathCase{"/c.tif", ".tif", "/c.prj", "/"},
                                           PathCase{"a//b.TIF", ".TIF", "a//b.prj", "a"}));

class FileSystemTest : public ::testing::Test {
protected:
    krtest::TempDir m_dir;
};

TEST_F(FileSystemTest, MkDirExCreatesParentsAndIsExistSeesThem)
{
    const std::string nested = m_dir.File("a/b/c");
    EXPECT_FALSE(KRFile::IsExist(nested.c_str()));
    EXPECT_TRUE(KRFile::MkDirEx(nested.c_str()));
    EXPECT_TRUE(KRFile::IsExist(nested.c_str()));
    EXPECT_TRUE(KRFile::MkDirEx(nested.c_str())); // already there
    krtest::WriteText(m_dir.File("file"), "x");
    EXPECT_TRUE(KRFile::IsExist(m_dir.File("file").c_str()));
    EXPECT_FALSE(KRFile::MkDirEx(m_dir.File("file/sub").c_str()));
    EXPECT_FALSE(KRFile::MkDirEx(""));
    EXPECT_FALSE(KRFile::IsExist(""));
}

TEST_F(FileSystemTest, SetCurrentPath)
{
    const std::filesystem::path before = std::filesystem::current_path();
    EXPECT_FALSE(KRFile::SetCurrentPath(""));
    EXPECT_FALSE(KRFile::SetCurrentPath(m_dir.File("missing").c_str()));
    ASSERT_TRUE(KRFile::SetCurrentPath(m_dir.Path().c_str()));
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), m_dir.Path()));
    std::filesystem::current_path(before);
}

TEST(ModulePath, FindsTheLoadedCommonLibrary)
{
    const KRString folder = KRFile::GetModulePath("Common");
    ASSERT_FALSE(folder.IsEmpty());
    EXPECT_EQ(std::string(folder.Cstr()).back(), '/');
    EXPECT_TRUE(std::filesystem::equivalent(folder.Cstr(), KR_MODULE_DIR));
    EXPECT_TRUE(KRFile::GetModulePath("Comm").IsEmpty());
    EXPECT_TRUE(KRFile::GetModulePath("NoSuchModule").IsEmpty());
    EXPECT_TRUE(KRFile::GetModulePath("").IsEmpty());
}

// ---------------------------------------------------------------- accessor base

namespace {

class TestAccessor : public KRRasterDataAccessor {
public:
    bool OpenForRead(const KRString& path) override
    {
        m_opened = path.Cstr();
        return true;
    }
    void SetSource(const KRRect2d& bounds, double resX, double resY)
    {
        m_srcBounds.SetGeoBounds(bounds);
        m_dResX = resX;
        m_dResY = resY;
    }
    std::array<int, 4> Order() { return {GetBindOrder()[0], GetBindOrder()[1], GetBindOrder()[2], GetBindOrder()[3]}; }
    std::string m_opened;
};

} // namespace

struct OrderCase {
    const char* text;
    std::array<int, 4> expected;
};

class BindsOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(BindsOrderTest, ReadsFourIntegersOrKeepsTheOrder)
{
    TestAccessor accessor;
    accessor.SetBindsOrder(GetParam().text);
    EXPECT_EQ(accessor.Order(), GetParam().expected) << '"' << GetParam().text << '"';
}

constexpr std::array<int, 4> kDefaultOrder{2, 1, 0, 3};

INSTANTIATE_TEST_SUITE_P(
    Texts, BindsOrderTest,
    ::testing::Values(OrderCase{"3,2,1,0", {3, 2, 1, 0}}, OrderCase{" 0 , 1,2 ,3 ", {0, 1, 2, 3}},
                      OrderCase{"-1,0,+1,2", {-1, 0, 1, 2}}, OrderCase{"1,2,3", kDefaultOrder},
                      OrderCase{"1,2,3,0,1", kDefaultOrder}, OrderCase{"a,b,c,d", kDefaultOrder},
                      OrderCase{"1,,2,3", kDefaultOrder}, OrderCase{"", kDefaultOrder},
                      OrderCase{"1 2 3 0", kDefaultOrder}, OrderCase{"1,2,3,0x", kDefaultOrder},
                      OrderCase{"99999999999,1,2,3", kDefaultOrder}));

TEST(PixelBounds, HandWorkedWindow)
{
    // Source 100..200 both ways, 10 units per column, 5 per row.
    TestAccessor accessor;
    accessor.SetSource(KRRect2d(100, 200, 200, 100), 10, 5);
    // Columns 1.5 .. 4.1 -> 1 .. 5; rows 4 .. 12.4 -> 4 .. 13.
    KRRect2i px = accessor.ComputePixelBounds(KRRect2d(115, 162, 141, 120));
    EXPECT_EQ(px.left, 1);
    EXPECT_EQ(px.right, 5);
    EXPECT_EQ(px.bottom, 4);
    EXPECT_EQ(px.top, 13);
    // On pixel lines exactly: no widening, and rectangles outside go negative.
    px = accessor.ComputePixelBounds(KRRect2d(80, 150, 140, 90));
    EXPECT_EQ(px.left, -2);
    EXPECT_EQ(px.right, 4);
    EXPECT_EQ(px.bottom, -2);
    EXPECT_EQ(px.top, 10);
}

TEST(PixelBounds, DegenerateInputSaturates)
{
    TestAccessor accessor;
    accessor.SetSource(KRRect2d(0, 10, 10, 0), 0.0, kNaN);
    KRRect2i px = accessor.ComputePixelBounds(KRRect2d(-5, 5, 5, 1));
    EXPECT_EQ(px.left, INT_MIN);
    EXPECT_EQ(px.right, INT_MAX);
    EXPECT_EQ(px.bottom, 0); // NaN resolution
    EXPECT_EQ(px.top, 0);
    accessor.SetSource(KRRect2d(0, 10, 10, 0), 1e-300, 1.0);
    px = accessor.ComputePixelBounds(KRRect2d(kNaN, 1e300, 5, -1e300));
    EXPECT_EQ(px.left, 0);
    EXPECT_EQ(px.right, INT_MAX);
    EXPECT_EQ(px.top, INT_MAX);
    EXPECT_EQ(px.bottom, INT_MIN);
}

TEST(AccessorDefaults, OpenGoesThroughOpenForReadAndFetchesDeliverNothing)
{
    TestAccessor accessor;
    EXPECT_EQ(accessor.GetPluginType(), KRPlugin::Type_RasterDataAccessor);
    EXPECT_TRUE(accessor.IsRasterDataAccessorPlugin());
    EXPECT_TRUE(accessor.Open("/x/y.tif"));
    EXPECT_EQ(accessor.m_opened, "/x/y.tif");
    bool hasNoData = true;
    EXPECT_EQ(accessor.GetNoDataValue(hasNoData), -9999.0);
    EXPECT_FALSE(hasNoData);
    KRImageData caller;
    KRImageData* image = &caller;
    EXPECT_EQ(accessor.FetchImageData(image, 0, 0, 0), GetchResult_None);
    EXPECT_EQ(image, nullptr);
}

// ---------------------------------------------------------------- geometry

struct IntersectCase {
    KRRect2d other;
    double tolerance;
    bool expected;
};

class IntersectTest : public ::testing::TestWithParam<IntersectCase> {};

TEST_P(IntersectTest, AgainstTheUnitSquare)
{
    const KRRect2d unit(0, 1, 1, 0);
    EXPECT_EQ(unit.IsIntersect(GetParam().other, GetParam().tolerance), GetParam().expected);
    EXPECT_EQ(GetParam().other.IsIntersect(unit, GetParam().tolerance), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntersectTest,
    ::testing::Values(IntersectCase{{0.5, 2, 2, 0.5}, 0, true}, IntersectCase{{1, 1, 2, 0}, 0, true},
                      IntersectCase{{-1, 2, 0, 1}, 0, true}, IntersectCase{{1.5, 1, 2, 0}, 0.4, false},
                      IntersectCase{{1.5, 1, 2, 0}, 0.5, true}, IntersectCase{{0, -0.5, 1, -1}, 0.25, false},
                      IntersectCase{{kNaN, 1, 1, 0}, 0, false}, IntersectCase{{0, 1, 1, 0}, kNaN, false}));

TEST(RectGeometry, UnionSkipsNanAndAbsSizesSaturate)
{
    KRRect2d box(0, 1, 1, 0);
    box.Union(KRPoint2d(-2, kNaN));
    box.Union(KRPoint2d(kNaN, 5));
    EXPECT_EQ(box.left, -2);
    EXPECT_EQ(box.right, 1);
    EXPECT_EQ(box.top, 5);
    EXPECT_EQ(box.bottom, 0);
    EXPECT_EQ(box.Width(), 3);
    EXPECT_EQ(KRRect2d(5, 0, 2, 4).Height(), -4);

    EXPECT_EQ(KRRect2i(3, -2, -4, 6).AbsWidth(), 7);
    EXPECT_EQ(KRRect2i(3, -2, -4, 6).AbsHeight(), 8);
    EXPECT_EQ(KRRect2i(INT_MIN, INT_MAX, INT_MAX, INT_MIN).AbsWidth(), INT_MAX);

    KRGeoBBox bbox(KRRect2d(-200, 95, 181, -91));
    bbox.ClampToLatLonRange();
    EXPECT_EQ(bbox.GetGeoBounds().left, -180);
    EXPECT_EQ(bbox.GetGeoBounds().top, 90);
    EXPECT_EQ(bbox.GetGeoBounds().right, 180);
    EXPECT_EQ(bbox.GetGeoBounds().bottom, -90);
}

// ---------------------------------------------------------------- images and colours

struct PixelCase {
    enumPixelFormat format;
    int bytes;
};

class ImageSizeTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(ImageSizeTest, RowsAndBufferFollowThePixelSize)
{
    KRImageData image;
    image.m_nWidth = 5;
    image.m_nHeight = 3;
    image.SetPixelFormat(GetParam().format);
    EXPECT_EQ(image.GetPixelSize(), GetParam().bytes);
    EXPECT_EQ(image.GetWidthBytes(), 5 * GetParam().bytes);
    ASSERT_EQ(image.CreateData(), GetParam().bytes > 0);
    EXPECT_EQ(image.GetDataBytes(), static_cast<size_t>(15 * GetParam().bytes));
    for (size_t i = 0; i < image.GetDataBytes(); ++i)
        ASSERT_EQ(image.m_pData[i], 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, ImageSizeTest,
                         ::testing::Values(PixelCase{PF_R5G6B5, 2}, PixelCase{PF_R8G8B8, 3},
                                           PixelCase{PF_A8R8G8B8, 4}, PixelCase{PF_X8R8G8B8, 4},
                                           PixelCase{PF_L8, 1}, PixelCase{PF_L16, 2}, PixelCase{PF_G32R32F, 8},
                                           PixelCase{PF_R32F, 4}, PixelCase{PF_R64F, 8},
                                           PixelCase{PF_Unknown, 0}));

TEST(PixelBlocks, SizesAndImpossibleRequests)
{
    KRPixelDataMultiBand block(3, 2, 4, RDF_UInt16, false, 0.0, 1.0);
    ASSERT_NE(block.GetData(), nullptr);
    EXPECT_EQ(block.GetDataBytes(), 3u * 2u * 4u * 2u);
    EXPECT_EQ(KRPixelDataMultiBand::GetPerBandValueBytes1(RDF_Int64), 8);
    KRPixelDataMultiBand huge(INT_MAX, INT_MAX, INT_MAX, RDF_Float64, false, 0.0, 1.0);
    EXPECT_EQ(huge.GetData(), nullptr);
    EXPECT_EQ(huge.GetWidth(), 0);
    EXPECT_EQ(huge.GetDataBytes(), 0u);
    KRPixelDataMultiBand none(3, 2, 1, RDF_None, false, 0.0, 1.0);
    EXPECT_EQ(none.GetData(), nullptr);
}

TEST(Colours, DictionaryLooksUpTheGreatestKeyAtOrBelow)
{
    KRColorDictTable table;
    EXPECT_EQ(table.GetColor(1.0), 0u);
    table.AddColor(10, 0xA);
    table.AddColor(0, 0xB);
    table.AddColor(5, 0xC);
    table.AddColor(5, 0xD); // replaces
    EXPECT_EQ(table.GetCount(), 3);
    EXPECT_EQ(table.GetColor(-1), 0xBu);
    EXPECT_EQ(table.GetColor(0), 0xBu);
    EXPECT_EQ(table.GetColor(7), 0xDu);
    EXPECT_EQ(table.GetColor(10), 0xAu);
    EXPECT_EQ(table.GetColor(1e9), 0xAu);

    KRColor3 colour;
    colour.SetValue4i(255, 0, 51, 102);
    EXPECT_FLOAT_EQ(colour.r, 1.0f);
    EXPECT_FLOAT_EQ(colour.g, 0.0f);
    EXPECT_FLOAT_EQ(colour.b, 0.2f);
    EXPECT_FLOAT_EQ(colour.a, 0.4f);
}
