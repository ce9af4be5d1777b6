// NSDTF-DEM elevation text files: the header, the value grid and its divisor
// rules, and terrain served from the grid in degrees and in metres.
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using KRC::KRRect2d;
using KRC::KRTerrainData;
using krtest::ExpectSamples;
using krtest::MakeGrid;
using krtest::PlaneOverBox;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

constexpr KRC::GetchResult kNone = KRC::GetchResult_None;
constexpr KRC::GetchResult kDelivered = KRC::GetchResult_Delivered;
const auto kName = [](const auto& info) { return std::string(info.param.name); };

//! A file of the default header's tokens (a grid in degrees over lon 100..102.5,
//! 6 columns of 0.5, and lat 39..40, 5 rows of 0.25) with some changed.
enum Field { kMagic, kUnit = 2, kOrientation, kWest = 5, kNorth, kDx, kDy, kRows, kCols, kDivisor };
std::string Dem(const std::vector<std::pair<Field, std::string>>& changes, const std::string& values)
{
    std::vector<std::string> tokens = {"NSDTF-DEM", "1.0", "D", "0", "0", "100", "40", "0.5", "0.25", "5", "6", "1"};
    for (const auto& change : changes)
        tokens[change.first] = change.second;
    std::string text;
    for (const std::string& t : tokens)
        text += t + "\n";
    return text + values;
}

//! Values of f(row, column), row after row.
template <class F> std::string Values(int rows, int cols, F f)
{
    std::ostringstream out;
    out.precision(17);
    for (int i = 0; i < rows * cols; ++i)
        out << f(i / cols, i % cols) << ((i + 1) % cols ? ' ' : '\n');
    return out.str();
}
const std::string kZeros = Values(5, 6, [](int, int) { return 0; });

class NsdtfTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text)
    {
        krtest::WriteText(m_dir.File(name), text);
        return m_dir.File(name);
    }
    void ReadInfo(const std::string& path) { Probe::ReadChinaDemInfo(m_p, KRC::KRString(path.c_str())); }
    const KRTerrainData* ReadData(const std::string& path)
    {
        Probe::ReadChinaDemData(m_p, KRC::KRString(path.c_str()));
        return Probe::m_pDemData(m_p);
    }
    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

// Header and values: the unit decides the coordinate type and, when K, keeps
// values whatever the divisor; a non-zero orientation lists rows from the south.
struct ReadCase {
    const char *name, *unit, *orientation, *divisor;
    double value;
    int projType; //!< -1: not checked
    bool northFirst;
    float expected;
};
class NsdtfRead : public NsdtfTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(NsdtfRead, HeaderAndDivisor)
{
    const ReadCase& tc = GetParam();
    const std::string path =
        Write("a.dem", Dem({{kUnit, tc.unit}, {kOrientation, tc.orientation}, {kDivisor, tc.divisor}},
                           Values(5, 6, [&](int r, int c) { return r + c == 0 ? tc.value : 0.0; })));
    ReadInfo(path);
    EXPECT_TRUE(tc.projType < 0 || Probe::m_nProjType(m_p) == tc.projType) << Probe::m_nProjType(m_p);
    EXPECT_EQ(Probe::m_nWidth(m_p) * 10 + Probe::m_nHeight(m_p), 65u);
    const KRRect2d b = Probe::m_srcBounds(m_p).GetGeoBounds(); // the outer samples lie on the bounds
    EXPECT_EQ(std::vector<double>({b.left, b.top, b.right, b.bottom}), std::vector<double>({100, 40, 102.5, 39}));
    EXPECT_DOUBLE_EQ(Probe::m_dPixelSizeX(m_p), 2.5 / 6);
    EXPECT_DOUBLE_EQ(Probe::m_dPixelSizeY(m_p), tc.northFirst ? -0.2 : 0.2);
    EXPECT_EQ(m_p.IsDataReverse(), tc.northFirst);
    const KRTerrainData* grid = ReadData(path);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->GetDataFormat(), KRC::RDF_Float32);
    EXPECT_EQ(grid->GetValue(0, 0), tc.expected);
}

INSTANTIATE_TEST_SUITE_P(Nsdtf, NsdtfRead,
                         ::testing::Values(ReadCase{"Degrees", "D", "0", "1", 5, 1, true, 5},
                                           ReadCase{"Seconds", "s", "-1", "1", 5, 1, false, 5},
                                           ReadCase{"OrientationAtTolerance", "D", "1e-10", "1", 5, 1, false, 5},
                                           ReadCase{"MetresWithoutProjection", "M", "0", "1", 5, 0, true, 5},
                                           ReadCase{"KilometreUnitKeeps", "K", "0", "1000", 123.456, -1, true,
                                                    123.456f},
                                           ReadCase{"OtherUnitDivides", "M", "0", "1000", 123456, 0, true, 123.456f},
                                           ReadCase{"NoDataScaledByTen", "D", "0", "10", -9999, 1, true, -999.9f}),
                         kName);

// Bad headers (truncated, an overlong token, impossible or absurd counts, more
// cells than the file could hold): after a good file, a bad one leaves no band,
// no size and no coordinate type; opening fails and nothing can be fetched.
TEST_F(NsdtfTest, BadHeadersLeaveNothingUsable)
{
    std::vector<std::string> texts = {"NSDTF-DEM\n", "NSDTF-DEM 1.0 D 0 0 100 40 0.5 0.25 5 6"};
    for (const auto& change : std::vector<std::pair<Field, std::string>>{{kUnit, std::string(256, 'D')},
                                                                         {kWest, "1" + std::string(300, '0')},
                                                                         {kRows, "0"},
                                                                         {kCols, "-6"},
                                                                         {kCols, "abc"},
                                                                         {kRows, "2147483648"},
                                                                         {kRows, "1e300"},
                                                                         {kRows, "100000"},
                                                                         {kCols, "2000000000"},
                                                                         {kDx, "inf"}})
        texts.push_back(Dem({change}, kZeros));
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 60));
        ReadInfo(Write("good.dem", Dem({}, kZeros)));
        ASSERT_EQ(Probe::m_nBandCount(m_p), 1);
        ReadInfo(Write("bad.dem", text));
        EXPECT_EQ(Probe::m_nBandCount(m_p) + Probe::m_nWidth(m_p) + Probe::m_nHeight(m_p) + Probe::m_nProjType(m_p), 0);
        EXPECT_FALSE(m_p.OpenForRead(Write("BAD.DEM", text).c_str()));
        EXPECT_EQ(krtest::FetchTile(m_p, 0, 0, 0), nullptr);
    }
}

// The host may run under a locale whose decimal mark is a comma.
TEST_F(NsdtfTest, NumbersIgnoreProcessLocale)
{
    // Compiled into the test's folder: few systems have one installed.
    const std::string command = "localedef -i de_DE -f UTF-8 '" + m_dir.File("de_DE.UTF-8") + "' >/dev/null 2>&1";
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    setenv("LOCPATH", m_dir.Path().c_str(), 1);
    const bool chosen = std::system(command.c_str()) == 0 && std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    if (!chosen)
        GTEST_SKIP() << "no locale with a decimal comma available";
    const bool comma = std::string(std::localeconv()->decimal_point) == ",";
    ReadInfo(Write("a.dem", Dem({}, kZeros)));
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_TRUE(comma);
    EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), 0.5);
    EXPECT_DOUBLE_EQ(Probe::m_srcBounds(m_p).GetGeoBounds().bottom, 39.0);
}

// Values run in file order and wrap across lines as they like; the range counts
// -9999 like any value; a short list leaves the remaining cells as nodata.
TEST_F(NsdtfTest, ValueOrderRangeAndShortList)
{
    const struct {
        const char* values;
        std::vector<double> grid;
        double min, max;
    } cases[] = {{"1 2\n-9999 4\t5 6", {1, 2, -9999, 4, 5, 6}, -9999, 6},
                 {"7\n8 9\n10", {7, 8, 9, 10, -9999, -9999}, 7, 10}};
    for (const auto& tc : cases) {
        const KRTerrainData* grid = ReadData(Write("r.dem", Dem({{kRows, "2"}, {kCols, "3"}}, tc.values)));
        ASSERT_NE(grid, nullptr);
        ASSERT_EQ(grid->GetWidth() * 10 + grid->GetHeight(), 32);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(grid->GetValue(i / 3, i % 3), tc.grid[i]) << tc.values << " at " << i;
        EXPECT_TRUE(Probe::m_bMinMaxValid(m_p));
        EXPECT_EQ(std::make_pair(Probe::m_dMinValue(m_p), Probe::m_dMaxValue(m_p)), std::make_pair(tc.min, tc.max));
    }
}

// Terrain from the default grid in degrees, its values on a plane. All
// coordinates are multiples of powers of two: the float grid holds the plane
// exactly and bilinear sampling reproduces it.
const KRRect2d kGridBox(100, 40, 102.5, 39);
double Plane(double lon, double lat)
{
    return 2 * lon + 4 * lat + 1;
}

//! Rows from the north or the south; with a -9999 cell at lon 101.5, lat 39.5 when `hole`.
std::string PlaneDem(bool northFirst, bool hole = false)
{
    return Dem({{kOrientation, northFirst ? "0" : "1"}}, Values(5, 6, [&](int r, int c) {
                   const double lat = northFirst ? 40 - r * 0.25 : 39 + r * 0.25;
                   return hole && c == 3 && lat == 39.5 ? -9999 : Plane(100 + c * 0.5, lat);
               }));
}

// Rows listed from the north (orientation 0) or the south, flipped or not:
// inside, then reaching past every edge, then past the east and south edges the
// samples follow the plane, mirrored when flipped, and stay 0 beyond; wholly
// outside nothing is delivered.
TEST_F(NsdtfTest, GeographicFollowsPlaneAndStaysZeroBeyond)
{
    for (int k = 0; k < 4; ++k) {
        const bool northFirst = k & 1, flip = k & 2;
        SCOPED_TRACE(k);
        ASSERT_TRUE(m_p.OpenForRead(Write("plane" + std::to_string(k) + ".dem", PlaneDem(northFirst)).c_str()));
        const auto plane = [&](double lon, double lat) { return Plane(lon, flip ? 79 - lat : lat); };
        auto dst = MakeGrid(17, 17);
        for (const KRRect2d& rect : {KRRect2d(100.25, 39.875, 102.25, 39.125), KRRect2d(99, 40.5, 103.5, 38.5),
                                     KRRect2d(101, 39.5, 105, 37.5)}) {
            ASSERT_EQ(m_p.FetchTerrainData(dst.get(), rect, flip), kDelivered);
            ExpectSamples(*dst, rect, 1e-9, PlaneOverBox(kGridBox, 0, plane));
        }
        EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(110, 40, 111, 39), false), kNone);
    }
}

// Upper-case extension, lower-case magic; tile (398, 71) of level 8 (lon
// 99.84375..100.546875, lat 39.375..40.078125) reaches past the west and north;
// the first sample past an edge is clamped onto it. A sample on the -9999 cell
// comes out as 0.
TEST_F(NsdtfTest, TileAndNoDataCell)
{
    ASSERT_TRUE(m_p.OpenForRead(Write("TILE.DEM", "nsdtf-dem" + PlaneDem(true, true).substr(9)).c_str()));
    auto tile = krtest::FetchTile(m_p, 398, 71, 8);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->GetWidth() * 100 + tile->GetHeight(), 3333);
    EXPECT_EQ(tile->GetDataFormat(), KRC::RDF_Float32);
    EXPECT_GT(ExpectSamples(*tile, krtest::TileRect(398, 71, 8), 1e-4, PlaneOverBox(kGridBox, 0.703125 / 32, Plane)),
              100);
    auto dst = MakeGrid(6, 5); // one sample per cell
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), kGridBox, false), kDelivered);
    EXPECT_EQ(dst->GetValue(2, 3), 0.0);
    EXPECT_EQ(dst->GetValue(2, 2), Plane(101, 39.5));
}

// A grid in metres (UTM 33N) serves nothing until a coordinate system is imported.
TEST_F(NsdtfTest, MetricGridNeedsProjection)
{
    krtest::Projector utm(32633);
    ASSERT_TRUE(utm.Ok());
    const auto plane = [](double e, double n) { return (e - 500000) / 1000 + 2 * (n - 4480000) / 1000; };
    const std::string text =
        "NSDTF-DEM 1.0 M 0 0 500000 4500000 1000 1000 21 21 1\n" +
        Values(21, 21, [&](int r, int c) { return plane(500000 + c * 1000.0, 4500000 - r * 1000.0); });
    ASSERT_TRUE(m_p.OpenForRead(Write("utm.dem", text).c_str()));
    const KRC::KRPoint2d mid = utm.Inverse(510000, 4490000);
    const KRRect2d inside(mid.x - 0.05, mid.y + 0.04, mid.x + 0.05, mid.y - 0.04);
    auto dst = MakeGrid(11, 11);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), inside, false), kNone);
    EXPECT_EQ(krtest::FetchTile(m_p, 0, 0, 0), nullptr);

    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs"));
    const auto expected = PlaneOverBox(KRRect2d(500000, 4500000, 520000, 4480000), 1000, plane, &utm);
    for (const KRRect2d& rect : {inside, KRRect2d(mid.x - 0.3, mid.y + 0.2, mid.x - 0.05, mid.y + 0.05)}) {
        ASSERT_EQ(m_p.FetchTerrainData(dst.get(), rect, false), kDelivered);
        EXPECT_GT(ExpectSamples(*dst, rect, 1e-6, expected), 5);
    }
}

// Real CNSDTF grids (skipped when absent) use the newer keyword layout, which
// this reader must refuse rather than half read.
TEST_F(NsdtfTest, RealKeywordLayoutRefused)
{
    for (const std::string name : {"TEST1.GRD", "TEST2.GRD", "TEST3.GRD", "TEST4.GRD"}) {
        const std::string path = std::string(KR_REAL_DATA_DIR) + "/cnsdtfl/cgrd/" + name;
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "real data absent: " << path;
        ReadInfo(path);
        EXPECT_EQ(Probe::m_nBandCount(m_p), 0) << name;
        std::filesystem::copy_file(path, m_dir.File(name + ".dem"));
        EXPECT_FALSE(m_p.OpenForRead(m_dir.File(name + ".dem").c_str())) << name;
    }
}

} // namespace
